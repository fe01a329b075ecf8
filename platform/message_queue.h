// The message queue of one thread: posted messages, the window timers of the
// thread's windows, and a descriptor that becomes readable when work is due.
// For the layer itself (window_messages.cpp keeps one per thread).
//
// Threads: any thread posts, sets and kills timers and wakes the queue; only
// the owner thread takes messages and ticks and waits on it. One mutex guards
// the messages and timers; it is never held while a handler runs.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/clock_waiter.h"
#include "platform/types.h"

namespace platform {

struct QueuedMessage {
    WindowHandle window = kNoWindow;  // kNoWindow: a message to the thread (kWmQuit)
    MessageId message = 0;
    WParam wParam = 0;
    LParam lParam = 0;
};

class CMessageQueue final : public CClockWaiter {
public:
    CMessageQueue();
    ~CMessageQueue();
    CMessageQueue(const CMessageQueue&) = delete;
    CMessageQueue& operator=(const CMessageQueue&) = delete;

    // Readable while work may be due; -1 when the descriptors could not be made.
    int Descriptor() const { return m_epoll; }

    void Post(const QueuedMessage& message);
    // Messages with a sequence number up to this one belong to the current batch.
    std::uint64_t LastSequence();
    // The oldest message of the batch, removed from the queue.
    std::optional<QueuedMessage> TakeMessage(std::uint64_t lastSequence);
    // Makes the descriptor readable again when messages are left (a kWmQuit
    // that ended a batch early leaves the rest for the next one).
    void SignalIfNotEmpty();

    void SetTimer(WindowHandle window, TimerId id, std::uint32_t periodMs, std::uint64_t nowMs);
    bool KillTimer(WindowHandle window, TimerId id);
    // The earliest timer due at nowMs, rescheduled to its next due time
    // (strictly after nowMs, so one batch takes each timer once).
    std::optional<std::pair<WindowHandle, TimerId>> TakeDueTimer(std::uint64_t nowMs);

    // Drops the window's queued messages and its timers.
    void RemoveWindow(WindowHandle window);

    bool HasWorkDue(std::uint64_t nowMs);
    // Makes the descriptor unreadable until new work arrives; called before
    // the queue is looked at, so nothing that arrives afterwards is missed.
    void ClearWakeup();
    // Blocks until the descriptor is readable or timeoutMs of real time
    // passed (kInfinite: no limit).
    void WaitForWakeup(std::uint32_t timeoutMs);

    void OnClockAdvanced() override { Wake(); }

private:
    struct Timer {
        std::uint32_t periodMs = 0;
        std::uint64_t dueMs = 0;
    };
    using TimerKey = std::pair<WindowHandle, TimerId>;

    void Wake();
    // Arms the timer descriptor for the earliest due timer when the system
    // clock is in use; disarms it otherwise. Caller holds m_mutex.
    void ArmTimerDescriptorLocked();

    int m_epoll = -1;
    int m_wakeEvent = -1;   // eventfd: posts and clock jumps
    int m_timerEvent = -1;  // timerfd: the earliest timer on the real clock

    std::mutex m_mutex;
    struct Entry {
        std::uint64_t sequence = 0;
        QueuedMessage message;
    };
    std::deque<Entry> m_messages;
    std::uint64_t m_nextSequence = 1;
    std::map<TimerKey, Timer> m_timers;
};

}  // namespace platform
