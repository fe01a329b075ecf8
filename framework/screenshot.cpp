#include "framework/screenshot.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include "framework/dialog.h"

bool SaveScreenshot(const std::string& path) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return false;
    }
    const QRect area = screen->geometry();
    QPixmap canvas(area.size());
    canvas.fill(Qt::black);  // what no window covers
    QPainter painter(&canvas);
    // The modal runs nest, so the outermost dialog is the lowest window.
    for (const CDialog* dialog : CDialog::ModalDialogs()) {
        QWidget* window = dialog->GetWidget();
        if (window == nullptr || !window->isVisible()) {
            continue;
        }
        painter.drawPixmap(window->geometry().topLeft() - area.topLeft(), window->grab());
    }
    painter.end();
    return canvas.save(QString::fromStdString(path), "PNG");
}
