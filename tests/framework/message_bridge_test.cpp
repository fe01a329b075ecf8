// The bridge between the platform queue and Qt's loop: messages posted before
// a run, from other threads, and inside a nested modal run; the nested run's
// owner and stacking.
#include "framework/message_bridge.h"

#include <gtest/gtest.h>

#include <thread>

#include "framework/dialog_window.h"
#include "framework/win_app.h"
#include "platform/test_clock.h"
#include "platform/window_messages.h"
#include "tests/framework/dialog_test_support.h"
#include "tests/framework/probe_dialog.h"

namespace {

using namespace framework_test;

class MessageBridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        m_probe = platform::RegisterWindowMessage(kProbeMessageName);
    }

    platform::MessageId m_probe = 0;
    CWinApp m_app;
};

TEST_F(MessageBridgeTest, MessagePostedDuringInitialisationIsHandledOnceTheLoopRuns) {
    CProbeDialog dialog;
    dialog.onInit = [&] { dialog.PostMessage(m_probe, 5, 6); };
    RunModal(dialog,
             [&] { EXPECT_TRUE(PumpUntil([&] { return dialog.Count("probe 5 6") == 1; })); });
    EXPECT_EQ(dialog.Count("probe 5 6"), 1u);
}

TEST_F(MessageBridgeTest, NestedModalRunKeepsPumpingForBothDialogs) {
    platform::CScopedTestClock clock;
    CProbeDialog outer;
    CProbeDialog inner;
    m_app.SetMainWnd(&outer);
    constexpr platform::TimerId kOuterTimer = 3;
    bool innerSawOuter = false;
    CDialog* innerOwner = nullptr;
    QWidget* innerParent = nullptr;
    bool innerOnTop = false;
    bool foregroundWasInner = false;

    // The outer dialog's posted message opens the inner one: a modal run
    // inside a message handler inside the outer run.
    outer.onProbe = [&] {
        if (inner.IsModalRunning()) {
            return;
        }
        RunModal(inner, [&] {
            innerOwner = inner.GetOwner();
            innerParent = inner.GetWidget()->parentWidget();
            innerOnTop = inner.GetWidget()->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            foregroundWasInner = platform::GetForegroundWindow() == inner.GetSafeHwnd();
            // Both windows get their messages and timers meanwhile.
            outer.PostMessage(m_probe, 7, 7);
            inner.PostMessage(m_probe, 8, 8);
            clock.Advance(100);
            innerSawOuter = PumpUntil([&] {
                return outer.Count("probe 7 7") == 1 && inner.Count("probe 8 8") == 1 &&
                       outer.Count("timer 3") == 1;
            });
            // The owner re-asserting its place leaves the inner one on top and
            // active.
            outer.SetWindowPos(WindowOrder::kTopMost, 0, 0, 400, 300, kSwpShowWindow);
            PumpFor(std::chrono::milliseconds(20));
            EXPECT_TRUE(inner.IsActive());
            EXPECT_FALSE(outer.IsActive());
        });
    };
    RunModal(outer, [&] {
        outer.SetWindowPos(WindowOrder::kTopMost, 0, 0, 300, 200, kSwpShowWindow);
        outer.SetTimer(kOuterTimer, 100);
        outer.PostMessage(m_probe, 1, 1);
        EXPECT_TRUE(
            PumpUntil([&] { return outer.Count("probe 1 1") == 1 && !inner.IsModalRunning(); }));
        // Active again once the inner run ended.
        EXPECT_TRUE(outer.IsActive());
        EXPECT_EQ(platform::GetForegroundWindow(), outer.GetSafeHwnd());
    });
    m_app.SetMainWnd(nullptr);

    EXPECT_TRUE(innerSawOuter);
    EXPECT_EQ(innerOwner, &outer);  // owned by the application's main window
    EXPECT_NE(innerParent, nullptr);
    EXPECT_TRUE(innerOnTop);  // as its top-most owner
    EXPECT_TRUE(foregroundWasInner);
    EXPECT_EQ(outer.Count("activate 0"), 1u);
    EXPECT_EQ(outer.Count("activate 1"), 2u);
}

TEST_F(MessageBridgeTest, OwnedDialogStartsAtItsOwnersScale) {
    CProbeDialog outer;
    CProbeDialog inner(ProbeTemplate(), &outer);
    QSize innerSize;
    QSize outerSize;
    outer.onProbe = [&] { RunModal(inner, [&] { innerSize = inner.GetWidget()->size(); }); };
    RunModal(outer, [&] {
        outer.SetWindowPos(WindowOrder::kTop, 0, 0, 500, 250, 0);
        outerSize = outer.GetWidget()->size();
        outer.PostMessage(m_probe, 0, 0);
        PumpUntil([&] { return !innerSize.isEmpty(); });
    });
    // The same template at the same scale: the same client size.
    EXPECT_GT(outerSize.width(), 400);
    EXPECT_EQ(innerSize, outerSize);
}

}  // namespace
