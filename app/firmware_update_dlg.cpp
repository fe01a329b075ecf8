#include "app/firmware_update_dlg.h"

#include <string>

#include "app/debug_text.h"
#include "app/res/dialog_templates.h"
#include "app/res/icon_resources.h"
#include "app/res/resource.h"
#include "engine/answer_timer.h"
#include "engine/event_messages.h"
#include "engine/platform_identification.h"
#include "engine/updater_holder.h"
#include "framework/system_metrics.h"
#include "framework/win_app.h"
#include "mcu_link/engine_event_table.h"
#include "mcu_link/engine_events.h"
#include "platform/debug_output.h"
#include "platform/window_messages.h"

namespace {

// Registered before any window exists, as every module that posts or
// receives them does.
const platform::MessageId kEngineEventMessage = EngineEventMessage();
[[maybe_unused]] const platform::MessageId kKeyEventMessage = KeyEventMessage();
[[maybe_unused]] const platform::MessageId kMcuComOpMessage = McuComOpMessage();

// Platforms whose link protocol recognises the key read-back.
constexpr std::uint8_t kKeyPlatforms[] = {8, 9, 12};

void ApplyButton(CWnd* button, ButtonState state) {
    if (button != nullptr && state != ButtonState::kUnchanged) {
        button->EnableWindow(state == ButtonState::kOn);
    }
}

}  // namespace

CFirmwareUpdateDlg::CFirmwareUpdateDlg() : CDialog(MainDialogTemplate(), nullptr) {
    RegisterIconResources();
    if (CWinApp* app = CWinApp::GetApp()) {
        m_icon = app->LoadIcon(kMainIconId);
    }
    CMessageMap& map = MessageMap();
    map.OnCommand(kStartButtonId, [this] { OnStart(); });
    map.OnCommand(kExitButtonId, [this] { OnExit(); });
    map.OnCommand(kKeyUpdateButtonId, [this] { OnKeyUpdate(); });
    map.OnMessage(kEngineEventMessage, [this](platform::WParam code, platform::LParam value) {
        return OnEngineEvent(code, value);
    });
    map.OnTimer([this](platform::TimerId timerId) { OnTimer(timerId); });
    map.OnClose([this] { OnClose(); });
    map.OnDestroy([this] { OnDestroy(); });
}

CFirmwareUpdateDlg::~CFirmwareUpdateDlg() = default;

bool CFirmwareUpdateDlg::IsKeyUpdateAvailable() {
    const std::uint8_t platformCode = GetPlatformCode();  // never cached
    for (const std::uint8_t keyPlatform : kKeyPlatforms) {
        if (platformCode == keyPlatform) {
            return true;
        }
    }
    return false;
}

bool CFirmwareUpdateDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetIcon(m_icon, true);
    SetIcon(m_icon, false);
    SetWindowText(kCaption);
    SetWindowPos(WindowOrder::kTopMost, 0, 0, GetSystemMetrics(kSmCxScreen),
                 GetSystemMetrics(kSmCyScreen), kSwpShowWindow);
    SetTimer(kPlacementTimerId, kPlacementPeriodMs);

    m_messageArea = GetDlgItem(kMessageAreaId);
    m_percentField = GetDlgItem(kPercentFieldId);
    m_startButton = GetDlgItem(kStartButtonId);
    m_exitButton = GetDlgItem(kExitButtonId);
    m_keyButton = GetDlgItem(kKeyUpdateButtonId);
    m_progressBar = GetDlgItem(kProgressBarId);

    m_exitButton->EnableWindow(false);
    m_startButton->EnableWindow(false);
    m_keyButton->EnableWindow(false);

    FontDescription font = m_messageArea->GetFont();
    font.height = kMessageAreaFontHeight;
    m_messageArea->SetFont(font, true);

    if (!IsKeyUpdateAvailable()) {
        m_keyButton->EnableWindow(false);
    }

    m_holder = CUpdaterHolder::Create(GetSafeHwnd());
    PostMessage(kEngineEventMessage, static_cast<platform::WParam>(EngineEvent::kStartUp), 0);
    return true;
}

void CFirmwareUpdateDlg::OnStart() {
    StartTransfer();
}

void CFirmwareUpdateDlg::OnExit() {
    PostMessage(platform::kWmClose);
}

void CFirmwareUpdateDlg::OnKeyUpdate() {
    m_keyWindow.DoModal();  // the result says nothing the window needs
}

void CFirmwareUpdateDlg::StartTransfer() {
    if (m_holder != nullptr) {
        m_holder->Start();
    }
}

platform::LResult CFirmwareUpdateDlg::OnEngineEvent(platform::WParam code, platform::LParam value) {
    const EngineEventRow* row = FindEngineEventRow(static_cast<std::uint32_t>(code));
    if (row == nullptr) {
        return 0;  // not an event of this window
    }
    platform::DebugPrintf("CFirmwareUpdateDlg: event %u (%ld)\n", static_cast<unsigned>(code),
                          static_cast<long>(value));
    switch (row->code) {
        case EngineEvent::kFileFound:
            OnFileFound(*row);
            break;
        case EngineEvent::kStartUp:
            OnStartUp(*row);
            break;
        case EngineEvent::kProgress:
            OnProgress(value);
            break;
        case EngineEvent::kParseProgress:
            OnParseProgress(*row, value);
            break;
        case EngineEvent::kKeyReadBack:
            OnKeyReadBack(value);
            break;
        case EngineEvent::kBeginTransfer:
            OnBeginTransfer();
            break;
        case EngineEvent::kTransferRunning:
        case EngineEvent::kUpdateSucceeded:
        case EngineEvent::kUpdateFailed:
        case EngineEvent::kFileMissing:
        case EngineEvent::kPortUnavailable:
            ShowEvent(*row);
            break;
    }
    return 0;
}

void CFirmwareUpdateDlg::ShowEvent(const EngineEventRow& row) {
    ShowText(row.text);
    SetButtons(row);
    if (row.code != EngineEvent::kTransferRunning) {
        m_automation.OnFinalText();
    }
    if (row.code == EngineEvent::kUpdateSucceeded) {
        m_automation.OnUpdateSucceeded(*this, kKeyUpdateButtonId);
    }
}

void CFirmwareUpdateDlg::ShowText(std::string_view text) {
    m_messageArea->SetWindowText(text);
    // The texts go to the debug output too: the trace of the outcome when
    // nobody watches the screen.
    platform::DebugPrintf("CFirmwareUpdateDlg: text %s\n", OneDebugLine(text).c_str());
}

void CFirmwareUpdateDlg::SetButtons(const EngineEventRow& row) {
    ApplyButton(m_startButton, row.start);
    ApplyButton(m_exitButton, row.exit);
    // KeyUpdate stays off where the key read-back is not understood.
    const ButtonState key = row.keyUpdate == ButtonState::kOn && !IsKeyUpdateAvailable()
                                ? ButtonState::kOff
                                : row.keyUpdate;
    ApplyButton(m_keyButton, key);
}

void CFirmwareUpdateDlg::OnFileFound(const EngineEventRow& row) {
    std::string name;
    if (m_holder != nullptr) {
        m_holder->GetFileName(name);
    }
    ShowText(FormatFirmwareFoundText(name));
    SetButtons(row);
}

void CFirmwareUpdateDlg::OnStartUp(const EngineEventRow& row) {
    ShowText(row.text);
    if (m_holder == nullptr) {
        return;
    }
    // Runs on this thread until the initialisation is over; the verdict
    // events it posts are handled afterwards.
    m_holder->Initialise();
    m_keyWindow.SetPortHandle(m_holder->GetPortHandle());
}

void CFirmwareUpdateDlg::OnProgress(platform::LParam percent) {
    const int value = static_cast<int>(percent);
    m_percentField->SetWindowText(FormatPercentText(value));
    m_progressBar->SetPos(value);
}

void CFirmwareUpdateDlg::OnParseProgress(const EngineEventRow&, platform::LParam percent) {
    ShowText(FormatParseProgressText(static_cast<int>(percent)));
}

void CFirmwareUpdateDlg::OnKeyReadBack(platform::LParam record) {
    m_keyWindow.OnReadBack(reinterpret_cast<McuFrameInfo*>(record));
}

void CFirmwareUpdateDlg::OnBeginTransfer() {
    StartTransfer();
}

void CFirmwareUpdateDlg::OnTimer(platform::TimerId timerId) {
    if (timerId == kPlacementTimerId) {
        PlaceFullScreen();
    } else if (timerId == CAnswerTimer::kTimerId && m_holder != nullptr) {
        m_holder->OnTimer(timerId);
    }
    CDialog::OnTimer(timerId);
}

void CFirmwareUpdateDlg::PlaceFullScreen() {
    // Top-most with the screen's size at the window's current corner: the
    // window stays above the others and keeps its size, wherever it is.
    WindowRect rect;
    GetWindowRect(rect);
    SetWindowPos(WindowOrder::kTopMost, rect.left, rect.top, GetSystemMetrics(kSmCxScreen),
                 GetSystemMetrics(kSmCyScreen), kSwpShowWindow);
}

void CFirmwareUpdateDlg::OnClose() {
    KillTimer(kPlacementTimerId);
    CDialog::OnClose();
}

void CFirmwareUpdateDlg::OnDestroy() {
    CDialog::OnDestroy();
    if (m_holder != nullptr) {
        m_holder->Stop();
        m_holder->Destroy();
        m_holder = nullptr;
    }
}
