// Optional hooks for demonstrations and field checks, off unless their
// environment variable is set; with neither set the program behaves exactly
// as without them.
//
//   KESTROVAN_SCREENSHOT=<file>    after each final text (engine events 2, 3,
//                                  4, 5; key events 1, 3) a picture of the
//                                  windows is written to <file> (PNG), a
//                                  moment later, once the text is painted.
//   KESTROVAN_AUTOMATE=key-update  after a successful update the KeyUpdate
//                                  button is pressed (when it is enabled, as a
//                                  user could), and the key window's Start
//                                  once it offers a key file.
//
// Threads: the user-interface thread only.
#pragma once

#include <string>

class CDialog;

class CAutomation {
public:
    static constexpr const char* kScreenshotVariable = "KESTROVAN_SCREENSHOT";
    static constexpr const char* kAutomateVariable = "KESTROVAN_AUTOMATE";
    static constexpr const char* kKeyUpdateTask = "key-update";
    // Time for the final text to be painted before the picture is taken.
    static constexpr int kScreenshotDelayMs = 200;

    // The hooks as the environment asks for them now.
    CAutomation();

    // A final text is on show: the picture, when one is asked for.
    void OnFinalText();
    // The update succeeded: press KeyUpdate, when asked to.
    void OnUpdateSucceeded(CDialog& mainWindow, int keyUpdateButtonId);
    // The key window offers a key file: press Start once per opening, when
    // asked to. NewKeyWindowRun starts the count again.
    void OnKeyFileOffered(CDialog& keyWindow, int startButtonId);
    void NewKeyWindowRun() { m_startPressed = false; }

    bool WantsScreenshot() const { return !m_screenshotPath.empty(); }
    bool WantsKeyUpdate() const { return m_keyUpdate; }

private:
    std::string m_screenshotPath;
    bool m_keyUpdate = false;
    bool m_startPressed = false;
};
