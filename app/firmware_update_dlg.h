// The main update window (template 102): full-screen and top-most, it owns
// the firmware updater through the updater holder, starts the updater's
// initialisation by posting event 8 to itself, shows every engine event,
// lets the user begin the transfer, open the key update window and exit.
//
// Threads: the user-interface thread only. The updater's worker threads reach
// the window by posting EngineEventMessage to GetSafeHwnd().
#pragma once

#include <QIcon>
#include <cstdint>
#include <string_view>

#include "app/automation.h"
#include "app/key_update_dlg.h"
#include "framework/dialog.h"
#include "platform/types.h"

class CUpdaterHolder;
struct EngineEventRow;

class CFirmwareUpdateDlg : public CDialog {
public:
    static constexpr const char* kCaption = "KestrovanV3.9";
    // Re-asserts the full-screen, top-most placement.
    static constexpr platform::TimerId kPlacementTimerId = 1325;
    static constexpr std::uint32_t kPlacementPeriodMs = 1000;
    // The main window's message area font height, logical units (pixels).
    static constexpr int kMessageAreaFontHeight = 30;

    CFirmwareUpdateDlg();
    ~CFirmwareUpdateDlg() override;

    CKeyUpdateDlg& GetKeyWindow() { return m_keyWindow; }
    CUpdaterHolder* GetHolder() const { return m_holder; }

protected:
    bool OnInitDialog() override;

    void OnStart();
    void OnExit();
    void OnKeyUpdate();
    platform::LResult OnEngineEvent(platform::WParam code, platform::LParam value);
    void OnTimer(platform::TimerId timerId);
    void OnClose();
    void OnDestroy();

    // One handler per event code.
    void OnFileFound(const EngineEventRow& row);
    void OnStartUp(const EngineEventRow& row);
    void OnProgress(platform::LParam percent);
    void OnParseProgress(const EngineEventRow& row, platform::LParam percent);
    void OnKeyReadBack(platform::LParam record);
    void OnBeginTransfer();
    // Codes whose reaction is the table's text and buttons alone.
    void ShowEvent(const EngineEventRow& row);

private:
    void SetButtons(const EngineEventRow& row);
    // Shows a text in the message area and traces it in the debug output.
    void ShowText(std::string_view text);
    void PlaceFullScreen();
    // Start routine of button 1000 and event 12.
    void StartTransfer();
    // KeyUpdate is offered only where the key read-back is understood.
    static bool IsKeyUpdateAvailable();

    QIcon m_icon;
    CUpdaterHolder* m_holder = nullptr;
    CWnd* m_messageArea = nullptr;
    CWnd* m_percentField = nullptr;
    CWnd* m_startButton = nullptr;
    CWnd* m_exitButton = nullptr;
    CWnd* m_keyButton = nullptr;
    CWnd* m_progressBar = nullptr;
    CKeyUpdateDlg m_keyWindow;
    CAutomation m_automation;
};
