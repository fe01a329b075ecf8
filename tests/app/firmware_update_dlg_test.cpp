// The main update window: its state after initialisation, every engine event
// of the table, progress, the start routine, the read-back hand-over and the
// placement timer. The updater is the real one, in a unit without a serial
// port (so its start-up ends with event 5), on the test clock.
#include "app/firmware_update_dlg.h"

#include <gtest/gtest.h>

#include <QPlainTextEdit>

#include "app/res/resource.h"
#include "engine/event_messages.h"
#include "engine/firmware_updater.h"
#include "engine/updater_holder.h"
#include "framework/dialog_messages.h"
#include "framework/system_metrics.h"
#include "framework/win_app.h"
#include "mcu_link/engine_event_table.h"
#include "platform/test_clock.h"
#include "tests/app/app_test_support.h"
#include "tests/framework/dialog_test_support.h"

namespace {

using namespace app_test;
using framework_test::PumpUntil;
using framework_test::RunModal;

const std::string& PortBusyText() {
    static const std::string text(
        FindEngineEventRow(static_cast<std::uint32_t>(EngineEvent::kPortUnavailable))->text);
    return text;
}

class FirmwareUpdateDlgTest : private framework_test::CApplicationFirst, public ::testing::Test {
protected:
    void SetUp() override { m_app.SetMainWnd(&m_dialog); }
    void TearDown() override { m_app.SetMainWnd(nullptr); }

    // Runs the window; inside runs once the start-up has ended (event 5).
    void RunStarted(const std::function<void()>& inside) {
        RunModal(m_dialog, [&] {
            ASSERT_TRUE(PumpUntil([&] {
                return ControlText(m_dialog, kMessageAreaId) == PortBusyText();
            })) << ControlText(m_dialog, kMessageAreaId);
            inside();
        });
    }

    platform::LResult SendEvent(EngineEvent code, platform::LParam value = 0) {
        return m_dialog.SendMessage(EngineEventMessage(), static_cast<platform::WParam>(code),
                                    value);
    }

    platform::CScopedTestClock m_clock;
    CUnit m_unit;
    CWinApp m_app;
    CProbedUpdateDlg m_dialog;
};

class InitialStateTest : public FirmwareUpdateDlgTest,
                         public ::testing::WithParamInterface<UnitKind> {};

TEST_P(InitialStateTest, CaptionFontPlacementAndAllButtonsOff) {
    m_unit.WriteRegistry(GetParam());
    std::string caption;
    ButtonStates buttons{true, true, true};
    int fontHeight = 0;
    WindowRect rect;
    bool onTop = false;
    bool hasIcon = false;
    m_dialog.afterInit = [&] {
        caption = m_dialog.GetWindowText();
        buttons = MainButtons(m_dialog);
        fontHeight = m_dialog.GetDlgItem(kMessageAreaId)->GetFont().height;
        m_dialog.GetWindowRect(rect);
        onTop = m_dialog.GetWidget()->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        hasIcon = !m_dialog.GetIcon(true).isNull() && !m_dialog.GetWidget()->windowIcon().isNull();
        m_dialog.EndDialog(0);
    };
    m_dialog.DoModal();
    EXPECT_EQ(caption, "KestrovanV3.9");
    EXPECT_EQ(buttons, (ButtonStates{false, false, false}));
    EXPECT_EQ(fontHeight, 30);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.Width(), GetSystemMetrics(kSmCxScreen));
    EXPECT_EQ(rect.Height(), GetSystemMetrics(kSmCyScreen));
    EXPECT_TRUE(onTop);
    EXPECT_TRUE(hasIcon);
    EXPECT_EQ(m_dialog.GetHolder(), nullptr);  // destroyed with the window
}

INSTANTIATE_TEST_SUITE_P(Platforms, InitialStateTest,
                         ::testing::Values(kPlatform0, kPlatform7, kPlatform8),
                         [](const auto& info) {
                             return "Platform" + std::to_string(info.param.platformCode);
                         });

// Every row of the event table but those with a reaction of their own
// (7 progress, 8 start-up, 10 read-back, 12 start routine), on a unit with
// and without the key update, from all buttons on and from all buttons off.
struct EventCase {
    std::uint32_t code;
    UnitKind unit;
};

std::vector<EventCase> TableEventCases() {
    std::vector<EventCase> cases;
    for (std::uint32_t code = 0; code < 256; ++code) {
        const EngineEventRow* row = FindEngineEventRow(code);
        if (row == nullptr || row->code == EngineEvent::kProgress ||
            row->code == EngineEvent::kStartUp || row->code == EngineEvent::kKeyReadBack ||
            row->code == EngineEvent::kBeginTransfer) {
            continue;
        }
        cases.push_back({code, kPlatform8});
        cases.push_back({code, kPlatform7});
    }
    return cases;
}

class EngineEventTest : public FirmwareUpdateDlgTest,
                        public ::testing::WithParamInterface<EventCase> {};

bool Expected(ButtonState state, bool before) {
    return state == ButtonState::kUnchanged ? before : state == ButtonState::kOn;
}

TEST_P(EngineEventTest, ShowsItsTextAndSetsTheButtons) {
    const EventCase event = GetParam();
    const EngineEventRow& row = *FindEngineEventRow(event.code);
    const bool keyPlatform = event.unit.platformCode == 8;
    m_unit.WriteRegistry(event.unit);
    constexpr platform::LParam kValue = 42;
    RunStarted([&] {
        for (const bool before : {true, false}) {
            SCOPED_TRACE(before ? "buttons on before" : "buttons off before");
            SetMainButtons(m_dialog, {before, before, before});
            m_dialog.GetDlgItem(kMessageAreaId)->SetWindowText("before");

            EXPECT_EQ(m_dialog.SendMessage(EngineEventMessage(), event.code, kValue), 0);

            std::string text(row.text);
            if (row.code == EngineEvent::kFileFound) {
                text = FormatFirmwareFoundText("");  // this unit has no firmware file
            } else if (row.code == EngineEvent::kParseProgress) {
                text = FormatParseProgressText(kValue);
            }
            EXPECT_EQ(ControlText(m_dialog, kMessageAreaId), text);
            const bool key = Expected(row.keyUpdate, before) &&
                             (keyPlatform || row.keyUpdate != ButtonState::kOn);
            EXPECT_EQ(MainButtons(m_dialog),
                      (ButtonStates{Expected(row.start, before), Expected(row.exit, before), key}));
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Table, EngineEventTest, ::testing::ValuesIn(TableEventCases()),
                         [](const auto& info) {
                             return "Code" + std::to_string(info.param.code) + "Platform" +
                                    std::to_string(info.param.unit.platformCode);
                         });

TEST_F(FirmwareUpdateDlgTest, CodesOutsideTheTableChangeNothing) {
    m_unit.WriteRegistry(kPlatform8);
    RunStarted([&] {
        const ButtonStates before = MainButtons(m_dialog);
        for (const std::uint32_t code : {6u, 11u, 13u, 100u, 0xFFFFu}) {
            EXPECT_EQ(m_dialog.SendMessage(EngineEventMessage(), code, 7), 0);
            EXPECT_EQ(ControlText(m_dialog, kMessageAreaId), PortBusyText()) << code;
            EXPECT_EQ(MainButtons(m_dialog), before) << code;
        }
    });
}

TEST_F(FirmwareUpdateDlgTest, ProgressGoesToTheFieldAndTheBarOnly) {
    m_unit.WriteRegistry(kPlatform7);
    struct Case {
        platform::LParam percent;
        const char* field;
        int bar;
    };
    RunStarted([&] {
        const ButtonStates buttons = MainButtons(m_dialog);
        // Shown as it comes; the bar keeps to its range as the control does.
        for (const Case& step : {Case{57, "57 %", 57}, Case{100, "100 %", 100},
                                 Case{130, "130 %", 100}, Case{-5, "-5 %", 0}, Case{0, "0 %", 0}}) {
            SendEvent(EngineEvent::kProgress, step.percent);
            EXPECT_EQ(ControlText(m_dialog, kPercentFieldId), step.field);
            EXPECT_EQ(m_dialog.GetDlgItem(kProgressBarId)->GetPos(), step.bar) << step.percent;
        }
        EXPECT_EQ(ControlText(m_dialog, kMessageAreaId), PortBusyText());
        EXPECT_EQ(MainButtons(m_dialog), buttons);
    });
}

TEST_F(FirmwareUpdateDlgTest, BeginTransferRunsTheStartRoutine) {
    m_unit.WriteRegistry(kPlatform8);
    RunStarted([&] {
        std::vector<std::string> texts;
        auto* area =
            qobject_cast<QPlainTextEdit*>(m_dialog.GetDlgItem(kMessageAreaId)->GetWidget());
        QObject::connect(area, &QPlainTextEdit::textChanged,
                         [&] { texts.push_back(ControlText(m_dialog, kMessageAreaId)); });
        SendEvent(EngineEvent::kBeginTransfer);
        // Code 1 from the start routine, then the updater's refusal: this
        // unit has no firmware file to read.
        const std::string running(FindEngineEventRow(1)->text);
        const std::string missing(FindEngineEventRow(4)->text);
        EXPECT_TRUE(PumpUntil([&] { return !texts.empty() && texts.back() == missing; }));
        ASSERT_GE(texts.size(), 2u);
        EXPECT_EQ(texts.front(), running);
        EXPECT_EQ(MainButtons(m_dialog), (ButtonStates{false, false, true}));
    });
}

TEST_F(FirmwareUpdateDlgTest, ReadBackWithTheKeyWindowClosedIsFreedAndChangesNothing) {
    m_unit.WriteRegistry(kPlatform8);
    RunStarted([&] {
        const std::uint8_t answer[] = {'_', 1, 2, 3};
        McuFrameInfo* record = CFirmwareUpdater::MakeReadBack(answer, sizeof answer);
        ASSERT_NE(record, nullptr);
        // Posted as the receiver thread does; the window owns it from here.
        ASSERT_TRUE(m_dialog.PostMessage(EngineEventMessage(),
                                         static_cast<platform::WParam>(EngineEvent::kKeyReadBack),
                                         reinterpret_cast<platform::LParam>(record)));
        framework_test::PumpFor(std::chrono::milliseconds(20));
        EXPECT_EQ(m_dialog.GetKeyWindow().GetEngine(), nullptr);
        EXPECT_EQ(ControlText(m_dialog, kMessageAreaId), PortBusyText());
    });
}

TEST_F(FirmwareUpdateDlgTest, PlacementTimerRestoresAMovedWindowWithinASecond) {
    m_unit.WriteRegistry(kPlatform7);
    RunStarted([&] {
        QWidget* window = m_dialog.GetWidget();
        // Something moves and shrinks the window (and the timer's period
        // starts over, so that the test knows when it is due).
        m_dialog.KillTimer(CFirmwareUpdateDlg::kPlacementTimerId);
        m_dialog.SetTimer(CFirmwareUpdateDlg::kPlacementTimerId,
                          CFirmwareUpdateDlg::kPlacementPeriodMs);
        window->setGeometry(40, 30, 300, 200);
        ASSERT_TRUE(PumpUntil([&] { return window->frameGeometry().topLeft() != QPoint(0, 0); }));
        const QPoint corner = window->frameGeometry().topLeft();

        m_clock.Advance(CFirmwareUpdateDlg::kPlacementPeriodMs - 1);
        framework_test::PumpFor(std::chrono::milliseconds(30));
        EXPECT_EQ(window->size(), QSize(300, 200));

        m_clock.Advance(1);
        const QSize screen(GetSystemMetrics(kSmCxScreen), GetSystemMetrics(kSmCyScreen));
        EXPECT_TRUE(PumpUntil([&] { return window->frameGeometry().size() == screen; }))
            << window->frameGeometry().width() << "x" << window->frameGeometry().height();
        // At its current corner, not moved back to 0, 0; still top-most.
        EXPECT_EQ(window->frameGeometry().topLeft(), corner);
        EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_TRUE(window->isVisible());
    });
}

TEST_F(FirmwareUpdateDlgTest, ExitClosesTheWindowAndTheUpdaterGoesWithIt) {
    m_unit.WriteRegistry(kPlatform7);
    const auto result = RunModal(m_dialog, [&] {
        ASSERT_TRUE(PumpUntil([&] { return MainButtons(m_dialog).exit; }));
        ASSERT_NE(CUpdaterHolder::Instance(), nullptr);
        Click(m_dialog, kExitButtonId);
        PumpUntil([&] { return !m_dialog.ContinueModal(); });
    });
    EXPECT_EQ(result, kIdCancel);
    EXPECT_EQ(CUpdaterHolder::Instance(), nullptr);
    EXPECT_EQ(m_dialog.GetHolder(), nullptr);
}

}  // namespace
