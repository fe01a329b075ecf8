// The clock that every time-out of the program reads: tick count, sleep,
// timed event waits and window timers. Tests replace it with CTestClock so
// that a three-second time-out runs in microseconds.
#pragma once

#include <cstdint>

namespace platform {

class CClock {
public:
    virtual ~CClock() = default;
    // Milliseconds on a monotonic scale.
    virtual std::uint64_t NowMs() = 0;
    // Blocks the calling thread for ms milliseconds of this clock.
    virtual void SleepMs(std::uint32_t ms) = 0;
};

// The clock in use: the system's monotonic clock unless a test set another.
CClock& Clock();
// nullptr restores the system clock. Call it while no other thread is
// waiting on the clock; the caller keeps ownership.
void SetClock(CClock* clock);

// The clock's milliseconds truncated to 32 bits, as the original tick count.
std::uint32_t GetTickCount();
void Sleep(std::uint32_t ms);

// Called by a clock whose time jumps (CTestClock::Advance): wakes every timed
// wait and every message queue so that they look at the clock again.
void NotifyClockAdvanced();

}  // namespace platform
