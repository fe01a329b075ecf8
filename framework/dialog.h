// A dialog built from a template and run modally, with a message map.
//
// Each modal run makes the dialog's platform window (so that engines can post
// to it and set window timers on it; its window procedure dispatches into the
// message map, and a message without an entry gets the default processing
// below), then the widget with the template's controls. The order is the
// original system's: creation (kWmCreate, before any control exists), the
// controls, OnInitDialog, showing, activation (kWmActivate with kWaActive),
// then the nested event loop until EndDialog; at the end kWmDestroy, while
// the controls still exist, and the widgets go.
//
// Default processing: a close request (kWmClose) sends the Cancel command;
// the OK command (Enter) calls OnOK and the Cancel command (Escape) OnCancel,
// which end the dialog with kIdOk and kIdCancel. Timers, destruction,
// creation (answer 0) and activation need nothing by default.
//
// A dialog made without a parent is owned by the application's main window
// while it runs (when that is another dialog in a modal run): it stays above
// it, and the main window takes no input meanwhile.
//
// Threads: the user-interface thread only. Other threads reach a dialog by
// posting to GetSafeHwnd().
#pragma once

#include <QIcon>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "framework/dialog_template.h"
#include "framework/message_map.h"
#include "framework/wnd.h"
#include "platform/types.h"

class CDialogWindow;
class QEventLoop;

// Where SetWindowPos puts the window in the stacking order.
enum class WindowOrder : std::uint8_t {
    kTop,      // above the other windows of its level
    kTopMost,  // above every window that is not top-most as well, for good
};

// SetWindowPos flags.
inline constexpr unsigned kSwpNoSize = 0x0001;
inline constexpr unsigned kSwpNoMove = 0x0002;
inline constexpr unsigned kSwpShowWindow = 0x0040;

class CDialog : public CWnd {
public:
    CDialog(const DialogTemplate& dialogTemplate, CDialog* parent = nullptr);
    ~CDialog() override;

    // Runs the dialog modally; the EndDialog result, or -1 when the dialog
    // could not be created (or the application quit during the run).
    virtual platform::LResult DoModal();
    // Ends the modal run with result once control returns to its loop.
    void EndDialog(int result);

    // The control with the id while the window exists; null otherwise.
    CWnd* GetDlgItem(int controlId) const;

    // The platform window while the dialog exists; kNoWindow otherwise.
    platform::WindowHandle GetSafeHwnd() const { return m_windowHandle; }
    bool PostMessage(platform::MessageId message, platform::WParam wParam = 0,
                     platform::LParam lParam = 0) const;
    platform::LResult SendMessage(platform::MessageId message, platform::WParam wParam = 0,
                                  platform::LParam lParam = 0) const;
    platform::TimerId SetTimer(platform::TimerId timerId, std::uint32_t periodMs) const;
    bool KillTimer(platform::TimerId timerId) const;

    void SetIcon(const QIcon& icon, bool bigIcon);
    QIcon GetIcon(bool bigIcon) const { return bigIcon ? m_bigIcon : m_smallIcon; }
    // Moves and sizes the window (the frame included) and puts it in the
    // stacking order; the modal dialogs it owns are raised after it, so that
    // it never covers them. Does not activate the window.
    bool SetWindowPos(WindowOrder order, int x, int y, int width, int height, unsigned flags);

    const DialogTemplate& GetTemplate() const { return m_template; }
    bool IsModalRunning() const { return m_windowHandle != platform::kNoWindow; }
    // True while the modal run goes on and EndDialog has not been called.
    bool ContinueModal() const { return IsModalRunning() && !m_modalEnded; }
    // The dialog that owns this one during its run; null when none.
    CDialog* GetOwner() const { return m_owner; }
    bool IsActive() const { return m_active; }

    // The dialogs in a modal run now, the outermost first.
    static std::vector<CDialog*> ModalDialogs();

protected:
    // Dialog initialisation, after the controls exist and before showing.
    // The default does nothing and answers true (focus left to the system).
    virtual bool OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    CMessageMap& MessageMap() { return m_messageMap; }

    // Default processing, for handlers that do their part and then the
    // framework's.
    int OnCreate();
    void OnActivate(unsigned state);
    void OnTimer(platform::TimerId timerId);
    void OnClose();
    void OnDestroy();

    // The window procedure: the message map, then DefWindowProc.
    virtual platform::LResult WindowProc(platform::MessageId message, platform::WParam wParam,
                                         platform::LParam lParam);
    platform::LResult DefWindowProc(platform::MessageId message, platform::WParam wParam,
                                    platform::LParam lParam);

private:
    friend class CDialogWindow;

    CDialog* FindOwner() const;
    void CreateControls();
    void ShowAndActivate();
    void RunModalLoop();
    void DestroyDialogWindow();
    void RaiseOwnedDialogs();
    // Activation as the modal run or the window system changes it:
    // kWmActivate is sent on every change of state only.
    void SetActive(bool active, bool byClick);
    // The window system reports activation changes late and in bursts (a
    // window hidden, another one activated): the state is taken from the
    // widget once the burst is over, so that a dialog that ends up active
    // again is not reported as deactivated and reactivated in between.
    void OnWidgetActivationChanged(bool byClick);
    void SyncActivation();

    const DialogTemplate& m_template;
    CDialog* const m_parent;
    CDialog* m_owner = nullptr;
    platform::WindowHandle m_windowHandle = platform::kNoWindow;
    std::unique_ptr<CDialogWindow> m_dialogWindow;
    std::map<int, std::unique_ptr<CWnd>> m_controls;
    CMessageMap m_messageMap;
    QEventLoop* m_modalLoop = nullptr;
    bool m_modalEnded = false;
    int m_modalResult = -1;
    bool m_active = false;
    bool m_activationPending = false;
    bool m_activatedByClick = false;
    QIcon m_bigIcon;
    QIcon m_smallIcon;

    static std::vector<CDialog*> s_modalDialogs;
};
