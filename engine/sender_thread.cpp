#include "engine/sender_thread.h"

#include "engine/firmware_updater.h"

int CSenderThread::RunOnce() {
    if (m_owner != nullptr) {
        m_owner->SendStep();
    }
    return 0;
}
