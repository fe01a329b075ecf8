#include "platform/event.h"

#include <chrono>

#include "platform/clock.h"
#include "platform/clock_waiter.h"

namespace platform {

namespace {

// While a test clock is installed a timed wait sleeps until Set or a clock
// jump wakes it; this real-time slice only guards against a replaced clock
// that moves without calling NotifyClockAdvanced.
constexpr std::chrono::milliseconds kReplacedClockSliceMs{100};

// Registered for the duration of one timed wait on a replaced clock.
// Constructed before the event's mutex is taken and destroyed after it is
// released, as the registry's lock order requires.
class CWaitRegistration final : public CClockWaiter {
public:
    CWaitRegistration(std::mutex& mutex, std::condition_variable& condition, bool active)
        : m_mutex(mutex), m_condition(condition), m_active(active) {
        if (m_active) {
            RegisterClockWaiter(this);
        }
    }
    ~CWaitRegistration() {
        if (m_active) {
            UnregisterClockWaiter(this);
        }
    }
    CWaitRegistration(const CWaitRegistration&) = delete;
    CWaitRegistration& operator=(const CWaitRegistration&) = delete;

    void OnClockAdvanced() override {
        // Taking the mutex orders the wake-up after the waiter's look at the
        // clock, or before it: the jump cannot fall in between and be lost.
        std::lock_guard lock(m_mutex);
        m_condition.notify_all();
    }

private:
    std::mutex& m_mutex;
    std::condition_variable& m_condition;
    const bool m_active;
};

}  // namespace

CEvent::CEvent(EventReset reset, bool initiallySignaled)
    : m_reset(reset), m_signaled(initiallySignaled) {}

void CEvent::Set() {
    std::lock_guard lock(m_mutex);
    m_signaled = true;
    // An auto-reset event releases one waiter; the others stay asleep.
    if (m_reset == EventReset::kAuto) {
        m_condition.notify_one();
    } else {
        m_condition.notify_all();
    }
}

void CEvent::Reset() {
    std::lock_guard lock(m_mutex);
    m_signaled = false;
}

WaitResult CEvent::Wait(std::uint32_t timeoutMs) {
    CClock& clock = Clock();
    const bool systemClock = UsesSystemClock();
    const bool timed = timeoutMs != kInfinite;
    const std::uint64_t deadlineMs = timed ? clock.NowMs() + timeoutMs : 0;

    CWaitRegistration registration(m_mutex, m_condition, timed && !systemClock);
    std::unique_lock lock(m_mutex);
    while (!m_signaled) {
        if (!timed) {
            m_condition.wait(lock);
            continue;
        }
        const std::uint64_t nowMs = clock.NowMs();
        if (nowMs >= deadlineMs) {
            return WaitResult::kTimeout;
        }
        if (systemClock) {
            m_condition.wait_for(lock, std::chrono::milliseconds(deadlineMs - nowMs));
        } else {
            m_condition.wait_for(lock, kReplacedClockSliceMs);
        }
    }
    if (m_reset == EventReset::kAuto) {
        m_signaled = false;
    }
    return WaitResult::kSignaled;
}

}  // namespace platform
