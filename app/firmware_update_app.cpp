#include "app/firmware_update_app.h"

#include "app/firmware_update_dlg.h"
#include "engine/event_messages.h"

namespace {

// Registered before any window exists.
[[maybe_unused]] const platform::MessageId kEngineEventMessage = EngineEventMessage();
[[maybe_unused]] const platform::MessageId kKeyEventMessage = KeyEventMessage();
[[maybe_unused]] const platform::MessageId kMcuComOpMessage = McuComOpMessage();

}  // namespace

CFirmwareUpdateApp theApp;

// No name of its own: the framework takes the executable's module name.
CFirmwareUpdateApp::CFirmwareUpdateApp() : CWinApp(nullptr) {}

bool CFirmwareUpdateApp::InitInstance() {
    SetRegistryKey(kRegistryKey);
    {
        CFirmwareUpdateDlg dialog;
        SetMainWnd(&dialog);
        dialog.DoModal();  // the result says nothing the program needs
        SetMainWnd(nullptr);
    }
    // The window is gone: end the program rather than enter the loop.
    return false;
}
