#include "framework/system_metrics.h"

#include <QGuiApplication>
#include <QScreen>

int GetSystemMetrics(int index) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return 0;
    }
    switch (index) {
        case kSmCxScreen:
            return screen->geometry().width();
        case kSmCyScreen:
            return screen->geometry().height();
        default:
            return 0;
    }
}
