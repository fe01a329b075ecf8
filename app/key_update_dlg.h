// The key update window: a small modal dialog (template 129), opened from
// the main window's KeyUpdate button, in which the user sends the key
// configuration file to the microcontroller. It owns the current key update
// engine, gives it the serial port handle, forwards its timer ticks and the
// microcontroller's read-back to it, and shows its key events.
//
// The object is a member of the main window and lives as long as it; the
// dialog itself exists only while a modal run lasts. Between runs the object
// keeps its port handle and still takes the read-backs the main window hands
// on (they are freed unread when no engine exists).
//
// Threads: the user-interface thread only.
#pragma once

#include <memory>
#include <string_view>

#include "app/automation.h"
#include "framework/dialog.h"
#include "platform/types.h"

class CKeyUpdateEngine;
struct McuFrameInfo;

class CKeyUpdateDlg : public CDialog {
public:
    // The run-time class name of the original framework.
    static constexpr const char* kClassName = "CKeyUpdateDlg";

    explicit CKeyUpdateDlg(CDialog* parent = nullptr);
    ~CKeyUpdateDlg() override;

    // The port the engines write to; called by the main window at start-up,
    // whether or not the dialog is shown.
    void SetPortHandle(platform::DeviceHandle port) { m_port = port; }
    platform::DeviceHandle GetPortHandle() const { return m_port; }
    // Takes the read-back record (event 10): the current engine, if any,
    // compares it; the record and its data are freed in every case.
    void OnReadBack(McuFrameInfo* record);

    CKeyUpdateEngine* GetEngine() const { return m_engine.get(); }

protected:
    void OnStart();
    void OnExit();
    int OnCreate();
    void OnActivate(unsigned state);
    platform::LResult OnKeyEvent(platform::WParam code, platform::LParam value);
    void OnTimer(platform::TimerId timerId);
    void OnClose();

private:
    void LookUpControls();
    // Shows a text in the message area and traces it in the debug output.
    void ShowText(std::string_view text);
    // Destroys the current engine, then makes a new one for this window and
    // prepares it with the port.
    void CreateEngine();

    std::unique_ptr<CKeyUpdateEngine> m_engine;
    CWnd* m_messageArea = nullptr;
    CWnd* m_startButton = nullptr;
    CWnd* m_exitButton = nullptr;
    platform::DeviceHandle m_port = platform::kInvalidDevice;
    CAutomation m_automation;
};
