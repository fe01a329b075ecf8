#include "platform/message_queue.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

#include "platform/debug_output.h"
#include "platform/event.h"

namespace platform {

namespace {

// Timers shorter than this are stretched to it, as the original window system
// does; a zero period would otherwise make every pump fire the timer again.
constexpr std::uint32_t kMinimumTimerPeriodMs = 10;
// Without descriptors (creation failed) a wait falls back to real-time naps.
constexpr std::uint32_t kFallbackWaitSliceMs = 10;
constexpr std::uint64_t kMsPerSecond = 1000;
constexpr std::uint64_t kNsPerMs = 1'000'000;

bool AddToEpoll(int epoll, int descriptor) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = descriptor;
    return epoll_ctl(epoll, EPOLL_CTL_ADD, descriptor, &event) == 0;
}

}  // namespace

CMessageQueue::CMessageQueue() {
    m_wakeEvent = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_timerEvent = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_wakeEvent < 0 || m_timerEvent < 0 || epoll < 0 || !AddToEpoll(epoll, m_wakeEvent) ||
        !AddToEpoll(epoll, m_timerEvent)) {
        DebugPrintf("message queue: cannot create its descriptors, errno %d\n", errno);
        if (epoll >= 0) {
            close(epoll);
        }
    } else {
        m_epoll = epoll;
    }
    RegisterClockWaiter(this);
}

CMessageQueue::~CMessageQueue() {
    UnregisterClockWaiter(this);
    for (int descriptor : {m_epoll, m_wakeEvent, m_timerEvent}) {
        if (descriptor >= 0) {
            close(descriptor);
        }
    }
}

void CMessageQueue::Wake() {
    if (m_wakeEvent < 0) {
        return;
    }
    const std::uint64_t one = 1;
    // EAGAIN means the counter is saturated: the descriptor is readable anyway.
    [[maybe_unused]] const ssize_t written = write(m_wakeEvent, &one, sizeof one);
}

void CMessageQueue::Post(const QueuedMessage& message) {
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back({m_nextSequence++, message});
    }
    Wake();
}

std::uint64_t CMessageQueue::LastSequence() {
    std::lock_guard lock(m_mutex);
    return m_nextSequence - 1;
}

std::optional<QueuedMessage> CMessageQueue::TakeMessage(std::uint64_t lastSequence) {
    std::lock_guard lock(m_mutex);
    if (m_messages.empty() || m_messages.front().sequence > lastSequence) {
        return std::nullopt;
    }
    QueuedMessage message = m_messages.front().message;
    m_messages.pop_front();
    return message;
}

void CMessageQueue::SignalIfNotEmpty() {
    bool pending = false;
    {
        std::lock_guard lock(m_mutex);
        pending = !m_messages.empty();
    }
    if (pending) {
        Wake();
    }
}

void CMessageQueue::SetTimer(WindowHandle window, TimerId id, std::uint32_t periodMs,
                             std::uint64_t nowMs) {
    const std::uint32_t period =
        periodMs < kMinimumTimerPeriodMs ? kMinimumTimerPeriodMs : periodMs;
    std::lock_guard lock(m_mutex);
    // Setting an existing timer again restarts its period.
    m_timers[{window, id}] = Timer{period, nowMs + period};
    ArmTimerDescriptorLocked();
}

bool CMessageQueue::KillTimer(WindowHandle window, TimerId id) {
    std::lock_guard lock(m_mutex);
    const bool removed = m_timers.erase({window, id}) > 0;
    ArmTimerDescriptorLocked();
    return removed;
}

std::optional<std::pair<WindowHandle, TimerId>> CMessageQueue::TakeDueTimer(std::uint64_t nowMs) {
    std::lock_guard lock(m_mutex);
    auto earliest = m_timers.end();
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
        if (it->second.dueMs <= nowMs &&
            (earliest == m_timers.end() || it->second.dueMs < earliest->second.dueMs)) {
            earliest = it;
        }
    }
    if (earliest == m_timers.end()) {
        return std::nullopt;
    }
    Timer& timer = earliest->second;
    // One tick for however many periods were missed; the next is due one
    // period after this one, or one period from now when that is past too.
    timer.dueMs += timer.periodMs;
    if (timer.dueMs <= nowMs) {
        timer.dueMs = nowMs + timer.periodMs;
    }
    ArmTimerDescriptorLocked();
    return earliest->first;
}

void CMessageQueue::RemoveWindow(WindowHandle window) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_messages,
                  [window](const Entry& entry) { return entry.message.window == window; });
    std::erase_if(m_timers, [window](const auto& timer) { return timer.first.first == window; });
    ArmTimerDescriptorLocked();
}

bool CMessageQueue::HasWorkDue(std::uint64_t nowMs) {
    std::lock_guard lock(m_mutex);
    if (!m_messages.empty()) {
        return true;
    }
    for (const auto& [key, timer] : m_timers) {
        if (timer.dueMs <= nowMs) {
            return true;
        }
    }
    return false;
}

void CMessageQueue::ClearWakeup() {
    if (m_wakeEvent >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = read(m_wakeEvent, &count, sizeof count);
    }
    std::lock_guard lock(m_mutex);
    // Setting the timer descriptor anew also clears an expiry already seen.
    ArmTimerDescriptorLocked();
}

void CMessageQueue::WaitForWakeup(std::uint32_t timeoutMs) {
    if (m_epoll < 0) {
        const std::uint32_t nap =
            timeoutMs < kFallbackWaitSliceMs ? timeoutMs : kFallbackWaitSliceMs;
        std::this_thread::sleep_for(std::chrono::milliseconds(nap));
        return;
    }
    pollfd descriptor{m_epoll, POLLIN, 0};
    const int timeout =
        timeoutMs == kInfinite || timeoutMs > INT_MAX ? -1 : static_cast<int>(timeoutMs);
    // EINTR simply ends the wait early; the caller looks at the queue again.
    [[maybe_unused]] const int ready = poll(&descriptor, 1, timeout);
}

void CMessageQueue::ArmTimerDescriptorLocked() {
    if (m_timerEvent < 0) {
        return;
    }
    itimerspec setting{};  // all zero: disarmed
    if (UsesSystemClock() && !m_timers.empty()) {
        std::uint64_t earliestMs = UINT64_MAX;
        for (const auto& [key, timer] : m_timers) {
            earliestMs = timer.dueMs < earliestMs ? timer.dueMs : earliestMs;
        }
        // The system clock counts steady_clock milliseconds, which is
        // CLOCK_MONOTONIC on Linux. A zero value would disarm, so a deadline
        // at the epoch (never in practice) becomes 1 ns.
        setting.it_value.tv_sec = static_cast<time_t>(earliestMs / kMsPerSecond);
        setting.it_value.tv_nsec = static_cast<long>((earliestMs % kMsPerSecond) * kNsPerMs);
        if (setting.it_value.tv_sec == 0 && setting.it_value.tv_nsec == 0) {
            setting.it_value.tv_nsec = 1;
        }
    }
    if (timerfd_settime(m_timerEvent, TFD_TIMER_ABSTIME, &setting, nullptr) != 0) {
        DebugPrintf("message queue: timerfd_settime failed, errno %d\n", errno);
    }
}

}  // namespace platform
