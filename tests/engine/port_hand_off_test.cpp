#include "engine/port_hand_off.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "engine/serial_port.h"
#include "platform/serial_device.h"
#include "platform/test_clock.h"
#include "platform/window_socket.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/scoped_sysroot.h"

extern char** environ;

namespace {

using testing_support::CPseudoTerminal;
using testing_support::CScopedSysroot;

// A test clock that tells the test about each sleep of the code under test,
// so that the test can release the device at a chosen attempt.
class CSleepWatchingClock : public platform::CTestClock {
public:
    void SleepMs(std::uint32_t ms) override {
        ++m_sleeps;
        CTestClock::SleepMs(ms);
        if (m_onSleep) {
            m_onSleep(m_sleeps);
        }
    }
    int m_sleeps = 0;
    std::function<void(int)> m_onSleep;
};

class PortHandOffTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetClock(&m_clock);
        ASSERT_TRUE(m_pty.IsOpen());
        ASSERT_TRUE(m_pty.LinkSlaveAt(m_root.Root() + "/dev/ttyS3"));
    }
    void TearDown() override {
        platform::CloseDevice(m_heldBy);
        platform::SetClock(nullptr);
    }

    void HoldDevice() {
        m_heldBy = platform::OpenSerialDevice(m_pty.SlavePath());
        ASSERT_NE(m_heldBy, platform::kInvalidDevice);
    }
    void ReleaseDevice() {
        platform::CloseDevice(m_heldBy);
        m_heldBy = platform::kInvalidDevice;
    }

    CScopedSysroot m_root;
    CPseudoTerminal m_pty;
    CSleepWatchingClock m_clock;
    platform::DeviceHandle m_heldBy = platform::kInvalidDevice;
};

TEST_F(PortHandOffTest, FreeDeviceWithoutOwnerOpensAtTheFirstAttempt) {
    CSerialPort port;
    EXPECT_EQ(TakePort(port, 4, 115200), 1);
    EXPECT_NE(port.GetHandle(), platform::kInvalidDevice);
    EXPECT_EQ(m_clock.m_sleeps, 0);
}

TEST_F(PortHandOffTest, OwnerIsAskedToReleaseAndLetsGoWithinASecond) {
    platform::CWindowSocket owner;
    ASSERT_TRUE(owner.Bind(kPortOwnerClassName, kPortOwnerWindowName));
    HoldDevice();
    m_clock.m_onSleep = [&](int sleeps) {
        if (sleeps == 1) {
            ReleaseDevice();
        }
    };
    CSerialPort port;
    EXPECT_EQ(TakePort(port, 4, 115200), 1);
    EXPECT_EQ(m_clock.m_sleeps, 1);  // the second attempt succeeded

    const auto request = owner.Receive(1000);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->name, "WM_MCU_COM_OP");
    EXPECT_EQ(request->wParam, 4u);
    EXPECT_EQ(request->lParam, 0);
}

TEST_F(PortHandOffTest, DeviceHeldByAStrangerGivesUpAfterSixSeconds) {
    HoldDevice();
    CSerialPort port;
    const std::uint64_t before = m_clock.NowMs();
    EXPECT_EQ(TakePort(port, 4, 115200), 0);
    EXPECT_EQ(m_clock.NowMs() - before, kOpenRetryLastAfterMs);
    EXPECT_EQ(m_clock.m_sleeps, 6);  // seven attempts
    EXPECT_EQ(port.GetHandle(), platform::kInvalidDevice);
}

TEST_F(PortHandOffTest, OwnerThatIgnoresTheRequestIsTerminated) {
    // The "port owner": a copy of sleep started from the owner's path.
    const std::string ownerPath = m_root.Root() + "/tovren/$QRV$/App/Halvix.exe";
    std::filesystem::create_directories(std::filesystem::path(ownerPath).parent_path());
    std::filesystem::copy_file("/bin/sleep", ownerPath);
    pid_t owner = 0;
    char* argv[] = {const_cast<char*>("Halvix.exe"), const_cast<char*>("30"), nullptr};
    ASSERT_EQ(posix_spawn(&owner, ownerPath.c_str(), nullptr, nullptr, argv, environ), 0);
    // A bystander from another path must survive.
    pid_t bystander = 0;
    char* bystanderArgv[] = {const_cast<char*>("sleep"), const_cast<char*>("30"), nullptr};
    ASSERT_EQ(posix_spawn(&bystander, "/bin/sleep", nullptr, nullptr, bystanderArgv, environ), 0);
    for (int i = 0; i < 200 && std::filesystem::read_symlink("/proc/" + std::to_string(owner) +
                                                             "/exe") != ownerPath;
         ++i) {
        usleep(5000);
    }

    HoldDevice();
    CSerialPort port;
    EXPECT_EQ(TakePort(port, 4, 115200), 0);

    int status = 0;
    ASSERT_EQ(waitpid(owner, &status, 0), owner);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_EQ(waitpid(bystander, &status, WNOHANG), 0);  // still running
    kill(bystander, SIGKILL);
    waitpid(bystander, &status, 0);
}

TEST_F(PortHandOffTest, GiveBackPostsTakeBackOnlyWhenTheOwnerWindowExists) {
    GiveBackPort();  // no owner: nothing to post to, nothing happens
    platform::CWindowSocket owner;
    ASSERT_TRUE(owner.Bind(kPortOwnerClassName, kPortOwnerWindowName));
    GiveBackPort();
    const auto request = owner.Receive(1000);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->name, "WM_MCU_COM_OP");
    EXPECT_EQ(request->wParam, 4u);
    EXPECT_EQ(request->lParam, 1);
    EXPECT_FALSE(owner.Receive(50).has_value());
}

}  // namespace
