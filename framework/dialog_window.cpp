#include "framework/dialog_window.h"

#include <QCloseEvent>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

#include "framework/dialog.h"
#include "framework/dialog_messages.h"
#include "framework/window_styles.h"

namespace {

// Dialog units are defined by the dialog's font: a horizontal unit is a
// quarter of the font's average character width, a vertical one an eighth of
// its line height. With the template's font at the nominal resolution these
// proportions of the font height give the original system's sizes closely
// enough, whatever font stands in for the template's face here.
constexpr double kNominalDotsPerInch = 96.0;
constexpr double kPointsPerInch = 72.0;
constexpr double kAverageCharWidthPerFontHeight = 0.5;
constexpr double kLineHeightPerFontHeight = 1.25;
constexpr double kUnitsPerCharWidth = 4.0;
constexpr double kUnitsPerLineHeight = 8.0;

constexpr int kProgressMinimum = 0;  // the progress bar's default range
constexpr int kProgressMaximum = 100;

bool Has(std::uint32_t style, std::uint32_t flag) {
    return (style & flag) == flag;
}

QString ToQString(std::string_view text) {
    QString converted = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    converted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return converted;
}

Qt::WindowFlags FlagsFor(const DialogTemplate& dialogTemplate, bool owned) {
    // An owned dialog is a dialog window; an application window is a window
    // of its own (it shows in the task bar).
    Qt::WindowFlags flags = owned || !Has(dialogTemplate.extendedStyle, window_style::kExAppWindow)
                                ? Qt::Dialog
                                : Qt::Window;
    flags |= Qt::CustomizeWindowHint;
    if (Has(dialogTemplate.style, window_style::kCaption)) {
        flags |= Qt::WindowTitleHint;
    }
    if (Has(dialogTemplate.style, window_style::kSysMenu)) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    return flags;
}

}  // namespace

CDialogWindow::CDialogWindow(CDialog& dialog, const DialogTemplate& dialogTemplate, QWidget* owner)
    : QWidget(owner, FlagsFor(dialogTemplate, owner != nullptr)),
      m_dialog(dialog),
      m_template(dialogTemplate) {
    setWindowTitle(ToQString(dialogTemplate.caption));
    QFont font(QString::fromUtf8(dialogTemplate.fontName.data(),
                                 static_cast<qsizetype>(dialogTemplate.fontName.size())));
    // The template's face may not exist here; a sans-serif face stands in.
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(
        std::max(1, static_cast<int>(std::lround(NominalFontPixels(dialogTemplate)))));
    setFont(font);
    // Owned windows of a top-most window are top-most as well, so that the
    // owner never covers them.
    if (owner != nullptr && owner->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }
}

CDialogWindow::~CDialogWindow() = default;

double CDialogWindow::NominalFontPixels(const DialogTemplate& dialogTemplate) {
    return dialogTemplate.fontPoints * kNominalDotsPerInch / kPointsPerInch;
}

QSizeF CDialogWindow::NominalPixelsPerUnit(const DialogTemplate& dialogTemplate) {
    const double fontPixels = NominalFontPixels(dialogTemplate);
    return {fontPixels * kAverageCharWidthPerFontHeight / kUnitsPerCharWidth,
            fontPixels * kLineHeightPerFontHeight / kUnitsPerLineHeight};
}

QSizeF CDialogWindow::PixelsPerUnit() const {
    if (m_template.width <= 0 || m_template.height <= 0) {
        return NominalPixelsPerUnit(m_template);
    }
    return {static_cast<double>(width()) / m_template.width,
            static_cast<double>(height()) / m_template.height};
}

QRect CDialogWindow::ScaleItem(const DialogItemTemplate& item, QSizeF pixelsPerUnit) {
    // Edges are scaled, not sizes, so that neighbouring controls neither
    // overlap nor drift apart by rounding.
    const auto scaleX = [&](int units) {
        return static_cast<int>(std::lround(units * pixelsPerUnit.width()));
    };
    const auto scaleY = [&](int units) {
        return static_cast<int>(std::lround(units * pixelsPerUnit.height()));
    };
    const int left = scaleX(item.x);
    const int top = scaleY(item.y);
    return {left, top, scaleX(item.x + item.width) - left, scaleY(item.y + item.height) - top};
}

void CDialogWindow::CreateControls() {
    if (!m_items.empty()) {
        return;
    }
    for (const DialogItemTemplate& item : m_template.items) {
        QWidget* control = MakeControl(item);
        if (control == nullptr) {
            continue;
        }
        if (Has(item.style, window_style::kDisabled)) {
            control->setEnabled(false);
        }
        control->setFocusPolicy(Has(item.style, window_style::kTabStop) ? Qt::StrongFocus
                                                                        : Qt::ClickFocus);
        m_items.emplace_back(&item, control);
        if (item.id != kStaticControlId) {
            m_controls.emplace(item.id, control);
        }
    }
    LayOut();
}

QWidget* CDialogWindow::MakeControl(const DialogItemTemplate& item) {
    const QString caption = ToQString(item.caption);
    if (item.className == kButtonClass) {
        auto* button = new QPushButton(caption, this);
        // The original dialog presses its default button on Enter, and no
        // other; Qt's focused-button default is switched off (see keyPressEvent).
        button->setAutoDefault(false);
        button->setDefault((item.style & window_style::kButtonTypeMask) ==
                           window_style::kDefPushButton);
        const int id = item.id;
        QObject::connect(button, &QPushButton::clicked, this, [this, id] { SendCommand(id); });
        return button;
    }
    if (item.className == kEditClass) {
        const QFrame::Shape frame =
            Has(item.style, window_style::kBorder) ? QFrame::StyledPanel : QFrame::NoFrame;
        if (Has(item.style, window_style::kEditMultiLine)) {
            auto* edit = new QPlainTextEdit(caption, this);
            edit->setFrameShape(frame);
            if (Has(item.extendedStyle, window_style::kExStaticEdge)) {
                edit->setFrameShadow(QFrame::Sunken);
            }
            // Lines wrap at the control's width so that every text stays
            // readable whatever width the scaled control has.
            edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
            edit->setVerticalScrollBarPolicy(Has(item.style, window_style::kVScroll)
                                                 ? Qt::ScrollBarAlwaysOn
                                                 : Qt::ScrollBarAlwaysOff);
            edit->setHorizontalScrollBarPolicy(Has(item.style, window_style::kHScroll)
                                                   ? Qt::ScrollBarAlwaysOn
                                                   : Qt::ScrollBarAlwaysOff);
            edit->setReadOnly(Has(item.style, window_style::kEditReadOnly));
            return edit;
        }
        auto* line = new QLineEdit(caption, this);
        line->setFrame(frame != QFrame::NoFrame);
        line->setReadOnly(Has(item.style, window_style::kEditReadOnly));
        return line;
    }
    if (item.className == kStaticClass) {
        auto* label = new QLabel(caption, this);
        Qt::Alignment alignment = Qt::AlignLeft;
        if (Has(item.style, window_style::kStaticRight)) {
            alignment = Qt::AlignRight;
        } else if (Has(item.style, window_style::kStaticCenter)) {
            alignment = Qt::AlignHCenter;
        }
        alignment |=
            Has(item.style, window_style::kStaticCenterImage) ? Qt::AlignVCenter : Qt::AlignTop;
        label->setAlignment(alignment);
        return label;
    }
    if (item.className == kProgressClass) {
        auto* bar = new QProgressBar(this);
        bar->setRange(kProgressMinimum, kProgressMaximum);
        bar->setValue(kProgressMinimum);
        bar->setTextVisible(false);  // the original bar shows no figures
        return bar;
    }
    return nullptr;
}

QWidget* CDialogWindow::Control(int controlId) const {
    const auto found = m_controls.find(controlId);
    return found != m_controls.end() ? found->second : nullptr;
}

void CDialogWindow::LayOut() {
    const QSizeF pixelsPerUnit = PixelsPerUnit();
    const QSizeF nominal = NominalPixelsPerUnit(m_template);
    const double scale = std::min(pixelsPerUnit.width() / nominal.width(),
                                  pixelsPerUnit.height() / nominal.height());
    // Controls that were given a font of their own keep it; the others follow.
    QFont dialogFont = font();
    const int fontPixels =
        std::max(1, static_cast<int>(std::lround(NominalFontPixels(m_template) * scale)));
    if (dialogFont.pixelSize() != fontPixels) {
        dialogFont.setPixelSize(fontPixels);
        setFont(dialogFont);
    }
    for (const auto& [item, control] : m_items) {
        control->setGeometry(ScaleItem(*item, pixelsPerUnit));
    }
}

void CDialogWindow::SendCommand(int controlId) {
    m_dialog.SendMessage(platform::kWmCommand, MakeCommandWParam(controlId, kButtonClicked), 0);
}

bool CDialogWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        m_dialog.OnWidgetActivationChanged(QGuiApplication::mouseButtons() != Qt::NoButton);
    } else if (event->type() == QEvent::WindowDeactivate) {
        m_dialog.OnWidgetActivationChanged(false);
    }
    return QWidget::event(event);
}

void CDialogWindow::closeEvent(QCloseEvent* event) {
    // The caption's close box is a close request to the dialog; whether and
    // when the window goes is the dialog's business.
    event->ignore();
    m_dialog.SendMessage(platform::kWmClose, 0, 0);
}

void CDialogWindow::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() != Qt::NoModifier && event->modifiers() != Qt::KeypadModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
        case Qt::Key_Escape:
            SendCommand(kIdCancel);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            // A focused push button takes Enter; otherwise the default button
            // does, and without one the dialog gets the OK command.
            if (auto* focused = qobject_cast<QPushButton*>(focusWidget());
                focused != nullptr && focused->isEnabled()) {
                focused->click();
                return;
            }
            for (QPushButton* button : findChildren<QPushButton*>()) {
                if (button->isDefault() && button->isEnabled()) {
                    button->click();
                    return;
                }
            }
            SendCommand(kIdOk);
            return;
        }
        default:
            QWidget::keyPressEvent(event);
    }
}

void CDialogWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOut();
}
