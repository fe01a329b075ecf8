// The record-file store and the update flag: the exact bytes of the flag
// file, every way a damaged file is refused, the AppConfig directory for
// relative names, and writes that never leave a half-written file behind.
#include "firmware/record_file_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "firmware/crc32.h"
#include "firmware/update_flag.h"
#include "platform/files.h"
#include "tests/firmware/firmware_test_support.h"
#include "tests/support/scratch_directory.h"

namespace {

using testing_support::ReadFileBytes;

constexpr std::size_t kFlagFileBytes = 229;

void PutUint32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    for (int index = 0; index < 4; ++index) {
        bytes[offset + index] = static_cast<std::uint8_t>(value >> (8 * index));
    }
}

// The flag file as the layout describes it, built by hand.
std::vector<std::uint8_t> FlagFileBytes(std::uint8_t value, const char* version = "V1.0.0",
                                        const char* tag = "Kestrovan") {
    std::vector<std::uint8_t> bytes(kFlagFileBytes, 0);
    PutUint32(bytes, 132, 1);
    for (std::size_t index = 0; version[index] != '\0'; ++index) {
        bytes[136 + 2 * index] = static_cast<std::uint8_t>(version[index]);
    }
    std::memcpy(&bytes[160], tag, std::strlen(tag));
    PutUint32(bytes, 224, Crc32Update(&value, 1, 0));
    bytes[228] = value;
    return bytes;
}

class UpdateFlagTest : public firmware_test::CFirmwareDirectoryTest {
protected:
    std::string FlagPath() const { return Directory() + "/" + kUpdateFlagFileName; }
    void WriteFlagBytes(const std::vector<std::uint8_t>& bytes) const {
        WriteFile(kUpdateFlagFileName,
                  std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    int Read(std::uint8_t& flag) const { return ReadUpdateFlag(flag); }
};

TEST_F(UpdateFlagTest, WrittenFileHasTheExactLayout) {
    ASSERT_EQ(WriteUpdateFlag(1), 0);
    EXPECT_EQ(GetUpdateFlagPath(), FlagPath());
    const std::vector<std::uint8_t> bytes = ReadFileBytes(FlagPath());
    ASSERT_EQ(bytes.size(), kFlagFileBytes);
    EXPECT_EQ(std::string(bytes.begin() + 160, bytes.begin() + 169), "Kestrovan");
    const std::vector<std::uint8_t> version = {'V', 0, '1', 0, '.', 0, '0', 0, '.', 0, '0', 0};
    EXPECT_TRUE(std::equal(version.begin(), version.end(), bytes.begin() + 136));
    EXPECT_EQ(bytes[132], 1);
    EXPECT_EQ(bytes[228], 1);
    EXPECT_EQ(bytes, FlagFileBytes(1));  // CRC-32 of {1} at 224, zeros everywhere else
    EXPECT_FALSE(platform::FileExists(FlagPath() + ".tmp"));

    std::uint8_t flag = 7;
    EXPECT_EQ(Read(flag), 0);
    EXPECT_EQ(flag, 1);
    ASSERT_EQ(WriteUpdateFlag(0), 0);
    EXPECT_EQ(Read(flag), 0);
    EXPECT_EQ(flag, 0);
}

TEST_F(UpdateFlagTest, DamagedFilesReadAsFailure) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"data byte changed after writing", FlagFileBytes(1)});
    cases.back().bytes[228] = 0;
    cases.push_back({"another version with its right CRC", FlagFileBytes(1, "V1.0.1")});
    cases.push_back({"another tag", FlagFileBytes(1, "V1.0.0", "Kestrova")});
    cases.push_back({"CRC field 0", FlagFileBytes(1)});
    PutUint32(cases.back().bytes, 224, 0);
    cases.push_back({"header only", FlagFileBytes(1)});
    cases.back().bytes.resize(228);
    cases.push_back({"shorter than the header", FlagFileBytes(1)});
    cases.back().bytes.resize(100);
    cases.push_back({"shorter than its data length", FlagFileBytes(1)});
    PutUint32(cases.back().bytes, 132, 2);
    cases.push_back({"data length above 256", FlagFileBytes(1)});
    PutUint32(cases.back().bytes, 132, 257);
    cases.back().bytes.resize(228 + 257, 0);
    cases.push_back({"tag without a terminator", FlagFileBytes(1)});
    std::memset(&cases.back().bytes[160], 'K', 64);
    cases.push_back({"version without a terminator", FlagFileBytes(1)});
    for (std::size_t unit = 0; unit < 12; ++unit) {
        cases.back().bytes[136 + 2 * unit] = 'V';
    }
    for (const Case& entry : cases) {
        WriteFlagBytes(entry.bytes);
        std::uint8_t flag = 0xAA;
        EXPECT_EQ(Read(flag), -1) << entry.what;
        EXPECT_EQ(flag, 0xAA) << entry.what;
    }
}

TEST_F(UpdateFlagTest, MissingFileReadsAsFailure) {
    std::uint8_t flag = 0xAA;
    EXPECT_EQ(Read(flag), -1);
    EXPECT_EQ(flag, 0xAA);
}

TEST_F(UpdateFlagTest, DataBeyondTheDeclaredLengthIsIgnored) {
    std::vector<std::uint8_t> bytes = FlagFileBytes(1);
    bytes.push_back(0x55);
    WriteFlagBytes(bytes);
    std::uint8_t flag = 0;
    EXPECT_EQ(Read(flag), 0);
    EXPECT_EQ(flag, 1);
}

// Regression: the file used to be truncated first and then written in place,
// so a failure (or a power cut) on the way lost the old flag.
TEST_F(UpdateFlagTest, FailedWriteLeavesTheOldFileWhole) {
    ASSERT_EQ(WriteUpdateFlag(0), 0);
    // A directory where the new file would be written makes the write fail.
    ASSERT_TRUE(platform::CreateDirectory(FlagPath() + ".tmp"));
    EXPECT_EQ(WriteUpdateFlag(1), -1);
    EXPECT_EQ(ReadFileBytes(FlagPath()), FlagFileBytes(0));
}

TEST_F(UpdateFlagTest, EmptyRecordIsNeitherWrittenNorRead) {
    ASSERT_EQ(WriteUpdateFlag(1), 0);
    RecordFileHeader header;
    InitRecordHeader(header, kUpdateFlagTag, 0, kUpdateFlagVersion, 0);
    const std::uint8_t nothing = 0;
    EXPECT_EQ(WriteRecordFile(FlagPath(), header, &nothing), -1);
    EXPECT_EQ(ReadFileBytes(FlagPath()), FlagFileBytes(1));  // the old file stays

    std::vector<std::uint8_t> bytes = FlagFileBytes(1);
    PutUint32(bytes, 132, 0);
    PutUint32(bytes, 224, Crc32Update(nullptr, 0, 0));  // 0
    bytes.resize(228);
    WriteFlagBytes(bytes);
    std::uint8_t flag = 0xAA;
    EXPECT_EQ(ReadUpdateFlag(flag), -1);
}

TEST(InitRecordHeaderTest, CutsTagAndVersionToTheirFields) {
    RecordFileHeader header;
    header.reserved[0] = 0x5A;
    header.reserved[127] = 0x5A;
    header.crc = 0x5A5A5A5A;
    InitRecordHeader(header, std::string(80, 't'), 3, u"V1.0.0-and-more-units", 7);
    EXPECT_EQ(std::string(header.tag), std::string(63, 't'));
    EXPECT_EQ(std::u16string(header.version, 12), u"V1.0.0-and-m");
    EXPECT_EQ(header.dataLength, 3u);
    EXPECT_EQ(header.crc, 0u);
    EXPECT_EQ(header.format, 7u);
    EXPECT_EQ(header.reserved[0], 0);
    EXPECT_EQ(header.reserved[127], 0);
}

// ---- Paths and directories ------------------------------------------------

class RecordStorePathTest : public ::testing::Test {
protected:
    void SetUp() override { ResetAppConfigDirForTesting(); }
    void TearDown() override {
        platform::SetModuleFileNameForTesting("");
        ResetAppConfigDirForTesting();
    }
    testing_support::CScratchDirectory m_root;
};

TEST_F(RecordStorePathTest, RelativeNamesLiveInAppConfigBesideTheExecutablesDirectory) {
    m_root.MakeDirectories("SDMMC/Tool");
    platform::SetModuleFileNameForTesting(m_root / "SDMMC/Tool/App.exe");
    ASSERT_FALSE(platform::DirectoryExists(m_root / "SDMMC/AppConfig"));

    RecordFileHeader header;
    InitRecordHeader(header, "x", 2, u"V1", 0);
    const std::uint8_t data[2] = {0x12, 0x34};
    ASSERT_EQ(WriteRecordFile("./x.cfg", header, data), 0);
    EXPECT_EQ(GetAppConfigDir(), m_root / "SDMMC/AppConfig/");
    EXPECT_EQ(ReadFileBytes(m_root / "SDMMC/AppConfig/x.cfg").size(), 230u);

    std::uint8_t read[4] = {};
    RecordFileHeader stored;
    EXPECT_EQ(ReadRecordFile(".\\x.cfg", stored, "x", u"V1", read, sizeof read), 0);
    EXPECT_EQ(read[1], 0x34);
    EXPECT_EQ(stored.crc, Crc32Update(data, 2, 0));
    EXPECT_EQ(ReadRecordFile("./x.cfg", stored, nullptr, nullptr, read, 1), -1);  // capacity
    EXPECT_EQ(ReadRecordFile("", stored, nullptr, nullptr, read, sizeof read), -1);
}

TEST_F(RecordStorePathTest, CreateDirectoriesReportsWhetherItMadeAny) {
    EXPECT_EQ(CreateDirectories(m_root.Path()), -1);  // exists already
    EXPECT_EQ(CreateDirectories(m_root / "a/b\\c/file.cfg"), 0);
    EXPECT_TRUE(platform::DirectoryExists(m_root / "a/b/c"));
    EXPECT_FALSE(platform::DirectoryExists(m_root / "a/b/c/file.cfg"));
    EXPECT_EQ(CreateDirectories(m_root / "a/b/c/other.cfg"), -1);  // nothing to make
    m_root.WriteFile("blocker", "");
    EXPECT_EQ(CreateDirectories(m_root / "blocker/d/file.cfg"), -1);
}

}  // namespace
