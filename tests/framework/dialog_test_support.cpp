#include "tests/framework/dialog_test_support.h"

#include <stdlib.h>

#include <QApplication>
#include <QTimer>
#include <thread>

#include "framework/message_bridge.h"

// LeakSanitizer (in sanitizer builds) leaves out what the font library keeps
// for the life of the process; it is not ours to free.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace framework_test {

void EnsureApplication() {
    static QApplication* application = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);  // a value from ctest or the caller wins
        static int argc = 1;
        static char name[] = "kestrovan_tests";
        static char* argv[] = {name, nullptr};
        auto* made = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        return made;
    }();
    static CMessageBridge* bridge = new CMessageBridge();
    (void)application;
    (void)bridge;
}

bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void PumpFor(std::chrono::milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

platform::LResult RunModal(CDialog& dialog, const std::function<void()>& inside) {
    // A timer object of this call, so that a run that ends before its loop
    // starts leaves nothing behind to fire in some later loop.
    QTimer start;
    start.setSingleShot(true);
    QObject::connect(&start, &QTimer::timeout, [&dialog, &inside] {
        inside();
        if (dialog.ContinueModal()) {
            dialog.EndDialog(kEndedByTest);
        }
    });
    start.start(0);
    return dialog.DoModal();
}

}  // namespace framework_test
