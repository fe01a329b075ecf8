#include "engine/receiver_thread.h"

#include "engine/firmware_updater.h"

int CReceiverThread::RunOnce() {
    if (m_owner != nullptr) {
        m_owner->ReceiveStep();
    }
    return 0;
}
