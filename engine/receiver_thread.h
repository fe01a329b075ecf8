// The updater's receiver: each step reads the port and handles at most one
// answer.
#pragma once

#include "engine/worker_thread.h"

class CFirmwareUpdater;

class CReceiverThread : public CWorkerThread {
public:
    explicit CReceiverThread(CFirmwareUpdater* owner) : m_owner(owner) {}
    int RunOnce() override;

private:
    CFirmwareUpdater* const m_owner;  // not owned
};
