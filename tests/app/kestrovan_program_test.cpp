// The kestrovan program itself, offscreen: started with no argument next to
// its firmware file in a scratch system root, it takes the port from the
// port-owner stand-in, updates the simulated microcontroller by itself and
// says so in its debug output; SIGTERM then closes it with status 0 and the
// port goes back to the port owner.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <thread>

#include "tests/app/app_test_support.h"
#include "tests/tools/child_process.h"

namespace {

using namespace app_test;
using namespace std::chrono_literals;
using tools_test::CChildProcess;

constexpr const char* kSuccessLine =
    "CFirmwareUpdateDlg: text Mcu update successfully! Please restart the machine";

class KestrovanProgramTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("QT_QPA_PLATFORM", "offscreen", 0); }

    // The unit, the simulator and the port owner, ready for the program.
    void PrepareUnit(const UnitKind& kind) {
        namespace fs = std::filesystem;
        m_unit.WriteRegistry(kind);
        // The simulator's version names 2013: the 128K file on platform 8.
        m_unit.WriteFirmware("HX900_128K.s19", 3000);
        m_unit.WriteKeyFile("unit.key", kKeyHeaderBytes + 100);
        // The program finds its files next to its own executable.
        fs::copy_file(KESTROVAN_PROGRAM, Program());
        const std::string owner = m_unit.Path("tovren/$QRV$/App/Halvix.exe");
        fs::create_directories(fs::path(owner).parent_path());
        fs::copy_file(KESTROVAN_PORT_OWNER_PROGRAM, owner);

        ASSERT_TRUE(m_simulator.Start(
            KESTROVAN_BOOTLOADER_SIM_PROGRAM,
            {"--link", m_unit.Path("dev/ttyS3"), "--family", "a", "--ready-file",
             m_unit.Path("sim.ready"), "--log", m_unit.Path("sim.log"), "--time-limit-s", "60"}));
        ASSERT_TRUE(tools_test::WaitForFile(m_unit.Path("sim.ready"), 5s));
        ASSERT_TRUE(m_owner.Start(owner, {"--log", m_unit.Path("owner.log"), "--ready-file",
                                          m_unit.Path("owner.ready")}));
        ASSERT_TRUE(tools_test::WaitForFile(m_unit.Path("owner.ready"), 5s));
    }

    std::string Program() const { return m_unit.Path("unit/kestrovan"); }
    std::string Log() const { return tools_test::ReadText(m_unit.Path("kestrovan.log")); }
    std::string OwnerLog() const { return tools_test::ReadText(m_unit.Path("owner.log")); }

    // Starts the program with its debug output (standard error) in a file.
    bool StartProgram() {
        return m_program.Start(
            "/bin/sh", {"-c", "exec \"$0\" 2>\"$1\"", Program(), m_unit.Path("kestrovan.log")});
    }
    bool WaitForLog(const std::string& text, std::chrono::milliseconds limit) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (Log().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    CUnit m_unit;
    CChildProcess m_simulator;
    CChildProcess m_owner;
    CChildProcess m_program;
};

TEST_F(KestrovanProgramTest, UpdatesByItselfAndEndsWithStatusZeroOnSigterm) {
    PrepareUnit(kPlatform7);
    ASSERT_TRUE(StartProgram());
    ASSERT_TRUE(WaitForLog(kSuccessLine, 60s)) << Log();
    ASSERT_TRUE(m_program.Signal(SIGTERM));
    const auto status = m_program.WaitForExit(20s);
    ASSERT_TRUE(status.has_value()) << Log();
    EXPECT_TRUE(WIFEXITED(*status)) << *status;
    EXPECT_EQ(WEXITSTATUS(*status), 0) << Log();
    EXPECT_NE(Log().find("signal 15: closing the main window"), std::string::npos) << Log();
    // The port was handed back as the window closed.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (OwnerLog().find("(take back)") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_NE(OwnerLog().find("request WM_MCU_COM_OP 4 1 (take back)"), std::string::npos)
        << OwnerLog();
}

TEST_F(KestrovanProgramTest, SigintDuringTheTransferStopsItAndHandsThePortBack) {
    PrepareUnit(kPlatform7);
    ASSERT_TRUE(StartProgram());
    ASSERT_TRUE(WaitForLog("CFirmwareUpdateDlg: event 7", 60s)) << Log();
    ASSERT_TRUE(m_program.Signal(SIGINT));
    const auto status = m_program.WaitForExit(20s);
    ASSERT_TRUE(status.has_value()) << Log();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status << "\n" << Log();
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (OwnerLog().find("(take back)") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_NE(OwnerLog().find("(take back)"), std::string::npos) << OwnerLog();
}

// The demonstration hooks: KeyUpdate and Start pressed after the update, and
// a picture of the windows once the key verdict is shown.
TEST_F(KestrovanProgramTest, AutomatedKeyUpdateEndsInTheVerdictAndAScreenshot) {
    PrepareUnit(kPlatform8);
    const std::string picture = m_unit.Path("windows.png");
    setenv("KESTROVAN_SCREENSHOT", picture.c_str(), 1);
    setenv("KESTROVAN_AUTOMATE", "key-update", 1);
    const bool started = StartProgram();
    unsetenv("KESTROVAN_SCREENSHOT");
    unsetenv("KESTROVAN_AUTOMATE");
    ASSERT_TRUE(started);
    ASSERT_TRUE(WaitForLog("CKeyUpdateDlg: key event 1", 60s)) << Log();
    EXPECT_NE(Log().find("CKeyUpdateDlg: text Mcu Key update successfully!"), std::string::npos);
    ASSERT_TRUE(WaitForLog("screenshot " + picture + " written", 10s)) << Log();
    ASSERT_TRUE(m_program.Signal(SIGTERM));
    const auto status = m_program.WaitForExit(20s);
    ASSERT_TRUE(status.has_value()) << Log();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status << "\n" << Log();
    // A PNG of the whole (offscreen) screen.
    const auto png = testing_support::ReadFileBytes(picture);
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
}

}  // namespace
