// A thread that calls one step of its owner again and again until stopped.
// It is created suspended, so that an owner can create several and resume
// them in a fixed order, and it is stopped cooperatively with a bounded wait.
//
// Threads: Start, Resume and Stop run on the owner's thread; RunOnce runs on
// the worker's own thread. The run flag is the only value both touch besides
// the events, and it is atomic.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "platform/event.h"

class CWorkerThread {
public:
    // How long Stop waits for the loop to end.
    static constexpr std::uint32_t kStopTimeoutMs = 3000;

    CWorkerThread() = default;
    // Does not stop the thread: the owner stops it first.
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // One step of the owner; the result is not looked at.
    virtual int RunOnce() = 0;

    // Creates the thread suspended. False when it cannot be created.
    bool Start();
    // Lets a suspended thread run; does nothing otherwise.
    void Resume();
    // Clears the run flag and waits up to kStopTimeoutMs (on the platform
    // clock) for the loop to end. True when the thread ended (or none ran).
    // False when it did not end in time: see the .cpp for what happens then.
    bool Stop();

    // For an abandoned worker: waits (on the platform clock) until its thread
    // has left the loop, after which the worker may be destroyed.
    bool WaitForEnd(std::uint32_t timeoutMs);

    bool HasThread() const { return m_thread.joinable(); }
    bool IsAbandoned() const { return m_abandoned; }

private:
    void Body();

    std::thread m_thread;
    std::unique_ptr<platform::CEvent> m_stoppedEvent;  // manual reset, set when the loop ended
    std::unique_ptr<platform::CEvent> m_resumeEvent;   // manual reset, set by Resume or Stop
    bool m_suspended = false;
    bool m_abandoned = false;
    std::atomic<bool> m_run{false};
};
