// Message maps at work in a running dialog: commands by control id from
// clicks and keys, close requests, registered messages sent and posted (also
// from another thread), window timers on the test clock, and the default
// processing of what a map leaves out.
#include "framework/message_map.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <thread>

#include "framework/dialog_messages.h"
#include "platform/test_clock.h"
#include "platform/window_messages.h"
#include "tests/framework/dialog_test_support.h"
#include "tests/framework/probe_dialog.h"

namespace {

using namespace framework_test;

class MessageMapTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }

    static void PressKey(CDialog& dialog, int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(dialog.GetWidget(), &press);
    }
};

TEST(MessageMapTableTest, DispatchFindsEntriesByIdOrMessage) {
    CMessageMap map;
    int pressed = 0;
    platform::WParam seenW = 0;
    map.OnCommand(1000, [&] { ++pressed; });
    map.OnMessage(0xC123, [&](platform::WParam wParam, platform::LParam lParam) {
        seenW = wParam;
        return lParam * 2;
    });
    platform::LResult result = -7;
    // The notification code in the high word does not matter.
    EXPECT_TRUE(
        map.Dispatch(platform::kWmCommand, MakeCommandWParam(1000, kButtonClicked), 0, &result));
    EXPECT_TRUE(map.Dispatch(platform::kWmCommand, MakeCommandWParam(1000, 5), 0, nullptr));
    EXPECT_EQ(pressed, 2);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(map.Dispatch(platform::kWmCommand, MakeCommandWParam(1001, 0), 0, &result));
    EXPECT_TRUE(map.Dispatch(0xC123, 9, 21, &result));
    EXPECT_EQ(seenW, 9u);
    EXPECT_EQ(result, 42);
    EXPECT_FALSE(map.Dispatch(0xC124, 0, 0, &result));
    EXPECT_FALSE(map.Dispatch(platform::kWmTimer, 1, 0, &result));
}

TEST_F(MessageMapTest, ButtonClickIsTheCommandOfItsId) {
    CProbeDialog dialog;
    RunModal(dialog, [&] {
        qobject_cast<QPushButton*>(dialog.GetDlgItem(kProbeButtonId)->GetWidget())->click();
        // A disabled button gives nothing.
        qobject_cast<QPushButton*>(dialog.GetDlgItem(kProbeDefaultButtonId)->GetWidget())->click();
        // A command of an id without an entry goes to the default: nothing.
        dialog.SendMessage(platform::kWmCommand, MakeCommandWParam(12345, kButtonClicked));
        EXPECT_TRUE(dialog.ContinueModal());
    });
    EXPECT_EQ(dialog.Count("command 10"), 1u);
    EXPECT_EQ(dialog.Count("command 11"), 0u);
}

TEST_F(MessageMapTest, EscapeCancelsAndEnterIsOkWithoutAnEnabledDefaultButton) {
    CProbeDialog escaped;
    EXPECT_EQ(RunModal(escaped, [&] { PressKey(escaped, Qt::Key_Escape); }), kIdCancel);
    EXPECT_EQ(escaped.Count("cancel"), 1u);

    CProbeDialog entered;
    EXPECT_EQ(RunModal(entered,
                       [&] {
                           entered.GetDlgItem(kProbeLineId)->GetWidget()->setFocus();
                           PressKey(entered, Qt::Key_Return);
                       }),
              kIdOk);
    EXPECT_EQ(entered.Count("ok"), 1u);

    // With the default button enabled, Enter presses it and the dialog stays.
    CProbeDialog withDefault;
    EXPECT_EQ(RunModal(withDefault,
                       [&] {
                           withDefault.GetDlgItem(kProbeDefaultButtonId)->EnableWindow(true);
                           withDefault.GetDlgItem(kProbeLineId)->GetWidget()->setFocus();
                           PressKey(withDefault, Qt::Key_Enter);
                           EXPECT_TRUE(withDefault.ContinueModal());
                       }),
              kEndedByTest);
    EXPECT_EQ(withDefault.Count("command 11"), 1u);
    EXPECT_EQ(withDefault.Count("ok"), 0u);
}

TEST_F(MessageMapTest, CloseBoxIsACloseRequestThatCancelsByDefault) {
    CProbeDialog dialog;
    EXPECT_EQ(RunModal(dialog, [&] { dialog.GetWidget()->close(); }), kIdCancel);
    const auto close = std::find(dialog.calls.begin(), dialog.calls.end(), "close");
    ASSERT_NE(close, dialog.calls.end());
    EXPECT_EQ(*(close + 1), "cancel");
    EXPECT_EQ(dialog.calls.back(), "destroy");
}

TEST_F(MessageMapTest, RegisteredMessagesSentPostedAndPostedFromAnotherThread) {
    const platform::MessageId probe = platform::RegisterWindowMessage(kProbeMessageName);
    const platform::MessageId unmapped =
        platform::RegisterWindowMessage("kestrovan-framework-test-unmapped");
    CProbeDialog dialog;
    RunModal(dialog, [&] {
        EXPECT_EQ(dialog.SendMessage(probe, 40, 2), 42);
        EXPECT_EQ(dialog.SendMessage(unmapped, 40, 2), 0);

        ASSERT_TRUE(dialog.PostMessage(probe, 1, 2));
        const platform::WindowHandle window = dialog.GetSafeHwnd();
        std::thread poster([window, probe] { platform::PostMessage(window, probe, 3, 4); });
        poster.join();
        EXPECT_TRUE(PumpUntil([&] { return dialog.Count("probe 3 4") == 1; }));
    });
    const std::vector<std::string> expected = {"probe 40 2", "probe 1 2", "probe 3 4"};
    std::vector<std::string> probes;
    for (const std::string& call : dialog.calls) {
        if (call.starts_with("probe")) {
            probes.push_back(call);
        }
    }
    EXPECT_EQ(probes, expected);
}

TEST_F(MessageMapTest, WindowTimersTickOnTheTestClockUntilKilled) {
    platform::CScopedTestClock clock;
    constexpr platform::TimerId kTimer = 7;
    CProbeDialog dialog;
    RunModal(dialog, [&] {
        ASSERT_EQ(dialog.SetTimer(kTimer, 1000), kTimer);
        clock.Advance(999);
        PumpFor(std::chrono::milliseconds(30));
        EXPECT_EQ(dialog.Count("timer 7"), 0u);
        clock.Advance(1);
        EXPECT_TRUE(PumpUntil([&] { return dialog.Count("timer 7") == 1; }));
        clock.Advance(1000);
        EXPECT_TRUE(PumpUntil([&] { return dialog.Count("timer 7") == 2; }));
        EXPECT_TRUE(dialog.KillTimer(kTimer));
        clock.Advance(3000);
        PumpFor(std::chrono::milliseconds(30));
        EXPECT_EQ(dialog.Count("timer 7"), 2u);
    });
}

}  // namespace
