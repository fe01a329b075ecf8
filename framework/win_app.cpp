#include "framework/win_app.h"

#include <QApplication>
#include <QString>
#include <utility>

#include "framework/dialog.h"
#include "framework/message_bridge.h"
#include "framework/signal_closer.h"
#include "platform/debug_output.h"
#include "platform/files.h"
#include "platform/window_messages.h"

namespace {

CWinApp* g_app = nullptr;

// The module's file name without directory and extension.
std::string ModuleName() {
    std::string name = platform::GetModuleFileName();
    if (const auto slash = name.find_last_of('/'); slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    if (const auto dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

}  // namespace

CWinApp::CWinApp(const char* appName) : m_appName(appName != nullptr ? appName : "") {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) {
        g_app = nullptr;
    }
}

CWinApp* CWinApp::GetApp() {
    return g_app;
}

bool CWinApp::InitInstance() {
    return true;
}

int CWinApp::ExitInstance() {
    return 0;
}

int CWinApp::Run() {
    QApplication::exec();
    return ExitInstance();
}

void CWinApp::SetRegistryKey(std::string_view) {}

QIcon CWinApp::LoadIcon(int resourceId) const {
    const QString path = QStringLiteral(":/icons/%1.png").arg(resourceId);
    QIcon icon(path);
    return icon.availableSizes().isEmpty() ? QIcon() : icon;
}

void CWinApp::CloseMainWindow() {
    if (m_mainWindow == nullptr || !m_mainWindow->IsModalRunning()) {
        // No window to close: the application's own loop ends instead.
        QCoreApplication::exit(0);
        return;
    }
    // Innermost first: each closes and ends its run before the next one's
    // loop gets control back.
    const std::vector<CDialog*> dialogs = CDialog::ModalDialogs();
    for (auto it = dialogs.rbegin(); it != dialogs.rend(); ++it) {
        (*it)->PostMessage(platform::kWmClose);
        if (*it == m_mainWindow) {
            break;
        }
    }
}

int RunWinApp(int argc, char** argv) {
    CWinApp* app = CWinApp::GetApp();
    if (app == nullptr) {
        platform::DebugPrintf("RunWinApp: no application object\n");
        return 1;
    }
    QApplication qtApplication(argc, argv);
    // The windows end the program through InitInstance, not Qt: a window
    // that closes must not quit the loops of the others.
    QApplication::setQuitOnLastWindowClosed(false);
    if (app->GetAppName().empty()) {
        app->SetAppName(ModuleName());
    }
    QCoreApplication::setApplicationName(QString::fromStdString(app->GetAppName()));

    CMessageBridge bridge;
    CSignalCloser closer([app](int signalNumber) {
        platform::DebugPrintf("signal %d: closing the main window\n", signalNumber);
        app->CloseMainWindow();
    });
    if (!app->InitInstance()) {
        return app->ExitInstance();
    }
    return app->Run();
}
