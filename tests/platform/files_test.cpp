// The program's own path, directory search, whole-file reads and writes,
// directories, and the thread's last error code.
#include "platform/files.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ostream>
#include <thread>

#include "platform/last_error.h"
#include "tests/support/scratch_directory.h"

namespace {

using testing_support::CScratchDirectory;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t Errno(int code) {
    return static_cast<std::uint32_t>(code);
}

// Restores the real executable path when a test is over.
class ModuleOverrideTest : public ::testing::Test {
protected:
    ~ModuleOverrideTest() override { platform::SetModuleFileNameForTesting(""); }
};

TEST_F(ModuleOverrideTest, OwnPathIsTheResolvedExecutable) {
    char* expected = ::realpath("/proc/self/exe", nullptr);
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(platform::GetModuleFileName(), expected);
    const std::string directory = platform::GetModuleDirectory();
    EXPECT_EQ(directory + std::string(expected).substr(directory.size()), expected);
    EXPECT_EQ(directory.back(), '/');
    EXPECT_EQ(std::string(expected).find('/', directory.size()), std::string::npos);
    std::free(expected);
}

TEST_F(ModuleOverrideTest, TestsMayPointItElsewhere) {
    platform::SetModuleFileNameForTesting("/scratch/unit/Kestrovan.exe");
    EXPECT_EQ(platform::GetModuleFileName(), "/scratch/unit/Kestrovan.exe");
    EXPECT_EQ(platform::GetModuleDirectory(), "/scratch/unit/");
    platform::SetModuleFileNameForTesting("");
    EXPECT_NE(platform::GetModuleFileName(), "/scratch/unit/Kestrovan.exe");
}

// --- Finding files by pattern ----------------------------------------------

struct PatternCase {
    const char* name;
    const char* pattern;
    bool matches;
};

void PrintTo(const PatternCase& row, std::ostream* out) {
    *out << '"' << row.name << "\" ~ \"" << row.pattern << '"';
}

class FilePatterns : public ::testing::TestWithParam<PatternCase> {};

TEST_P(FilePatterns, MatchLikeTheOriginalFileSystem) {
    const PatternCase& row = GetParam();
    CScratchDirectory directory;
    directory.WriteFile(row.name, "x");
    const std::optional<std::string> first = platform::FindFirstFile(directory.Path(), row.pattern);
    EXPECT_EQ(first.has_value(), row.matches);
    if (first) {
        EXPECT_EQ(*first, row.name);
    }
    EXPECT_EQ(platform::FindFiles(directory.Path(), row.pattern).size(), row.matches ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FilePatterns,
    ::testing::Values(PatternCase{"fw.s19", "*.s19", true}, PatternCase{"FW.S19", "*.s19", true},
                      PatternCase{"fw.s19", "*.S19", true}, PatternCase{"fw.s19x", "*.s19", false},
                      PatternCase{"fw.s1", "*.s19", false},
                      PatternCase{"fw_128K.s19", "*128k*.s19", true},
                      PatternCase{".s19", "*.s19", true}, PatternCase{"keys.key", "*.key", true},
                      PatternCase{"a.s19", "?.s19", true}, PatternCase{"ab.s19", "?.s19", false},
                      PatternCase{"\xC3\xA4.s19", "?.s19", true},  // one character of two bytes
                      PatternCase{"\xC3\xA4.s19", "??.s19", false},
                      PatternCase{"abc", "a*b*c", true}, PatternCase{"abc", "**", true},
                      PatternCase{"abc", "abc*", true}, PatternCase{"abc", "ab", false},
                      PatternCase{"abcabc", "*abc", true}, PatternCase{"abcab", "*abc", false},
                      PatternCase{"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab",
                                  "*a*a*a*a*a*a*a*a*a*c", false},
                      PatternCase{"x", "", false}));

class FileSearch : public ::testing::Test {
protected:
    FileSearch() {
        m_directory.WriteFile("b.s19", "1");
        m_directory.WriteFile("A.S19", "22");
        m_directory.WriteFile("c.txt", "333");
        m_directory.WriteFile("target.bin", "4444");
        m_directory.MakeDirectories("dir.s19");
        EXPECT_EQ(::symlink("target.bin", (m_directory / "link.s19").c_str()), 0);
        EXPECT_EQ(::symlink("nowhere", (m_directory / "dangling.s19").c_str()), 0);
        EXPECT_EQ(::mkfifo((m_directory / "pipe.s19").c_str(), 0600), 0);
    }

    // The entries in the order the directory lists them.
    std::vector<std::string> ListingOrder() const {
        std::vector<std::string> names;
        DIR* stream = ::opendir(m_directory.Path().c_str());
        while (const dirent* entry = stream != nullptr ? ::readdir(stream) : nullptr) {
            names.emplace_back(entry->d_name);
        }
        if (stream != nullptr) {
            ::closedir(stream);
        }
        return names;
    }

    CScratchDirectory m_directory;
};

TEST_F(FileSearch, ListsRegularFilesInDirectoryOrder) {
    std::vector<std::string> expected;
    for (const std::string& name : ListingOrder()) {
        if (name == "A.S19" || name == "b.s19" || name == "link.s19") {
            expected.push_back(name);
        }
    }
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(platform::FindFiles(m_directory.Path(), "*.s19"), expected);
    EXPECT_EQ(platform::FindFirstFile(m_directory.Path(), "*.s19"), expected.front());
}

TEST_F(FileSearch, LeavesOutDirectoriesPipesAndDanglingLinks) {
    for (const char* pattern : {"dir.s19", "pipe.s19", "dangling.s19", ".", ".."}) {
        EXPECT_TRUE(platform::FindFiles(m_directory.Path(), pattern).empty()) << pattern;
        EXPECT_FALSE(platform::FindFirstFile(m_directory.Path(), pattern)) << pattern;
    }
}

TEST_F(FileSearch, UnreadableDirectoryGivesNothing) {
    platform::SetLastError(0);
    EXPECT_TRUE(platform::FindFiles(m_directory / "missing", "*").empty());
    EXPECT_EQ(platform::GetLastError(), Errno(ENOENT));
    EXPECT_FALSE(platform::FindFirstFile(m_directory / "c.txt", "*"));
    EXPECT_EQ(platform::GetLastError(), Errno(ENOTDIR));
}

TEST_F(FileSearch, KindsOfEntries) {
    EXPECT_TRUE(platform::FileExists(m_directory / "c.txt"));
    EXPECT_TRUE(platform::FileExists(m_directory / "link.s19"));
    EXPECT_FALSE(platform::FileExists(m_directory / "dir.s19"));
    EXPECT_FALSE(platform::FileExists(m_directory / "pipe.s19"));
    EXPECT_FALSE(platform::FileExists(m_directory / "dangling.s19"));
    EXPECT_TRUE(platform::DirectoryExists(m_directory / "dir.s19"));
    EXPECT_FALSE(platform::DirectoryExists(m_directory / "c.txt"));
    EXPECT_FALSE(platform::DirectoryExists(m_directory / "missing"));
}

TEST_F(FileSearch, FileSizes) {
    EXPECT_EQ(platform::GetFileSize(m_directory / "c.txt"), 3u);
    EXPECT_EQ(platform::GetFileSize(m_directory / "link.s19"), 4u);
    EXPECT_EQ(platform::GetFileSize(m_directory / "missing"), std::nullopt);
    EXPECT_EQ(platform::GetLastError(), Errno(ENOENT));
    EXPECT_EQ(platform::GetFileSize(m_directory / "dir.s19"), std::nullopt);
    EXPECT_EQ(platform::GetLastError(), Errno(EISDIR));
}

// --- Reading and writing whole files ---------------------------------------

TEST_F(FileSearch, ReadsWholeFiles) {
    Bytes contents;
    ASSERT_TRUE(platform::ReadWholeFile(m_directory / "link.s19", contents));
    EXPECT_EQ(contents, (Bytes{'4', '4', '4', '4'}));

    const Bytes large(1 << 20, 0x5A);
    m_directory.WriteFile("large.bin", large);
    ASSERT_TRUE(platform::ReadWholeFile(m_directory / "large.bin", contents));
    EXPECT_EQ(contents, large);

    m_directory.WriteFile("empty.bin", "");
    ASSERT_TRUE(platform::ReadWholeFile(m_directory / "empty.bin", contents));
    EXPECT_TRUE(contents.empty());
}

struct UnreadableCase {
    const char* name;
    int error;
};

TEST_F(FileSearch, FailedReadLeavesContentsAlone) {
    // A pipe must fail at once instead of blocking the reader.
    for (const UnreadableCase& row :
         {UnreadableCase{"missing", ENOENT}, UnreadableCase{"dir.s19", EISDIR},
          UnreadableCase{"pipe.s19", EINVAL}, UnreadableCase{"dangling.s19", ENOENT}}) {
        Bytes contents = {1, 2, 3};
        EXPECT_FALSE(platform::ReadWholeFile(m_directory / row.name, contents)) << row.name;
        EXPECT_EQ(contents, (Bytes{1, 2, 3})) << row.name;
        EXPECT_EQ(platform::GetLastError(), Errno(row.error)) << row.name;
    }
}

TEST(FileWrite, WritesAndReplacesAtomically) {
    CScratchDirectory directory;
    const std::string path = directory / "KestrovanFlag.cfg";
    ASSERT_TRUE(platform::WriteFileAtomically(path, Bytes{1, 2, 3}));
    EXPECT_EQ(testing_support::ReadFileBytes(path), (Bytes{1, 2, 3}));
    ASSERT_TRUE(platform::WriteFileAtomically(path, Bytes{9}));
    EXPECT_EQ(testing_support::ReadFileBytes(path), (Bytes{9}));
    ASSERT_TRUE(platform::WriteFileAtomically(path, Bytes{}));
    EXPECT_EQ(platform::GetFileSize(path), 0u);
    EXPECT_FALSE(platform::FileExists(path + ".tmp"));
}

TEST(FileWrite, FailedRenameKeepsTheOldFileAndRemovesTheTemporary) {
    CScratchDirectory directory;
    // A directory in the way of the rename: the write itself succeeds first.
    const std::string path = directory.MakeDirectories("occupied");
    directory.WriteFile("occupied/inside", "keep");
    EXPECT_FALSE(platform::WriteFileAtomically(path, Bytes{1}));
    EXPECT_EQ(platform::GetLastError(), Errno(EISDIR));
    EXPECT_FALSE(platform::FileExists(path + ".tmp"));
    EXPECT_TRUE(platform::FileExists(directory / "occupied/inside"));
}

TEST(FileWrite, MissingDirectoryFails) {
    CScratchDirectory directory;
    EXPECT_FALSE(platform::WriteFileAtomically(directory / "missing/file", Bytes{1}));
    EXPECT_EQ(platform::GetLastError(), Errno(ENOENT));
}

TEST(FileWrite, CreatesOneDirectory) {
    CScratchDirectory directory;
    ASSERT_TRUE(platform::CreateDirectory(directory / "new"));
    EXPECT_TRUE(platform::DirectoryExists(directory / "new"));
    EXPECT_FALSE(platform::CreateDirectory(directory / "new"));
    EXPECT_EQ(platform::GetLastError(), Errno(EEXIST));
    EXPECT_FALSE(platform::CreateDirectory(directory / "a/b"));
    EXPECT_EQ(platform::GetLastError(), Errno(ENOENT));
}

// --- Last error -------------------------------------------------------------

TEST(LastError, BelongsToTheCallingThread) {
    platform::SetLastError(0);
    std::uint32_t otherThreadError = 0;
    std::thread other([&otherThreadError] {
        platform::SetLastError(0);
        Bytes contents;
        platform::ReadWholeFile("/nonexistent/kestrovan", contents);
        otherThreadError = platform::GetLastError();
    });
    other.join();
    EXPECT_EQ(otherThreadError, Errno(ENOENT));
    EXPECT_EQ(platform::GetLastError(), 0u);
}

}  // namespace
