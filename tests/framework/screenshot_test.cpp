// The picture of the program's windows: the screen's size, each dialog at its
// place, the owned dialog above its owner.
#include "framework/screenshot.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>

#include "framework/win_app.h"
#include "platform/window_messages.h"
#include "tests/framework/dialog_test_support.h"
#include "tests/framework/probe_dialog.h"
#include "tests/support/scratch_directory.h"

namespace {

using namespace framework_test;

TEST(ScreenshotTest, DialogsAreDrawnInTheirPlacesOwnersBelow) {
    EnsureApplication();
    testing_support::CScratchDirectory scratch;
    const std::string path = scratch / "windows.png";
    CWinApp app;
    CProbeDialog outer;
    CProbeDialog inner;
    app.SetMainWnd(&outer);
    bool saved = false;
    outer.onProbe = [&] {
        RunModal(inner, [&] {
            inner.SetWindowPos(WindowOrder::kTop, 300, 200, 200, 100, 0);
            PumpFor(std::chrono::milliseconds(20));
            saved = SaveScreenshot(path);
        });
    };
    RunModal(outer, [&] {
        outer.SetWindowPos(WindowOrder::kTop, 0, 0, 600, 400, 0);
        // The outer multi-line edit is white; mark it apart from the inner one.
        outer.GetDlgItem(kProbeMultiLineId)->GetWidget()->setStyleSheet("background: #00ff00");
        outer.PostMessage(platform::RegisterWindowMessage(kProbeMessageName));
        PumpUntil([&] { return saved; });
    });
    app.SetMainWnd(nullptr);
    ASSERT_TRUE(saved);

    const QImage image(QString::fromStdString(path));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QGuiApplication::primaryScreen()->geometry().size());
    // Outside every window: the canvas.
    EXPECT_EQ(image.pixelColor(image.width() - 2, image.height() - 2), QColor(Qt::black));
    // The outer edit (from 5, 5 dialog units, 3 pixels each) where the inner
    // dialog does not cover it...
    EXPECT_EQ(image.pixelColor(25, 25), QColor(0, 255, 0));
    // ...and the inner dialog's own edit above it (white, not green): 1 pixel
    // per dialog unit there.
    const QColor innerEdit = image.pixelColor(300 + 100, 200 + 20);
    EXPECT_NE(innerEdit, QColor(0, 255, 0));
    EXPECT_NE(innerEdit, QColor(Qt::black));
}

}  // namespace
