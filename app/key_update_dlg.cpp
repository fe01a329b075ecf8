#include "app/key_update_dlg.h"

#include <new>
#include <string>

#include "app/debug_text.h"
#include "app/res/dialog_templates.h"
#include "app/res/resource.h"
#include "engine/event_messages.h"
#include "engine/firmware_updater.h"
#include "engine/key_update_engine.h"
#include "framework/dialog_messages.h"
#include "mcu_link/engine_event_table.h"
#include "mcu_link/mcu_frame_info.h"
#include "platform/debug_output.h"
#include "platform/window_messages.h"

namespace {

// The key window's message area font height, logical units (pixels).
constexpr int kMessageAreaFontHeight = 20;

// The message is registered before any window exists.
const platform::MessageId kKeyEventMessage = KeyEventMessage();

void ApplyButton(CWnd* button, ButtonState state) {
    if (button != nullptr && state != ButtonState::kUnchanged) {
        button->EnableWindow(state == ButtonState::kOn);
    }
}

}  // namespace

CKeyUpdateDlg::CKeyUpdateDlg(CDialog* parent) : CDialog(KeyDialogTemplate(), parent) {
    CMessageMap& map = MessageMap();
    map.OnCommand(kKeyStartButtonId, [this] { OnStart(); });
    map.OnCommand(kKeyExitButtonId, [this] { OnExit(); });
    map.OnCreate([this] { return OnCreate(); });
    map.OnActivate([this](unsigned state) { OnActivate(state); });
    map.OnMessage(kKeyEventMessage, [this](platform::WParam code, platform::LParam value) {
        return OnKeyEvent(code, value);
    });
    map.OnTimer([this](platform::TimerId timerId) { OnTimer(timerId); });
    map.OnClose([this] { OnClose(); });
}

CKeyUpdateDlg::~CKeyUpdateDlg() = default;

void CKeyUpdateDlg::OnReadBack(McuFrameInfo* record) {
    if (record == nullptr) {
        return;
    }
    if (m_engine) {
        m_engine->CompareReadBack(record->payloadLength, record->payload);
    }
    CFirmwareUpdater::FreeReadBack(record);
}

void CKeyUpdateDlg::OnStart() {
    if (m_engine) {
        m_engine->SendKey();
    }
    if (m_exitButton != nullptr) {
        m_exitButton->EnableWindow(false);
    }
    if (m_startButton != nullptr) {
        m_startButton->EnableWindow(false);
    }
}

void CKeyUpdateDlg::OnExit() {
    PostMessage(platform::kWmClose);
}

int CKeyUpdateDlg::OnCreate() {
    if (CDialog::OnCreate() == -1) {
        return -1;
    }
    // The controls do not exist yet: the pointer stays null, so the events of
    // this first engine wait until activation has looked the controls up.
    m_messageArea = GetDlgItem(kKeyMessageAreaId);
    m_automation.NewKeyWindowRun();
    CreateEngine();
    return 0;
}

void CKeyUpdateDlg::OnActivate(unsigned state) {
    CDialog::OnActivate(state);
    if (state != kWaActive) {
        return;
    }
    LookUpControls();
    CreateEngine();
}

void CKeyUpdateDlg::LookUpControls() {
    m_messageArea = GetDlgItem(kKeyMessageAreaId);
    m_startButton = GetDlgItem(kKeyStartButtonId);
    m_exitButton = GetDlgItem(kKeyExitButtonId);
    if (m_messageArea != nullptr && m_startButton != nullptr && m_exitButton != nullptr) {
        FontDescription font = m_messageArea->GetFont();
        font.height = kMessageAreaFontHeight;
        m_messageArea->SetFont(font, true);
    }
}

void CKeyUpdateDlg::CreateEngine() {
    m_engine.reset();  // the old engine's answer timer stops with it
    m_engine.reset(new (std::nothrow) CKeyUpdateEngine(GetSafeHwnd()));
    if (m_engine) {
        m_engine->Prepare(m_port);
    }
}

platform::LResult CKeyUpdateDlg::OnKeyEvent(platform::WParam code, platform::LParam) {
    if (m_messageArea == nullptr) {
        return 0;  // the controls have not been looked up yet
    }
    const KeyEventRow* row = FindKeyEventRow(static_cast<std::uint32_t>(code));
    if (row == nullptr) {
        return 1;
    }
    platform::DebugPrintf("CKeyUpdateDlg: key event %u\n", static_cast<unsigned>(code));
    if (row->code == KeyEvent::kFileFound) {
        std::string name;
        if (m_engine) {
            m_engine->GetFileName(name);
        }
        ShowText(FormatKeyFileFoundText(name));
    } else {
        ShowText(row->text);
    }
    ApplyButton(m_startButton, row->start);
    ApplyButton(m_exitButton, row->exit);
    if (row->code == KeyEvent::kFileFound) {
        m_automation.OnKeyFileOffered(*this, kKeyStartButtonId);
    } else if (row->code == KeyEvent::kVerified || row->code == KeyEvent::kFailed) {
        m_automation.OnFinalText();
    }
    return 1;
}

void CKeyUpdateDlg::ShowText(std::string_view text) {
    m_messageArea->SetWindowText(text);
    platform::DebugPrintf("CKeyUpdateDlg: text %s\n", OneDebugLine(text).c_str());
}

void CKeyUpdateDlg::OnTimer(platform::TimerId timerId) {
    if (m_engine) {
        m_engine->OnTimer(timerId);
    }
    CDialog::OnTimer(timerId);
}

void CKeyUpdateDlg::OnClose() {
    CDialog::OnClose();
    m_engine.reset();
}
