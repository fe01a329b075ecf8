#include "framework/dialog.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "framework/dialog_messages.h"
#include "framework/dialog_window.h"
#include "framework/win_app.h"
#include "framework/window_styles.h"
#include "platform/window_messages.h"

std::vector<CDialog*> CDialog::s_modalDialogs;

namespace {

// Platforms without real windows (offscreen, minimal) have no stacking order
// and complain about raising.
bool HasStackingOrder() {
    const QString platform = QGuiApplication::platformName();
    return platform != QStringLiteral("offscreen") && platform != QStringLiteral("minimal");
}

void Raise(QWidget& window) {
    if (HasStackingOrder()) {
        window.raise();
    }
}

// Where dialogs are placed when Qt knows no screen at all.
constexpr QRect kFallbackScreenArea(0, 0, 640, 480);

QRect AvailableScreenArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : kFallbackScreenArea;
}

}  // namespace

CDialog::CDialog(const DialogTemplate& dialogTemplate, CDialog* parent)
    : m_template(dialogTemplate), m_parent(parent) {
    for (const DialogItemTemplate& item : dialogTemplate.items) {
        if (item.id != kStaticControlId && !m_controls.contains(item.id)) {
            m_controls.emplace(item.id, std::make_unique<CWnd>(item.id));
        }
    }
}

CDialog::~CDialog() {
    // A dialog object that goes while its window exists takes the window with
    // it. The handlers of the derived class are gone by now: only the default
    // processing may run.
    if (m_windowHandle != platform::kNoWindow) {
        m_messageMap = CMessageMap();
        std::erase(s_modalDialogs, this);
        DestroyDialogWindow();
    }
}

std::vector<CDialog*> CDialog::ModalDialogs() {
    return s_modalDialogs;
}

CDialog* CDialog::FindOwner() const {
    if (m_parent != nullptr) {
        return m_parent->IsModalRunning() ? m_parent : nullptr;
    }
    CWinApp* app = CWinApp::GetApp();
    CDialog* mainWindow = app != nullptr ? app->GetMainWnd() : nullptr;
    if (mainWindow != nullptr && mainWindow != this && mainWindow->IsModalRunning()) {
        return mainWindow;
    }
    return nullptr;
}

platform::LResult CDialog::DoModal() {
    if (m_windowHandle != platform::kNoWindow) {
        return -1;  // already running
    }
    m_owner = FindOwner();
    m_windowHandle = platform::CreateWindow(
        [this](platform::WindowHandle, platform::MessageId message, platform::WParam wParam,
               platform::LParam lParam) { return WindowProc(message, wParam, lParam); });
    if (m_windowHandle == platform::kNoWindow) {
        m_owner = nullptr;
        return -1;
    }
    m_dialogWindow = std::make_unique<CDialogWindow>(
        *this, m_template, m_owner != nullptr ? m_owner->m_dialogWindow.get() : nullptr);
    Attach(m_dialogWindow.get());
    m_modalEnded = false;
    m_modalResult = -1;
    m_active = false;
    m_activationPending = false;
    m_activatedByClick = false;
    s_modalDialogs.push_back(this);

    if (SendMessage(kWmCreate) != -1) {
        CreateControls();
        OnInitDialog();
        if (!m_modalEnded && (m_template.style & window_style::kVisible) != 0) {
            ShowAndActivate();
        }
        RunModalLoop();
    }
    const int result = m_modalResult;

    std::erase(s_modalDialogs, this);
    CDialog* owner = m_owner;
    DestroyDialogWindow();
    // The owner is active again, as the original system activates it when
    // its modal child ends.
    if (owner != nullptr && owner->m_dialogWindow) {
        owner->m_dialogWindow->activateWindow();
        owner->SetActive(true, false);
    }
    return result;
}

void CDialog::CreateControls() {
    m_dialogWindow->CreateControls();
    for (auto& [id, control] : m_controls) {
        control->Attach(m_dialogWindow->Control(id));
    }
    // The window's initial size: the template at the owner's scale (so that a
    // dialog unit is the same size in every window of the program), or at
    // the nominal scale; never larger than the screen.
    QSizeF pixelsPerUnit = CDialogWindow::NominalPixelsPerUnit(m_template);
    if (m_owner != nullptr) {
        const QSizeF ownerScale = m_owner->m_dialogWindow->PixelsPerUnit();
        const QSizeF ownerNominal = CDialogWindow::NominalPixelsPerUnit(m_owner->m_template);
        pixelsPerUnit =
            QSizeF(pixelsPerUnit.width() * ownerScale.width() / ownerNominal.width(),
                   pixelsPerUnit.height() * ownerScale.height() / ownerNominal.height());
    }
    const QRect screen = AvailableScreenArea();
    double width = m_template.width * pixelsPerUnit.width();
    double height = m_template.height * pixelsPerUnit.height();
    const double fit = std::min(
        {1.0, screen.width() / std::max(width, 1.0), screen.height() / std::max(height, 1.0)});
    const QSize size(static_cast<int>(std::lround(width * fit)),
                     static_cast<int>(std::lround(height * fit)));
    const QRect around = m_owner != nullptr ? m_owner->m_dialogWindow->frameGeometry() : screen;
    QRect placed(QPoint(0, 0), size);
    placed.moveCenter(around.center());
    m_dialogWindow->setGeometry(placed);
}

void CDialog::ShowAndActivate() {
    // One window is active at a time: whoever was active is told first.
    for (CDialog* dialog : s_modalDialogs) {
        if (dialog != this) {
            dialog->SetActive(false, false);
        }
    }
    m_dialogWindow->setWindowModality(Qt::ApplicationModal);
    m_dialogWindow->show();
    Raise(*m_dialogWindow);
    m_dialogWindow->activateWindow();
    SetActive(true, false);
}

void CDialog::RunModalLoop() {
    if (m_modalEnded) {
        return;  // ended during creation or initialisation
    }
    QEventLoop loop;
    m_modalLoop = &loop;
    loop.exec(QEventLoop::AllEvents);
    m_modalLoop = nullptr;
    if (!m_modalEnded) {
        m_modalResult = -1;  // the application quit under the dialog
    }
}

void CDialog::DestroyDialogWindow() {
    m_active = false;
    // kWmDestroy goes through the window procedure while the controls exist.
    platform::DestroyWindow(m_windowHandle);
    m_windowHandle = platform::kNoWindow;
    for (auto& [id, control] : m_controls) {
        control->Detach();
    }
    Detach();
    m_dialogWindow.reset();
    m_owner = nullptr;
}

void CDialog::EndDialog(int result) {
    m_modalResult = result;
    m_modalEnded = true;
    if (m_modalLoop != nullptr) {
        m_modalLoop->exit(0);
    }
}

CWnd* CDialog::GetDlgItem(int controlId) const {
    const auto found = m_controls.find(controlId);
    if (found == m_controls.end() || found->second->GetWidget() == nullptr) {
        return nullptr;
    }
    return found->second.get();
}

bool CDialog::PostMessage(platform::MessageId message, platform::WParam wParam,
                          platform::LParam lParam) const {
    return platform::PostMessage(m_windowHandle, message, wParam, lParam);
}

platform::LResult CDialog::SendMessage(platform::MessageId message, platform::WParam wParam,
                                       platform::LParam lParam) const {
    return platform::SendMessage(m_windowHandle, message, wParam, lParam);
}

platform::TimerId CDialog::SetTimer(platform::TimerId timerId, std::uint32_t periodMs) const {
    return platform::SetTimer(m_windowHandle, timerId, periodMs);
}

bool CDialog::KillTimer(platform::TimerId timerId) const {
    return platform::KillTimer(m_windowHandle, timerId);
}

void CDialog::SetIcon(const QIcon& icon, bool bigIcon) {
    (bigIcon ? m_bigIcon : m_smallIcon) = icon;
    if (m_dialogWindow) {
        // Qt keeps one icon per window, in several sizes: the big one wins.
        m_dialogWindow->setWindowIcon(m_bigIcon.isNull() ? m_smallIcon : m_bigIcon);
    }
}

bool CDialog::SetWindowPos(WindowOrder order, int x, int y, int width, int height, unsigned flags) {
    if (!m_dialogWindow) {
        return false;
    }
    CDialogWindow& window = *m_dialogWindow;
    if (order == WindowOrder::kTopMost &&
        !window.windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
        // Changing the flags makes the native window anew (hidden): only once.
        const bool visible = window.isVisible();
        window.setWindowFlag(Qt::WindowStaysOnTopHint, true);
        if (visible) {
            window.show();
        }
    }
    // The rectangle is the frame's; the client area is what is left inside.
    // The native window is made first, so that its frame is known where the
    // window system tells it before showing (else the next placement
    // corrects the size once the frame is there).
    (void)window.winId();
    const QRect frame = window.frameGeometry();
    const QRect client = window.geometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(),
                           frame.right() - client.right(), frame.bottom() - client.bottom());
    QRect target = frame;
    if ((flags & kSwpNoMove) == 0) {
        target.moveTopLeft(QPoint(x, y));
    }
    if ((flags & kSwpNoSize) == 0) {
        target.setSize(QSize(width, height));
    }
    window.setGeometry(target.marginsRemoved(margins));
    if ((flags & kSwpShowWindow) != 0) {
        window.show();
    }
    Raise(window);
    RaiseOwnedDialogs();
    return true;
}

void CDialog::RaiseOwnedDialogs() {
    for (CDialog* dialog : s_modalDialogs) {
        if (dialog->m_owner == this && dialog->m_dialogWindow &&
            dialog->m_dialogWindow->isVisible()) {
            Raise(*dialog->m_dialogWindow);
            dialog->RaiseOwnedDialogs();
        }
    }
}

void CDialog::OnWidgetActivationChanged(bool byClick) {
    m_activatedByClick = m_activatedByClick || byClick;
    if (m_activationPending || !m_dialogWindow) {
        return;
    }
    m_activationPending = true;
    QTimer::singleShot(0, m_dialogWindow.get(), [this] { SyncActivation(); });
}

void CDialog::SyncActivation() {
    m_activationPending = false;
    const bool byClick = m_activatedByClick;
    m_activatedByClick = false;
    if (m_dialogWindow) {
        SetActive(m_dialogWindow->isActiveWindow(), byClick);
    }
}

void CDialog::SetActive(bool active, bool byClick) {
    if (m_windowHandle == platform::kNoWindow || active == m_active) {
        return;
    }
    m_active = active;
    if (active) {
        // Messages "to the foreground window" reach the active dialog.
        platform::SetForegroundWindow(m_windowHandle);
    }
    SendMessage(kWmActivate, active ? (byClick ? kWaClickActive : kWaActive) : kWaInactive, 0);
}

bool CDialog::OnInitDialog() {
    return true;
}

void CDialog::OnOK() {
    EndDialog(kIdOk);
}

void CDialog::OnCancel() {
    EndDialog(kIdCancel);
}

int CDialog::OnCreate() {
    return static_cast<int>(DefWindowProc(kWmCreate, 0, 0));
}

void CDialog::OnActivate(unsigned state) {
    DefWindowProc(kWmActivate, state, 0);
}

void CDialog::OnTimer(platform::TimerId timerId) {
    DefWindowProc(platform::kWmTimer, timerId, 0);
}

void CDialog::OnClose() {
    DefWindowProc(platform::kWmClose, 0, 0);
}

void CDialog::OnDestroy() {
    DefWindowProc(platform::kWmDestroy, 0, 0);
}

platform::LResult CDialog::WindowProc(platform::MessageId message, platform::WParam wParam,
                                      platform::LParam lParam) {
    platform::LResult result = 0;
    if (m_messageMap.Dispatch(message, wParam, lParam, &result)) {
        return result;
    }
    return DefWindowProc(message, wParam, lParam);
}

platform::LResult CDialog::DefWindowProc(platform::MessageId message, platform::WParam wParam,
                                         platform::LParam) {
    switch (message) {
        case platform::kWmCommand:
            if (CommandControlId(wParam) == kIdOk) {
                OnOK();
            } else if (CommandControlId(wParam) == kIdCancel) {
                OnCancel();
            }
            return 0;
        case platform::kWmClose:
            // A close request is the Cancel command, through the map like any.
            SendMessage(platform::kWmCommand, MakeCommandWParam(kIdCancel, kButtonClicked), 0);
            return 0;
        default:
            return 0;
    }
}
