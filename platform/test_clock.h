// A clock that moves only when told to. Sleeping on it moves it forward by
// the sleep at once, so code that sleeps runs without waiting; Advance moves
// it and wakes timed waits and message queues. Thread-safe.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace platform {

class CTestClock : public CClock {
public:
    explicit CTestClock(std::uint64_t startMs = 1'000'000);

    std::uint64_t NowMs() override;
    void SleepMs(std::uint32_t ms) override;  // advances by ms and returns

    void Advance(std::uint64_t ms);

private:
    std::atomic<std::uint64_t> m_nowMs;
};

// Installs a CTestClock for the lifetime of the object (tests).
class CScopedTestClock {
public:
    CScopedTestClock();
    ~CScopedTestClock();
    CScopedTestClock(const CScopedTestClock&) = delete;
    CScopedTestClock& operator=(const CScopedTestClock&) = delete;

    CTestClock& Get() { return m_clock; }
    void Advance(std::uint64_t ms) { m_clock.Advance(ms); }

private:
    CTestClock m_clock;
};

}  // namespace platform
