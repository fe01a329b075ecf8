// CDialog: the order of a modal run, the controls built from a template, and
// the template scaled to the window's size.
#include "framework/dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <cmath>

#include "framework/dialog_messages.h"
#include "framework/dialog_window.h"
#include "framework/win_app.h"
#include "platform/window_messages.h"
#include "tests/framework/dialog_test_support.h"
#include "tests/framework/probe_dialog.h"

namespace {

using framework_test::CProbeDialog;
using framework_test::kEndedByTest;
using framework_test::ProbeTemplate;
using framework_test::RunModal;

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { framework_test::EnsureApplication(); }
};

TEST_F(DialogTest, RunGoesCreateInitActivateThenDestroyWhileControlsExist) {
    CProbeDialog dialog;
    std::vector<std::string> seenInside;
    const auto result = RunModal(dialog, [&] { seenInside = dialog.calls; });
    EXPECT_EQ(result, kEndedByTest);
    EXPECT_EQ(seenInside, (std::vector<std::string>{"create", "init", "activate 1"}));
    EXPECT_FALSE(dialog.controlsAtCreate);  // controls come after creation
    EXPECT_TRUE(dialog.controlsAtInit);
    EXPECT_TRUE(dialog.controlsAtDestroy);  // and go after destruction
    ASSERT_FALSE(dialog.calls.empty());
    EXPECT_EQ(dialog.calls.back(), "destroy");
    EXPECT_EQ(dialog.GetSafeHwnd(), platform::kNoWindow);
    EXPECT_EQ(dialog.GetDlgItem(framework_test::kProbeButtonId), nullptr);
}

TEST_F(DialogTest, CreationRefusedEndsTheRunWithoutInitialisation) {
    CProbeDialog dialog;
    dialog.createResult = -1;
    bool ranInside = false;
    EXPECT_EQ(RunModal(dialog, [&] { ranInside = true; }), -1);
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"create", "destroy"}));
    EXPECT_FALSE(ranInside);
}

TEST_F(DialogTest, EndDialogDuringInitialisationEndsBeforeShowing) {
    CProbeDialog dialog;
    dialog.onInit = [&] { dialog.EndDialog(42); };
    bool ranInside = false;
    EXPECT_EQ(RunModal(dialog, [&] { ranInside = true; }), 42);
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"create", "init", "destroy"}));
    EXPECT_FALSE(ranInside);
}

TEST_F(DialogTest, ControlObjectsOutliveTheWindowAndComeBackNextRun) {
    CProbeDialog dialog;
    CWnd* first = nullptr;
    RunModal(dialog, [&] {
        first = dialog.GetDlgItem(framework_test::kProbeMultiLineId);
        ASSERT_NE(first, nullptr);
        first->SetWindowText("kept?");
    });
    ASSERT_NE(first, nullptr);
    // Between runs the object is there, without a widget: calls do nothing.
    EXPECT_EQ(first->GetWidget(), nullptr);
    first->EnableWindow(false);
    first->SetWindowText("ignored");
    EXPECT_EQ(first->GetWindowText(), "");
    EXPECT_FALSE(first->IsWindowEnabled());

    CWnd* second = nullptr;
    std::string text;
    RunModal(dialog, [&] {
        second = dialog.GetDlgItem(framework_test::kProbeMultiLineId);
        text = second != nullptr ? second->GetWindowText() : "missing";
    });
    EXPECT_EQ(second, first);
    EXPECT_EQ(text, "");  // a new window starts from the template
}

TEST_F(DialogTest, ControlsFollowTheirTemplateStyles) {
    using namespace framework_test;
    CProbeDialog dialog;
    RunModal(dialog, [&] {
        auto* multiLine =
            qobject_cast<QPlainTextEdit*>(dialog.GetDlgItem(kProbeMultiLineId)->GetWidget());
        ASSERT_NE(multiLine, nullptr);
        EXPECT_EQ(multiLine->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        EXPECT_EQ(multiLine->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        EXPECT_FALSE(multiLine->isReadOnly());
        EXPECT_NE(multiLine->frameShape(), QFrame::NoFrame);

        auto* line = qobject_cast<QLineEdit*>(dialog.GetDlgItem(kProbeLineId)->GetWidget());
        ASSERT_NE(line, nullptr);
        EXPECT_TRUE(line->hasFrame());
        EXPECT_FALSE(line->isReadOnly());
        auto* readOnly = qobject_cast<QLineEdit*>(dialog.GetDlgItem(kProbeReadOnlyId)->GetWidget());
        ASSERT_NE(readOnly, nullptr);
        EXPECT_FALSE(readOnly->hasFrame());
        EXPECT_TRUE(readOnly->isReadOnly());

        auto* bar = qobject_cast<QProgressBar*>(dialog.GetDlgItem(kProbeProgressId)->GetWidget());
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), 100);
        EXPECT_EQ(bar->value(), 0);

        auto* button = qobject_cast<QPushButton*>(dialog.GetDlgItem(kProbeButtonId)->GetWidget());
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), "Press");
        EXPECT_FALSE(button->isDefault());
        EXPECT_EQ(button->focusPolicy(), Qt::StrongFocus);
        CWnd* defaultButton = dialog.GetDlgItem(kProbeDefaultButtonId);
        EXPECT_TRUE(qobject_cast<QPushButton*>(defaultButton->GetWidget())->isDefault());
        EXPECT_FALSE(defaultButton->IsWindowEnabled());  // disabled in the template

        const auto labels = dialog.GetWidget()->findChildren<QLabel*>();
        ASSERT_EQ(labels.size(), 1);
        EXPECT_EQ(labels[0]->text(), "Label:");
        EXPECT_EQ(labels[0]->alignment(), Qt::AlignRight | Qt::AlignVCenter);
        EXPECT_EQ(dialog.GetDlgItem(kStaticControlId), nullptr);  // labels are not looked up
        EXPECT_EQ(dialog.GetDlgItem(12345), nullptr);
        EXPECT_EQ(dialog.GetWindowText(), "Probe");
    });
}

TEST_F(DialogTest, TextsKeepLineEndsAndProgressStaysInRange) {
    using namespace framework_test;
    CProbeDialog dialog;
    RunModal(dialog, [&] {
        CWnd* area = dialog.GetDlgItem(kProbeMultiLineId);
        area->SetWindowText("first\r\nsecond");
        EXPECT_EQ(qobject_cast<QPlainTextEdit*>(area->GetWidget())->toPlainText(), "first\nsecond");
        EXPECT_EQ(area->GetWindowText(), "first\r\nsecond");
        dialog.SetWindowText("Caption");
        EXPECT_EQ(dialog.GetWidget()->windowTitle(), "Caption");

        CWnd* bar = dialog.GetDlgItem(kProbeProgressId);
        const std::vector<std::pair<int, int>> positions = {
            {57, 57}, {100, 100}, {130, 100}, {-5, 0}, {0, 0}};
        for (const auto& [set, shown] : positions) {
            bar->SetPos(set);
            EXPECT_EQ(bar->GetPos(), shown) << set;
        }
        EXPECT_EQ(area->GetPos(), 0);  // not a progress bar
    });
}

TEST_F(DialogTest, ActivationIsReportedOnChangesOnlyAndSetsTheForegroundWindow) {
    CProbeDialog dialog;
    RunModal(dialog, [&] {
        // Qt's own activation of the shown window repeats what the run
        // reported already.
        framework_test::PumpFor(std::chrono::milliseconds(50));
        EXPECT_EQ(dialog.Count("activate 1"), 1u);
        EXPECT_EQ(platform::GetForegroundWindow(), dialog.GetSafeHwnd());

        // The window system takes the activation away and gives it back.
        QApplication::setActiveWindow(nullptr);
        EXPECT_TRUE(framework_test::PumpUntil([&] { return dialog.Count("activate 0") == 1; }));
        EXPECT_FALSE(dialog.IsActive());
        QApplication::setActiveWindow(dialog.GetWidget());
        EXPECT_TRUE(framework_test::PumpUntil([&] { return dialog.Count("activate 1") == 2; }));
        EXPECT_TRUE(dialog.IsActive());
        // A burst that ends where it began reports nothing.
        QApplication::setActiveWindow(nullptr);
        QApplication::setActiveWindow(dialog.GetWidget());
        framework_test::PumpFor(std::chrono::milliseconds(30));
        EXPECT_EQ(dialog.Count("activate 0"), 1u);
        EXPECT_EQ(dialog.Count("activate 1"), 2u);
    });
}

struct ScaleCase {
    int width;
    int height;
};

class DialogScaleTest : public DialogTest, public ::testing::WithParamInterface<ScaleCase> {};

// Every control keeps its place and proportions relative to the client area:
// edges at the template's fraction of the width and height.
TEST_P(DialogScaleTest, TemplateIsScaledToTheClientArea) {
    const ScaleCase scale = GetParam();
    const DialogTemplate& probe = ProbeTemplate();
    CProbeDialog dialog;
    RunModal(dialog, [&] {
        // The rectangle given is the frame's; the template fills the client area.
        ASSERT_TRUE(dialog.SetWindowPos(WindowOrder::kTop, 10, 20, scale.width, scale.height, 0));
        QWidget* window = dialog.GetWidget();
        ASSERT_EQ(window->frameGeometry(), QRect(10, 20, scale.width, scale.height));
        const QSize client = window->size();
        for (const DialogItemTemplate& item : probe.items) {
            if (item.id == kStaticControlId) {
                continue;
            }
            const QRect placed = dialog.GetDlgItem(item.id)->GetWidget()->geometry();
            const double sx = static_cast<double>(client.width()) / probe.width;
            const double sy = static_cast<double>(client.height()) / probe.height;
            EXPECT_NEAR(placed.left(), item.x * sx, 0.5) << item.id;
            EXPECT_NEAR(placed.top(), item.y * sy, 0.5) << item.id;
            EXPECT_NEAR(placed.left() + placed.width(), (item.x + item.width) * sx, 0.5) << item.id;
            EXPECT_NEAR(placed.top() + placed.height(), (item.y + item.height) * sy, 0.5)
                << item.id;
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Sizes, DialogScaleTest,
                         ::testing::Values(ScaleCase{300, 188}, ScaleCase{800, 480},
                                           ScaleCase{1920, 1080}, ScaleCase{200, 300}));

TEST_F(DialogTest, NominalSizeFirstAndFontsScaleWithTheWindowExceptOwnOnes) {
    using namespace framework_test;
    CProbeDialog dialog;
    RunModal(dialog, [&] {
        // 9 points at 96 dots per inch: 12 pixels; 200 x 100 units at 1.5 x
        // 1.875 pixels each.
        QWidget* window = dialog.GetWidget();
        EXPECT_EQ(window->size(), QSize(300, 188));
        EXPECT_EQ(window->font().pixelSize(), 12);

        CWnd* area = dialog.GetDlgItem(kProbeMultiLineId);
        CWnd* line = dialog.GetDlgItem(kProbeLineId);
        FontDescription own = area->GetFont();
        own.height = 30;
        area->SetFont(own);

        dialog.SetWindowPos(WindowOrder::kTop, 0, 0, 600, 375, 0);
        EXPECT_EQ(line->GetFont().height, 24);  // twice the nominal scale
        EXPECT_EQ(area->GetFont().height, 30);
        // The smaller of the two scales counts, so that texts fit both ways.
        dialog.SetWindowPos(WindowOrder::kTop, 0, 0, 1200, 375, 0);
        EXPECT_EQ(line->GetFont().height, 24);
        EXPECT_EQ(area->GetFont().height, 30);
    });
}

}  // namespace
