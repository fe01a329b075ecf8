#include "framework/wnd.h"

#include <QAbstractButton>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QString>
#include <QWidget>
#include <algorithm>

namespace {

// The original edit control keeps "\r\n" between lines; Qt's widgets keep "\n".
QString ToWidgetText(std::string_view text) {
    QString converted = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    converted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return converted;
}

std::string FromWidgetText(QString text) {
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return text.toStdString();
}

}  // namespace

CWnd::CWnd(int controlId) : m_controlId(controlId) {}

CWnd::~CWnd() = default;

void CWnd::EnableWindow(bool enable) {
    if (m_widget) {
        m_widget->setEnabled(enable);
    }
}

bool CWnd::IsWindowEnabled() const {
    // The window's own state, as in the original system: a control that was
    // not disabled itself counts as enabled whatever its parent's state.
    return m_widget && !m_widget->testAttribute(Qt::WA_ForceDisabled);
}

void CWnd::SetWindowText(std::string_view text) {
    QWidget* widget = m_widget.data();
    if (widget == nullptr) {
        return;
    }
    if (widget->isWindow()) {
        widget->setWindowTitle(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    } else if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
        edit->setPlainText(ToWidgetText(text));
    } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        line->setText(ToWidgetText(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(ToWidgetText(text));
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(ToWidgetText(text));
    }
}

std::string CWnd::GetWindowText() const {
    const QWidget* widget = m_widget.data();
    if (widget == nullptr) {
        return {};
    }
    if (widget->isWindow()) {
        return widget->windowTitle().toStdString();
    }
    if (const auto* edit = qobject_cast<const QPlainTextEdit*>(widget)) {
        return FromWidgetText(edit->toPlainText());
    }
    if (const auto* line = qobject_cast<const QLineEdit*>(widget)) {
        return FromWidgetText(line->text());
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return FromWidgetText(button->text());
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return FromWidgetText(label->text());
    }
    return {};
}

void CWnd::SetPos(int position) {
    if (auto* bar = qobject_cast<QProgressBar*>(m_widget.data())) {
        // QProgressBar ignores values outside its range; the original bar
        // takes the nearest end instead.
        bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
    }
}

int CWnd::GetPos() const {
    const auto* bar = qobject_cast<const QProgressBar*>(m_widget.data());
    return bar != nullptr ? bar->value() : 0;
}

FontDescription CWnd::GetFont() const {
    if (!m_widget) {
        return {};
    }
    const QFont font = m_widget->font();
    const int height = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    return {font.family().toStdString(), height};
}

void CWnd::SetFont(const FontDescription& font, bool redraw) {
    if (!m_widget) {
        return;
    }
    QFont qtFont = m_widget->font();
    qtFont.setFamily(QString::fromStdString(font.faceName));
    if (font.height > 0) {
        qtFont.setPixelSize(font.height);
    }
    m_widget->setFont(qtFont);
    if (redraw) {
        m_widget->update();
    }
}

void CWnd::GetWindowRect(WindowRect& rect) const {
    if (!m_widget) {
        rect = {};
        return;
    }
    QRect frame = m_widget->frameGeometry();
    if (!m_widget->isWindow()) {
        frame.moveTopLeft(m_widget->mapToGlobal(QPoint(0, 0)));
    }
    rect = {frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()};
}

void CWnd::Attach(QWidget* widget) {
    m_widget = widget;
}

void CWnd::Detach() {
    m_widget = nullptr;
}
