// The updater's sender: each step waits to be woken and writes one frame.
#pragma once

#include "engine/worker_thread.h"

class CFirmwareUpdater;

class CSenderThread : public CWorkerThread {
public:
    explicit CSenderThread(CFirmwareUpdater* owner) : m_owner(owner) {}
    int RunOnce() override;

private:
    CFirmwareUpdater* const m_owner;  // not owned
};
