// Finding a process by the path of its executable and terminating it, with
// real child processes: copies of sleep under the port owner's name.
#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/system_root.h"
#include "tests/support/scoped_sysroot.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr const char* kSleepProgram = "/bin/sleep";
constexpr const char* kPortOwnerPath = "\\tovren\\$QRV$\\App\\Halvix.exe";
// Long enough to outlive the test; every child is killed and reaped at the end.
constexpr const char* kSleepSeconds = "60";

std::uint32_t Errno(int code) {
    return static_cast<std::uint32_t>(code);
}

class ProcessLookup : public ::testing::Test {
protected:
    ~ProcessLookup() override {
        for (pid_t child : m_children) {
            ::kill(child, SIGKILL);
            Reap(child);
        }
    }

    // Copies sleep to path (below the scratch root) and makes it executable.
    std::string InstallSleep(const std::string& path) {
        std::error_code error;
        fs::create_directories(fs::path(path).parent_path(), error);
        fs::copy_file(kSleepProgram, path, fs::copy_options::overwrite_existing, error);
        EXPECT_FALSE(error) << error.message();
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
        return path;
    }

    // Starts program; posix_spawn returns once the child runs the new image.
    pid_t Start(const std::string& program) {
        // argv[0] stays "sleep": a multi-call build of the tools reads it.
        std::string name = "sleep";
        std::string seconds = kSleepSeconds;
        char* arguments[] = {name.data(), seconds.data(), nullptr};
        pid_t child = 0;
        const int result =
            ::posix_spawn(&child, program.c_str(), nullptr, nullptr, arguments, environ);
        EXPECT_EQ(result, 0) << program;
        if (result != 0) {
            return 0;
        }
        m_children.push_back(child);
        return child;
    }

    // Waits for child and answers its status; forgets it.
    int Reap(pid_t child) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        std::erase(m_children, child);
        return status;
    }

    testing_support::CScopedSysroot m_root;
    std::vector<pid_t> m_children;
};

TEST_F(ProcessLookup, FindsOnlyTheExactExecutableAndTerminatesIt) {
    const std::string ownerPath = InstallSleep(platform::MapWindowsPath(kPortOwnerPath));
    const std::string otherCopy = InstallSleep(m_root.Directory() / "Other/Halvix.exe");

    // Started first, so that they come earlier in /proc than the port owner.
    const pid_t plainSleep = Start(kSleepProgram);
    const pid_t otherOwner = Start(otherCopy);
    const pid_t owner = Start(ownerPath);
    ASSERT_GT(plainSleep, 0);
    ASSERT_GT(otherOwner, 0);
    ASSERT_GT(owner, 0);

    EXPECT_EQ(platform::FindProcessByExecutable(ownerPath), owner);
    EXPECT_EQ(platform::FindProcessByExecutable(otherCopy), otherOwner);

    ASSERT_TRUE(platform::TerminateProcess(owner));
    const int status = Reap(owner);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);

    // Gone from /proc: nothing else is taken for it.
    EXPECT_EQ(platform::FindProcessByExecutable(ownerPath), std::nullopt);
    EXPECT_EQ(platform::GetLastError(), Errno(ESRCH));
    EXPECT_EQ(::kill(otherOwner, 0), 0);
    EXPECT_EQ(::kill(plainSleep, 0), 0);
}

TEST_F(ProcessLookup, PathsAreResolvedBeforeTheyAreCompared) {
    const std::string ownerPath = InstallSleep(platform::MapWindowsPath(kPortOwnerPath));
    const std::string viaLink = m_root.Directory() / "link-to-owner";
    ASSERT_EQ(::symlink(ownerPath.c_str(), viaLink.c_str()), 0);
    const pid_t owner = Start(viaLink);  // started through the link
    ASSERT_GT(owner, 0);

    EXPECT_EQ(platform::FindProcessByExecutable(ownerPath), owner);
    EXPECT_EQ(platform::FindProcessByExecutable(viaLink), owner);
    EXPECT_EQ(
        platform::FindProcessByExecutable(m_root.Root() + "/tovren/./$QRV$/App/../App/Halvix.exe"),
        owner);
}

TEST_F(ProcessLookup, NearMissesAreNotFound) {
    const std::string ownerPath = InstallSleep(platform::MapWindowsPath(kPortOwnerPath));
    // Same bytes, other name: a different file, not a match.
    const std::string otherCase = InstallSleep(m_root.Directory() / "tovren/$QRV$/App/halvix.exe");
    const pid_t otherCaseChild = Start(otherCase);
    ASSERT_GT(otherCaseChild, 0);

    EXPECT_EQ(platform::FindProcessByExecutable(ownerPath), std::nullopt);
    EXPECT_EQ(platform::GetLastError(), Errno(ESRCH));
    EXPECT_EQ(platform::FindProcessByExecutable(m_root.Directory() / "missing.exe"), std::nullopt);
    EXPECT_EQ(platform::GetLastError(), Errno(ENOENT));
    EXPECT_EQ(platform::FindProcessByExecutable(""), std::nullopt);
}

TEST_F(ProcessLookup, DeletedExecutableIsNotFound) {
    const std::string ownerPath = InstallSleep(platform::MapWindowsPath(kPortOwnerPath));
    const pid_t owner = Start(ownerPath);
    ASSERT_GT(owner, 0);
    ASSERT_EQ(::unlink(ownerPath.c_str()), 0);
    InstallSleep(ownerPath);  // a new file under the old name
    EXPECT_EQ(platform::FindProcessByExecutable(ownerPath), std::nullopt);
}

TEST_F(ProcessLookup, TerminatingAReapedProcessFails) {
    const pid_t child = Start(kSleepProgram);
    ASSERT_GT(child, 0);
    ::kill(child, SIGKILL);
    Reap(child);
    EXPECT_FALSE(platform::TerminateProcess(child));
    EXPECT_EQ(platform::GetLastError(), Errno(ESRCH));
}

// kill() takes 0 and negative ids as process groups; they must be refused
// before they get there. (0 and -1 are not tried here: were the guard
// missing, they would signal this test's group or every process.)
TEST(ProcessTerminate, RefusesIdsThatNameGroups) {
    for (platform::ProcessId id : {-2, -999999, INT_MIN}) {
        platform::SetLastError(0);
        EXPECT_FALSE(platform::TerminateProcess(id)) << id;
        EXPECT_EQ(platform::GetLastError(), Errno(EINVAL)) << id;
    }
}

}  // namespace

namespace {

TEST_F(ProcessLookup, WaitForEndSeesAKilledChildTurnZombie) {
    const pid_t child = Start(kSleepProgram);
    ASSERT_GT(child, 0);
    // Still running: the wait runs out.
    EXPECT_FALSE(platform::WaitForProcessEnd(child, 20));
    ASSERT_TRUE(platform::TerminateProcess(child));
    // Not reaped yet: a zombie has closed its files, which is what counts.
    EXPECT_TRUE(platform::WaitForProcessEnd(child, 2000));
    Reap(child);
    EXPECT_TRUE(platform::WaitForProcessEnd(child, 0));  // gone altogether
}

}  // namespace
