// Whole runs: the main window with the real updater against the boot-loader
// simulator over a pseudo-terminal at <root>/dev/ttyS3, which the port-owner
// stand-in holds before and after; on the key platform also the key update
// through the KeyUpdate button. Real clock: the hand-off waits for the port
// owner for real.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <thread>

#include "app/firmware_update_dlg.h"
#include "app/res/resource.h"
#include "engine/updater_holder.h"
#include "framework/dialog_messages.h"
#include "framework/win_app.h"
#include "mcu_link/engine_event_table.h"
#include "platform/last_error.h"
#include "platform/serial_device.h"
#include "tests/app/app_test_support.h"
#include "tests/framework/dialog_test_support.h"
#include "tests/tools/child_process.h"

namespace {

using namespace app_test;
using namespace std::chrono_literals;
using framework_test::PumpUntil;
using framework_test::RunModal;
using tools_test::CChildProcess;

constexpr std::size_t kImageBytes = 6000;  // 47 blocks, the last one short

class UpdateRunTest : private framework_test::CApplicationFirst,
                      public ::testing::TestWithParam<UnitKind> {
protected:
    void SetUp() override {
        m_unit.WriteRegistry(GetParam());
        // The simulator's version names 2013: the 128K file of family A.
        m_image = m_unit.WriteFirmware("HX900_128K.s19", kImageBytes);
        m_key = m_unit.WriteKeyFile("unit.key", kKeyHeaderBytes + 150);
        StartSimulator();
        StartPortOwner();
        m_app.SetMainWnd(&m_dialog);
    }
    void TearDown() override { m_app.SetMainWnd(nullptr); }

    std::string Device() const { return m_unit.Path("dev/ttyS3"); }
    std::string SimulatorLog() const { return tools_test::ReadText(m_unit.Path("sim.log")); }
    std::string OwnerLog() const { return tools_test::ReadText(m_unit.Path("owner.log")); }

    void StartSimulator() {
        ASSERT_TRUE(
            m_simulator.Start(KESTROVAN_BOOTLOADER_SIM_PROGRAM,
                              {"--link", Device(), "--family", "a", "--ready-file",
                               m_unit.Path("sim.ready"), "--log", m_unit.Path("sim.log"),
                               "--image-out", m_unit.Path("image.bin"), "--time-limit-s", "60"}));
        ASSERT_TRUE(tools_test::WaitForFile(m_unit.Path("sim.ready"), 5s)) << SimulatorLog();
    }
    // From the port owner's executable path, so that the hand-off finds it.
    void StartPortOwner() {
        namespace fs = std::filesystem;
        const std::string owner = m_unit.Path("tovren/$QRV$/App/Halvix.exe");
        fs::create_directories(fs::path(owner).parent_path());
        fs::copy_file(KESTROVAN_PORT_OWNER_PROGRAM, owner);
        ASSERT_TRUE(m_owner.Start(owner, {"--log", m_unit.Path("owner.log"), "--ready-file",
                                          m_unit.Path("owner.ready")}));
        ASSERT_TRUE(tools_test::WaitForFile(m_unit.Path("owner.ready"), 5s)) << OwnerLog();
    }
    // True once the device is held again (an open of it fails with EBUSY).
    bool DeviceBecomesBusy(std::chrono::milliseconds limit) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            const platform::DeviceHandle probe = platform::OpenSerialDevice(Device());
            if (probe == platform::kInvalidDevice) {
                if (platform::GetLastError() == EBUSY) {
                    return true;
                }
            } else {
                platform::CloseDevice(probe);
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    std::string Text() const { return ControlText(m_dialog, kMessageAreaId); }

    // On the key platform: KeyUpdate opens the key window above the main
    // window, Start sends the key and the simulator's read-back verifies it.
    void RunKeyUpdate() {
        CKeyUpdateDlg& keyWindow = m_dialog.GetKeyWindow();
        std::string keyText;
        CDialog* owner = nullptr;
        bool ownerBlocked = false;
        QTimer inside;
        inside.setSingleShot(true);
        QObject::connect(&inside, &QTimer::timeout, [&] {
            owner = keyWindow.GetOwner();
            ownerBlocked = !m_dialog.GetWidget()->isEnabled() ||
                           QApplication::activeModalWidget() == keyWindow.GetWidget();
            const auto text = [&] { return ControlText(keyWindow, kKeyMessageAreaId); };
            PumpUntil([&] { return text() == FormatKeyFileFoundText("unit.key"); });
            Click(keyWindow, kKeyStartButtonId);
            PumpUntil([&] { return text() == "Mcu Key update successfully!"; }, 10s);
            keyText = text();
            Click(keyWindow, kKeyExitButtonId);
        });
        inside.start(0);
        Click(m_dialog, kKeyUpdateButtonId);  // returns when the key window is closed
        EXPECT_EQ(owner, &m_dialog);
        EXPECT_TRUE(ownerBlocked);
        EXPECT_EQ(keyText, "Mcu Key update successfully!") << SimulatorLog();
        EXPECT_EQ(keyWindow.GetEngine(), nullptr);  // closed by its Exit
    }

    CUnit m_unit;
    std::vector<std::uint8_t> m_image;
    std::vector<std::uint8_t> m_key;
    CChildProcess m_simulator;
    CChildProcess m_owner;
    CWinApp m_app;
    CFirmwareUpdateDlg m_dialog;
};

TEST_P(UpdateRunTest, FromStartUpToSuccessAndThePortGoesBackOnExit) {
    const bool keyPlatform = GetParam().platformCode == 8;
    CEventTrace trace;
    const std::string success(FindEngineEventRow(2)->text);
    const auto result = RunModal(m_dialog, [&] {
        ASSERT_TRUE(PumpUntil([&] { return Text() == success; }, 30s))
            << Text() << "\n"
            << trace.Text() << SimulatorLog();
        EXPECT_EQ(ControlText(m_dialog, kPercentFieldId), "100 %");
        EXPECT_EQ(m_dialog.GetDlgItem(kProgressBarId)->GetPos(), 100);
        EXPECT_EQ(MainButtons(m_dialog), (ButtonStates{false, true, keyPlatform}));
        if (keyPlatform) {
            RunKeyUpdate();
            EXPECT_EQ(Text(), success);
        }
        Click(m_dialog, kExitButtonId);
        PumpUntil([&] { return !m_dialog.ContinueModal(); });
    });
    EXPECT_EQ(result, kIdCancel);
    EXPECT_EQ(CUpdaterHolder::Instance(), nullptr);

    // The events in their order: start-up, file found, begin, running, the
    // parse progress, progress up to 100, success.
    const std::vector<std::uint32_t> events = trace.Events();
    ASSERT_GE(events.size(), 6u) << trace.Text();
    EXPECT_EQ(events[0], 8u);
    const auto at = [&](std::uint32_t code) {
        return std::find(events.begin(), events.end(), code) - events.begin();
    };
    EXPECT_LT(at(0), at(12));
    EXPECT_LT(at(12), at(1));
    EXPECT_LT(at(9), at(7));
    EXPECT_LT(at(7), at(2));
    EXPECT_EQ(std::count(events.begin(), events.end(), 3u), 0) << trace.Text();
    EXPECT_EQ(std::count(events.begin(), events.end(), 10u), keyPlatform ? 1 : 0);

    // The simulator got the image; the port owner has the port again.
    EXPECT_TRUE(DeviceBecomesBusy(5s)) << OwnerLog();
    EXPECT_NE(OwnerLog().find("request WM_MCU_COM_OP 4 1 (take back)"), std::string::npos)
        << OwnerLog();
    ASSERT_TRUE(m_simulator.Signal(SIGTERM));
    ASSERT_TRUE(m_simulator.WaitForExit(5s).has_value());
    const auto written = testing_support::ReadFileBytes(m_unit.Path("image.bin"));
    ASSERT_GE(written.size(), m_image.size()) << SimulatorLog();
    EXPECT_TRUE(std::equal(m_image.begin(), m_image.end(), written.begin()));
}

INSTANTIATE_TEST_SUITE_P(Platforms, UpdateRunTest, ::testing::Values(kPlatform7, kPlatform8),
                         [](const auto& info) {
                             return "Platform" + std::to_string(info.param.platformCode);
                         });

}  // namespace
