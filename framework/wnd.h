// A window of the dialog framework: a dialog or one of its controls, reached
// by the operations the windows use (enable, texts, progress position, font).
//
// A control object is made by its dialog and lives as long as the dialog
// object, so a pointer from GetDlgItem never dangles. While the dialog's
// window does not exist (before and between modal runs) the control has no
// widget, and every operation on it does nothing (queries answer empty).
//
// Threads: the user-interface thread only.
#pragma once

#include <QPointer>
#include <QWidget>
#include <string>
#include <string_view>

// A font by its description, as the original system's font structure: the
// face and the height in logical units (pixels).
struct FontDescription {
    std::string faceName;
    int height = 0;
};

// A window's rectangle in screen pixels; right and bottom are exclusive.
struct WindowRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

class CWnd {
public:
    explicit CWnd(int controlId = 0);
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    int GetDlgCtrlID() const { return m_controlId; }

    void EnableWindow(bool enable);
    bool IsWindowEnabled() const;

    // UTF-8. Multi-line edits keep line ends as "\r\n", as the original edit
    // control does; a dialog's text is its caption.
    void SetWindowText(std::string_view text);
    std::string GetWindowText() const;

    // Progress bars: the position, kept within the bar's range as the
    // original control does. Other windows ignore it (and answer 0).
    void SetPos(int position);
    int GetPos() const;

    FontDescription GetFont() const;
    // Gives the window a font of its own: it no longer follows the dialog's
    // font when the dialog is scaled. The widget repaints in any case.
    void SetFont(const FontDescription& font, bool redraw = true);

    void GetWindowRect(WindowRect& rect) const;

    // The widget that shows the window now; null when there is none.
    QWidget* GetWidget() const { return m_widget.data(); }
    // The framework binds and unbinds the widget.
    void Attach(QWidget* widget);
    void Detach();

private:
    const int m_controlId;
    QPointer<QWidget> m_widget;
};
