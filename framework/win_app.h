// The application object: one per program, constructed before main() runs.
// RunWinApp makes the Qt application, the bridge that runs the platform
// messages and timers in Qt's loop and the signal closer, then calls
// InitInstance; when that answers false the program ends at once (with
// ExitInstance's code), otherwise Run enters the event loop.
//
// SIGTERM, SIGINT and SIGHUP close the main window as a close request does:
// the modal dialogs above it are asked to close first, so that its own modal
// run can end.
//
// Threads: the user-interface thread only.
#pragma once

#include <QIcon>
#include <string>
#include <string_view>

class CDialog;

class CWinApp {
public:
    // appName null: the executable's module name is taken once the program
    // runs.
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The application object; null when none was made.
    static CWinApp* GetApp();

    // Per-instance initialisation; true goes on to Run. The default answers true.
    virtual bool InitInstance();
    // The code the program ends with. The default answers 0.
    virtual int ExitInstance();
    // The event loop until the application quits; then ExitInstance.
    virtual int Run();

    // Where the original framework kept the application's settings; this
    // program keeps none, so nothing is stored.
    void SetRegistryKey(std::string_view key);

    CDialog* GetMainWnd() const { return m_mainWindow; }
    void SetMainWnd(CDialog* window) { m_mainWindow = window; }

    const std::string& GetAppName() const { return m_appName; }
    void SetAppName(std::string name) { m_appName = std::move(name); }

    // Icon resource id from the program's Qt resources (":/icons/<id>.png");
    // a null icon when there is none.
    QIcon LoadIcon(int resourceId) const;

    // Asks the main window to close (SIGTERM and its kin come here): the
    // modal dialogs above it first, then the window itself.
    void CloseMainWindow();

private:
    CDialog* m_mainWindow = nullptr;
    std::string m_appName;
};

// The program's entry, for main(): see above. The exit status.
int RunWinApp(int argc, char** argv);
