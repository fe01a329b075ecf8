// Auto-reset and manual-reset events with timed waits, on the standard
// library. Time-outs are measured on Clock(), so a test clock ends them.
// Every operation may be called from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

enum class EventReset { kAuto, kManual };
enum class WaitResult { kSignaled, kTimeout };

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFF;

class CEvent {
public:
    explicit CEvent(EventReset reset, bool initiallySignaled = false);
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();
    // An auto-reset event is reset by the wait it releases: several Set calls
    // before one wait release that one wait only.
    WaitResult Wait(std::uint32_t timeoutMs = kInfinite);

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    const EventReset m_reset;
    bool m_signaled;
};

}  // namespace platform
