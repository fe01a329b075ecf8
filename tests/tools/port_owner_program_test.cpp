// The port-owner program for real: started from the port owner's executable
// path in a scratch system root, holding a pseudo-terminal linked at
// <root>/dev/ttyS3, and met by the engine's hand-off.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "engine/port_hand_off.h"
#include "engine/serial_port.h"
#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/serial_device.h"
#include "platform/test_clock.h"
#include "platform/window_socket.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/scoped_sysroot.h"
#include "tests/support/scratch_directory.h"
#include "tests/tools/child_process.h"

namespace {

using namespace std::chrono_literals;
using testing_support::CPseudoTerminal;
using testing_support::CScopedSysroot;
using tools_test::CChildProcess;

constexpr const char* kProgram = KESTROVAN_PORT_OWNER_PROGRAM;

// The hand-off sleeps on the platform clock. This clock jumps as a test clock
// does, and also lets a little real time pass, so that the port owner (another
// process) can act between the attempts without the test sleeping seconds.
class CRealPauseClock : public platform::CTestClock {
public:
    static constexpr auto kRealPause = 50ms;
    void SleepMs(std::uint32_t ms) override {
        CTestClock::SleepMs(ms);
        std::this_thread::sleep_for(kRealPause);
    }
};

class PortOwnerProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.IsOpen());
        ASSERT_TRUE(m_pty.LinkSlaveAt(Device()));
        platform::SetClock(&m_clock);
    }
    void TearDown() override { platform::SetClock(nullptr); }

    std::string Path(std::string_view relative) const { return m_root.Directory() / relative; }
    std::string Device() const { return Path("dev/ttyS3"); }
    std::string Log() const { return tools_test::ReadText(Path("owner.log")); }

    // Starts the program from <root>/tovren/$QRV$/App/Halvix.exe.
    void StartOwner(std::vector<std::string> args) {
        namespace fs = std::filesystem;
        const std::string owner = Path("tovren/$QRV$/App/Halvix.exe");
        fs::create_directories(fs::path(owner).parent_path());
        std::error_code error;
        fs::create_hard_link(kProgram, owner, error);
        if (error) {
            fs::copy_file(kProgram, owner);  // another file system: a copy will do
        }
        args.insert(args.end(), {"--log", Path("owner.log"), "--ready-file", Path("owner.ready")});
        ASSERT_TRUE(m_owner.Start(owner, args));
        ASSERT_TRUE(tools_test::WaitForFile(Path("owner.ready"), 5s)) << Log();
    }

    // True once an open of the device fails with EBUSY, within limit.
    bool DeviceBecomesBusy(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            const platform::DeviceHandle probe = platform::OpenSerialDevice(Device());
            if (probe == platform::kInvalidDevice) {
                return platform::GetLastError() == EBUSY;
            }
            platform::CloseDevice(probe);
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    CScopedSysroot m_root;
    CPseudoTerminal m_pty;
    CRealPauseClock m_clock;
    CChildProcess m_owner;
};

TEST_F(PortOwnerProgramTest, LetsTheUpdaterTakeThePortAndTakesItBack) {
    StartOwner({});
    EXPECT_TRUE(DeviceBecomesBusy(1ms));  // held from the start

    CSerialPort port;
    ASSERT_EQ(TakePort(port, 4, 115200), 1) << Log();
    EXPECT_NE(port.GetHandle(), platform::kInvalidDevice);
    EXPECT_FALSE(m_owner.WaitForExit(0ms).has_value());  // asked, not terminated

    port.Close();
    GiveBackPort();
    EXPECT_TRUE(DeviceBecomesBusy(3s)) << Log();

    ASSERT_TRUE(m_owner.Signal(SIGTERM));
    const auto status = m_owner.WaitForExit(3s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_FALSE(std::filesystem::exists(
        platform::WindowSocketPath(kPortOwnerClassName, kPortOwnerWindowName)));
    const std::string log = Log();
    for (const char* seen :
         {"request WM_MCU_COM_OP 4 0 (release)", "(released)",
          "request WM_MCU_COM_OP 4 1 (take back)", "stop requested", "(ending)"}) {
        EXPECT_NE(log.find(seen), std::string::npos) << seen << "\n" << log;
    }
}

TEST_F(PortOwnerProgramTest, OwnerThatNeverReleasesIsTerminatedByTheHandOff) {
    StartOwner({"--never-release"});
    CSerialPort port;
    EXPECT_EQ(TakePort(port, 4, 115200), 0);

    const auto status = m_owner.WaitForExit(3s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFSIGNALED(*status));
    EXPECT_EQ(WTERMSIG(*status), SIGKILL);
    EXPECT_NE(Log().find("(release): ignored, --never-release"), std::string::npos) << Log();
    // The updater's own further attempt finds the device free.
    EXPECT_EQ(port.Open(4, 115200), 0u);
}

TEST(PortOwnerProgramHelpTest, HelpListsEveryOption) {
    testing_support::CScratchDirectory scratch;
    CChildProcess help;
    ASSERT_TRUE(help.Start(kProgram, {"--help"}, scratch / "help.txt"));
    const auto status = help.WaitForExit(5s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    const std::string text = tools_test::ReadText(scratch / "help.txt");
    for (const char* option : {"--device", "--baud", "--release-delay-ms", "--never-release",
                               "--retry-for-ms", "--log", "--ready-file", "--help"}) {
        EXPECT_NE(text.find(option), std::string::npos) << option;
    }
}

}  // namespace
