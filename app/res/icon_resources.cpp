#include "app/res/icon_resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE names a function in the global namespace.
static void InitAppQrc() {
    Q_INIT_RESOURCE(app);
}

void RegisterIconResources() {
    static const bool registered = [] {
        InitAppQrc();
        return true;
    }();
    (void)registered;
}
