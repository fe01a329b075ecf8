// The key update window on its own: what opening it shows for a usable key
// file, none, and one of the wrong size; Start, the read-back and the verdict
// over a pseudo-terminal standing in for the port; events before the
// controls are looked up; engines replaced on activation; closing while
// waiting. Test clock: the engine's 300 ms pause and its ticks run at once.
#include "app/key_update_dlg.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QPlainTextEdit>

#include "app/res/resource.h"
#include "engine/event_messages.h"
#include "engine/firmware_updater.h"
#include "engine/key_update_engine.h"
#include "framework/dialog_messages.h"
#include "mcu_link/engine_event_table.h"
#include "mcu_link/mcu_frame_info.h"
#include "platform/test_clock.h"
#include "tests/app/app_test_support.h"
#include "tests/framework/dialog_test_support.h"
#include "tests/support/pseudo_terminal.h"

namespace {

using namespace app_test;
using framework_test::PumpFor;
using framework_test::PumpUntil;
using framework_test::RunModal;

std::string KeyText(KeyEvent code) {
    return std::string(FindKeyEventRow(static_cast<std::uint32_t>(code))->text);
}

struct KeyButtons {
    bool start = false;
    bool exit = false;
    bool operator==(const KeyButtons&) const = default;
};

class KeyUpdateDlgTest : private framework_test::CApplicationFirst, public ::testing::Test {
protected:
    void TearDown() override {
        if (m_port >= 0) {
            close(m_port);
        }
    }

    std::string Text() const { return ControlText(m_dialog, kKeyMessageAreaId); }
    KeyButtons Buttons() const {
        return {m_dialog.GetDlgItem(kKeyStartButtonId)->IsWindowEnabled(),
                m_dialog.GetDlgItem(kKeyExitButtonId)->IsWindowEnabled()};
    }
    bool WaitForText(const std::string& text) {
        return PumpUntil([&] { return Text() == text; });
    }
    // The key window's port: the slave of a pseudo-terminal whose master
    // plays the microcontroller.
    void GivePort() {
        ASSERT_TRUE(m_terminal.IsOpen());
        m_port = open(m_terminal.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(m_port, 0);
        m_dialog.SetPortHandle(m_port);
    }
    // The microcontroller's read-back of key, as the updater's receiver hands it on.
    static McuFrameInfo* ReadBack(const std::vector<std::uint8_t>& key) {
        std::vector<std::uint8_t> answer = {'_'};
        answer.insert(answer.end(), key.begin(), key.end());
        answer.resize(1 + 256, 0);
        return CFirmwareUpdater::MakeReadBack(answer.data(),
                                              static_cast<std::uint16_t>(answer.size()));
    }
    // Every text the message area showed, in order.
    void RecordTexts() {
        auto* area =
            qobject_cast<QPlainTextEdit*>(m_dialog.GetDlgItem(kKeyMessageAreaId)->GetWidget());
        QObject::connect(area, &QPlainTextEdit::textChanged, [this] { m_texts.push_back(Text()); });
    }

    platform::CScopedTestClock m_clock;
    CUnit m_unit;
    CProbedKeyDlg m_dialog;
    testing_support::CPseudoTerminal m_terminal;
    int m_port = -1;
    std::vector<std::string> m_texts;
};

TEST_F(KeyUpdateDlgTest, OpeningWithAUsableKeyFileShowsItsNameAndOffersStart) {
    m_unit.WriteKeyFile("unit.key", kKeyHeaderBytes + 150);
    int fontHeight = 0;
    RunModal(m_dialog, [&] {
        EXPECT_TRUE(WaitForText(FormatKeyFileFoundText("unit.key"))) << Text();
        EXPECT_EQ(Text(), "Find a valid file: unit.key\r\nPlease click 'Start' button to update");
        EXPECT_EQ(Buttons(), (KeyButtons{true, true}));
        fontHeight = m_dialog.GetDlgItem(kKeyMessageAreaId)->GetFont().height;
    });
    EXPECT_EQ(fontHeight, 20);
}

TEST_F(KeyUpdateDlgTest, OpeningWithoutKeyFileShowsTheErrorAndOnlyExit) {
    RunModal(m_dialog, [&] {
        EXPECT_TRUE(WaitForText(KeyText(KeyEvent::kFileMissing))) << Text();
        PumpFor(std::chrono::milliseconds(20));
        EXPECT_EQ(Text(), KeyText(KeyEvent::kFileMissing));
        EXPECT_EQ(Buttons(), (KeyButtons{false, true}));
    });
}

class KeyFileSizeTest : public KeyUpdateDlgTest,
                        public ::testing::WithParamInterface<std::size_t> {};

TEST_P(KeyFileSizeTest, WrongSizeShowsTheFoundTextThenTheError) {
    m_unit.WriteKeyFile("short.key", GetParam());
    m_dialog.afterInit = [&] { RecordTexts(); };
    RunModal(m_dialog, [&] {
        EXPECT_TRUE(WaitForText(KeyText(KeyEvent::kFileMissing))) << Text();
        PumpFor(std::chrono::milliseconds(20));
        EXPECT_EQ(Buttons(), (KeyButtons{false, true}));
    });
    ASSERT_GE(m_texts.size(), 2u);
    EXPECT_EQ(m_texts[m_texts.size() - 2], FormatKeyFileFoundText("short.key"));
    EXPECT_EQ(m_texts.back(), KeyText(KeyEvent::kFileMissing));
}

INSTANTIATE_TEST_SUITE_P(Sizes, KeyFileSizeTest,
                         ::testing::Values(CKeyUpdateEngine::kMinKeyFileBytes - 1,
                                           CKeyUpdateEngine::kMaxKeyFileBytes + 1));

TEST_F(KeyUpdateDlgTest, StartDisablesBothButtonsUntilTheVerdict) {
    const std::vector<std::uint8_t> key = m_unit.WriteKeyFile("unit.key", kKeyHeaderBytes + 150);
    GivePort();
    RunModal(m_dialog, [&] {
        ASSERT_TRUE(WaitForText(FormatKeyFileFoundText("unit.key")));
        Click(m_dialog, kKeyStartButtonId);
        EXPECT_EQ(Buttons(), (KeyButtons{false, false}));
        EXPECT_TRUE(WaitForText(KeyText(KeyEvent::kRunning)));
        // The key frame and the read-back request went out on the port.
        EXPECT_FALSE(m_terminal.ReceiveFor(std::chrono::milliseconds(50)).empty());

        // Ticks without a read-back: still waiting, still both off.
        m_clock.Advance(CKeyUpdateEngine::kAnswerIntervalMs);
        PumpFor(std::chrono::milliseconds(20));
        EXPECT_EQ(Text(), KeyText(KeyEvent::kRunning));
        EXPECT_EQ(Buttons(), (KeyButtons{false, false}));

        m_dialog.OnReadBack(ReadBack(key));
        m_clock.Advance(CKeyUpdateEngine::kAnswerIntervalMs);
        EXPECT_TRUE(WaitForText(KeyText(KeyEvent::kVerified))) << Text();
        EXPECT_EQ(Buttons(), (KeyButtons{true, true}));
    });
}

TEST_F(KeyUpdateDlgTest, DifferentOrMissingReadBackFails) {
    const std::vector<std::uint8_t> key = m_unit.WriteKeyFile("unit.key", kKeyHeaderBytes + 150);
    GivePort();
    RunModal(m_dialog, [&] {
        ASSERT_TRUE(WaitForText(FormatKeyFileFoundText("unit.key")));
        Click(m_dialog, kKeyStartButtonId);
        std::vector<std::uint8_t> other = key;
        other[100] ^= 0xFF;
        m_dialog.OnReadBack(ReadBack(other));
        m_clock.Advance(CKeyUpdateEngine::kAnswerIntervalMs);
        EXPECT_TRUE(WaitForText(KeyText(KeyEvent::kFailed))) << Text();
        EXPECT_EQ(Buttons(), (KeyButtons{true, true}));

        // Again, and nothing comes back: the tenth tick fails.
        Click(m_dialog, kKeyStartButtonId);
        ASSERT_TRUE(WaitForText(KeyText(KeyEvent::kRunning)));
        for (int tick = 1; tick < CKeyUpdateEngine::kAnswerTicks; ++tick) {
            m_clock.Advance(CKeyUpdateEngine::kAnswerIntervalMs);
            PumpFor(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(Text(), KeyText(KeyEvent::kRunning));
        m_clock.Advance(CKeyUpdateEngine::kAnswerIntervalMs);
        EXPECT_TRUE(WaitForText(KeyText(KeyEvent::kFailed))) << Text();
    });
}

TEST_F(KeyUpdateDlgTest, KeyEventBeforeTheControlsAreLookedUpIsDropped) {
    m_unit.WriteKeyFile("unit.key", kKeyHeaderBytes + 150);
    platform::LResult early = -1;
    std::string earlyText = "unset";
    KeyButtons earlyButtons;
    m_dialog.afterInit = [&] {
        early = m_dialog.SendMessage(KeyEventMessage(),
                                     static_cast<platform::WParam>(KeyEvent::kRunning), 0);
        earlyText = Text();
        earlyButtons = Buttons();
    };
    platform::LResult late = -1;
    RunModal(m_dialog, [&] {
        ASSERT_TRUE(WaitForText(FormatKeyFileFoundText("unit.key")));
        late = m_dialog.SendMessage(KeyEventMessage(),
                                    static_cast<platform::WParam>(KeyEvent::kRunning), 0);
        EXPECT_EQ(Text(), KeyText(KeyEvent::kRunning));
        EXPECT_EQ(m_dialog.SendMessage(KeyEventMessage(), 5, 0), 1);  // not a key event: ignored
        EXPECT_EQ(Text(), KeyText(KeyEvent::kRunning));
    });
    EXPECT_EQ(early, 0);
    EXPECT_EQ(earlyText, "");
    EXPECT_EQ(earlyButtons, (KeyButtons{true, true}));  // as in the template
    EXPECT_EQ(late, 1);
}

TEST_F(KeyUpdateDlgTest, PlainActivationReplacesTheEngineAndClickActivationDoesNot) {
    m_unit.WriteKeyFile("unit.key", kKeyHeaderBytes + 150);
    RunModal(m_dialog, [&] {
        const std::string found = FormatKeyFileFoundText("unit.key");
        ASSERT_TRUE(WaitForText(found));
        Click(m_dialog, kKeyStartButtonId);  // no port: fails at once
        ASSERT_TRUE(WaitForText(KeyText(KeyEvent::kFailed)));

        m_dialog.SendMessage(kWmActivate, kWaClickActive);
        PumpFor(std::chrono::milliseconds(20));
        EXPECT_EQ(Text(), KeyText(KeyEvent::kFailed));

        m_dialog.SendMessage(kWmActivate, kWaActive);
        EXPECT_TRUE(WaitForText(found));
        EXPECT_EQ(Buttons(), (KeyButtons{true, true}));
    });
}

TEST_F(KeyUpdateDlgTest, ClosingWhileWaitingStopsTheEngineAndALateReadBackChangesNothing) {
    const std::vector<std::uint8_t> key = m_unit.WriteKeyFile("unit.key", kKeyHeaderBytes + 150);
    GivePort();
    const auto result = RunModal(m_dialog, [&] {
        ASSERT_TRUE(WaitForText(FormatKeyFileFoundText("unit.key")));
        Click(m_dialog, kKeyStartButtonId);
        ASSERT_TRUE(WaitForText(KeyText(KeyEvent::kRunning)));
        m_dialog.GetWidget()->close();  // the caption's close box
        PumpUntil([&] { return !m_dialog.ContinueModal(); });
    });
    EXPECT_EQ(result, kIdCancel);
    EXPECT_EQ(m_dialog.GetEngine(), nullptr);
    m_dialog.OnReadBack(ReadBack(key));  // freed without a comparison
    m_clock.Advance(10 * CKeyUpdateEngine::kAnswerIntervalMs);
    PumpFor(std::chrono::milliseconds(20));
    EXPECT_EQ(m_dialog.GetEngine(), nullptr);
}

TEST_F(KeyUpdateDlgTest, ExitButtonClosesAndEscapeKeepsTheEngineUntilTheNextRun) {
    m_unit.WriteKeyFile("unit.key", kKeyHeaderBytes + 150);
    EXPECT_EQ(RunModal(m_dialog,
                       [&] {
                           ASSERT_TRUE(WaitForText(FormatKeyFileFoundText("unit.key")));
                           Click(m_dialog, kKeyExitButtonId);
                           PumpUntil([&] { return !m_dialog.ContinueModal(); });
                       }),
              kIdCancel);
    EXPECT_EQ(m_dialog.GetEngine(), nullptr);

    // The framework's Cancel handling ends the dialog without the close
    // request: the engine stays until the next run makes a new one.
    RunModal(m_dialog, [&] {
        ASSERT_TRUE(WaitForText(FormatKeyFileFoundText("unit.key")));
        m_dialog.SendMessage(platform::kWmCommand, MakeCommandWParam(kIdCancel, kButtonClicked));
    });
    EXPECT_NE(m_dialog.GetEngine(), nullptr);
}

}  // namespace
