#include "app/automation.h"

#include <QTimer>
#include <cstdlib>
#include <string_view>

#include "framework/dialog.h"
#include "framework/dialog_messages.h"
#include "framework/screenshot.h"
#include "platform/debug_output.h"
#include "platform/window_messages.h"

namespace {

// Presses a button as a user would: only an enabled one, through its command.
bool PressButton(CDialog& dialog, int buttonId) {
    CWnd* button = dialog.GetDlgItem(buttonId);
    if (button == nullptr || !button->IsWindowEnabled()) {
        return false;
    }
    // Posted, so that whatever the press starts runs after the current handler.
    return dialog.PostMessage(platform::kWmCommand, MakeCommandWParam(buttonId, kButtonClicked), 0);
}

}  // namespace

CAutomation::CAutomation() {
    if (const char* path = std::getenv(kScreenshotVariable)) {
        m_screenshotPath = path;
    }
    if (const char* task = std::getenv(kAutomateVariable)) {
        m_keyUpdate = std::string_view(task) == kKeyUpdateTask;
        if (!m_keyUpdate) {
            platform::DebugPrintf("automation: unknown task [%s] ignored\n", task);
        }
    }
}

void CAutomation::OnFinalText() {
    if (!WantsScreenshot()) {
        return;
    }
    const std::string path = m_screenshotPath;
    QTimer::singleShot(kScreenshotDelayMs, [path] {
        platform::DebugPrintf("automation: screenshot %s %s\n", path.c_str(),
                              SaveScreenshot(path) ? "written" : "FAILED");
    });
}

void CAutomation::OnUpdateSucceeded(CDialog& mainWindow, int keyUpdateButtonId) {
    if (!WantsKeyUpdate()) {
        return;
    }
    if (!PressButton(mainWindow, keyUpdateButtonId)) {
        platform::DebugPrintf("automation: KeyUpdate is not available on this unit\n");
    }
}

void CAutomation::OnKeyFileOffered(CDialog& keyWindow, int startButtonId) {
    if (!WantsKeyUpdate() || m_startPressed) {
        return;
    }
    m_startPressed = PressButton(keyWindow, startButtonId);
}
