// SIGTERM, SIGINT and SIGHUP: handed to the user-interface thread through the
// self-pipe, and closing the main window with a modal dialog above it.
#include "framework/signal_closer.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>

#include "framework/dialog_messages.h"
#include "framework/win_app.h"
#include "platform/window_messages.h"
#include "tests/framework/dialog_test_support.h"
#include "tests/framework/probe_dialog.h"

namespace {

using namespace framework_test;

std::atomic<int> g_previousHandlerCalls{0};

void PreviousHandler(int) {
    ++g_previousHandlerCalls;
}

class SignalCloserTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { EnsureApplication(); }
};

TEST_P(SignalCloserTest, SignalReachesTheCallbackAndThePreviousHandlerComesBack) {
    const int signalNumber = GetParam();
    struct sigaction previous {};
    previous.sa_handler = PreviousHandler;
    sigemptyset(&previous.sa_mask);
    struct sigaction saved {};
    ASSERT_EQ(sigaction(signalNumber, &previous, &saved), 0);
    g_previousHandlerCalls = 0;
    {
        std::vector<int> received;
        CSignalCloser closer([&](int number) { received.push_back(number); });
        ASSERT_TRUE(closer.IsInstalled());
        // A second one at the same time is refused and changes nothing.
        CSignalCloser second([](int) {});
        EXPECT_FALSE(second.IsInstalled());

        raise(signalNumber);
        raise(signalNumber);
        EXPECT_TRUE(PumpUntil([&] { return received.size() == 2; }));
        EXPECT_EQ(received, (std::vector<int>{signalNumber, signalNumber}));
        EXPECT_EQ(g_previousHandlerCalls.load(), 0);
    }
    raise(signalNumber);
    EXPECT_EQ(g_previousHandlerCalls.load(), 1);
    sigaction(signalNumber, &saved, nullptr);
}

TEST_P(SignalCloserTest, SignalClosesTheMainWindowAndTheModalDialogAboveIt) {
    CWinApp app;
    CSignalCloser closer([&](int) { app.CloseMainWindow(); });
    CProbeDialog mainWindow;
    CProbeDialog dialog;
    app.SetMainWnd(&mainWindow);
    bool dialogEnded = false;
    mainWindow.onProbe = [&] {
        RunModal(dialog, [&] {
            raise(GetParam());
            dialogEnded = PumpUntil([&] { return !dialog.ContinueModal(); });
        });
    };
    const auto result = RunModal(mainWindow, [&] {
        mainWindow.PostMessage(platform::RegisterWindowMessage(kProbeMessageName));
        PumpUntil([&] { return !mainWindow.ContinueModal(); });
    });
    app.SetMainWnd(nullptr);
    EXPECT_TRUE(dialogEnded);
    EXPECT_EQ(result, kIdCancel);
    EXPECT_EQ(mainWindow.Count("close"), 1u);
    EXPECT_EQ(dialog.Count("close"), 1u);
    EXPECT_EQ(mainWindow.calls.back(), "destroy");
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalCloserTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& info) {
                             switch (info.param) {
                                 case SIGTERM:
                                     return std::string("Term");
                                 case SIGINT:
                                     return std::string("Int");
                                 default:
                                     return std::string("Hup");
                             }
                         });

}  // namespace
