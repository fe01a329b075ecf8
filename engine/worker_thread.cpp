#include "engine/worker_thread.h"

#include <system_error>

#include "platform/debug_output.h"

CWorkerThread::~CWorkerThread() {
    // An owner that stops its workers leaves nothing joinable here. Should it
    // not have, end the thread rather than let std::thread terminate us.
    if (m_thread.joinable()) {
        m_run.store(false);
        if (m_resumeEvent) {
            m_resumeEvent->Set();
        }
        m_thread.join();
    }
}

bool CWorkerThread::Start() {
    if (m_thread.joinable()) {
        return true;
    }
    m_suspended = true;
    m_run.store(true);
    m_stoppedEvent = std::make_unique<platform::CEvent>(platform::EventReset::kManual);
    m_resumeEvent = std::make_unique<platform::CEvent>(platform::EventReset::kManual);
    try {
        m_thread = std::thread(&CWorkerThread::Body, this);
    } catch (const std::system_error& error) {
        platform::DebugPrintf("CWorkerThread::Start: no thread (%s)\n", error.what());
        m_suspended = false;
        return false;
    }
    return true;
}

void CWorkerThread::Resume() {
    if (m_thread.joinable() && m_suspended) {
        m_resumeEvent->Set();
    }
    m_suspended = false;
}

void CWorkerThread::Body() {
    m_resumeEvent->Wait();
    while (m_run.load()) {
        RunOnce();
    }
    m_stoppedEvent->Set();
}

bool CWorkerThread::Stop() {
    m_run.store(false);
    if (m_abandoned) {
        return false;  // the detached thread still uses the events
    }
    if (!m_stoppedEvent) {
        return true;
    }
    // A thread still suspended ends without running a step.
    m_resumeEvent->Set();
    bool ended = true;
    if (m_stoppedEvent->Wait(kStopTimeoutMs) == platform::WaitResult::kTimeout &&
        m_thread.joinable()) {
        // A thread cannot be killed safely. It is detached and this worker is
        // marked abandoned: the thread still runs this object's RunOnce and
        // owner's step, so the owner must keep this worker and everything the
        // step touches alive (it leaks them rather than free them under the
        // running thread). The process ends soon after in practice.
        platform::DebugPrintf("CWorkerThread::Stop: the thread did not end within %u ms\n",
                              kStopTimeoutMs);
        m_thread.detach();
        m_abandoned = true;
        ended = false;
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (ended) {
        m_stoppedEvent.reset();
        m_resumeEvent.reset();
    }
    return ended;
}

bool CWorkerThread::WaitForEnd(std::uint32_t timeoutMs) {
    if (!m_stoppedEvent) {
        return true;
    }
    return m_stoppedEvent->Wait(timeoutMs) == platform::WaitResult::kSignaled;
}
