#include "platform/test_clock.h"

namespace platform {

CTestClock::CTestClock(std::uint64_t startMs) : m_nowMs(startMs) {}

std::uint64_t CTestClock::NowMs() {
    return m_nowMs.load();
}

void CTestClock::SleepMs(std::uint32_t ms) {
    Advance(ms);
}

void CTestClock::Advance(std::uint64_t ms) {
    m_nowMs.fetch_add(ms);
    NotifyClockAdvanced();
}

CScopedTestClock::CScopedTestClock() {
    SetClock(&m_clock);
}

CScopedTestClock::~CScopedTestClock() {
    SetClock(nullptr);
}

}  // namespace platform
