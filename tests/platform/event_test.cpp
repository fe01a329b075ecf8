// Auto- and manual-reset events and their time-outs on the replaceable clock.
#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/clock_waiter.h"
#include "platform/test_clock.h"

namespace {

using platform::CEvent;
using platform::EventReset;
using platform::WaitResult;

constexpr auto kSettleTime = std::chrono::milliseconds(20);  // lets a wrongly woken thread show
constexpr auto kPatience = std::chrono::seconds(5);          // upper bound for a test's wait

// Waits in real time until condition holds; false after kPatience.
template <typename Condition>
bool Eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct InitialStateCase {
    const char* name;
    EventReset reset;
    bool initiallySignaled;
    bool setFirst;
    WaitResult first;
    WaitResult second;
};

constexpr InitialStateCase kInitialStateCases[] = {
    {"auto, signaled", EventReset::kAuto, true, false, WaitResult::kSignaled, WaitResult::kTimeout},
    {"manual, signaled", EventReset::kManual, true, false, WaitResult::kSignaled,
     WaitResult::kSignaled},
    {"auto, clear", EventReset::kAuto, false, false, WaitResult::kTimeout, WaitResult::kTimeout},
    {"manual, clear", EventReset::kManual, false, false, WaitResult::kTimeout,
     WaitResult::kTimeout},
    {"auto, set", EventReset::kAuto, false, true, WaitResult::kSignaled, WaitResult::kTimeout},
    {"manual, set", EventReset::kManual, false, true, WaitResult::kSignaled, WaitResult::kSignaled},
};

TEST(EventTest, ZeroWaitsAfterConstructionAndSet) {
    platform::CScopedTestClock clock;
    for (const auto& test : kInitialStateCases) {
        SCOPED_TRACE(test.name);
        CEvent event(test.reset, test.initiallySignaled);
        if (test.setFirst) {
            event.Set();
        }
        EXPECT_EQ(event.Wait(0), test.first);
        EXPECT_EQ(event.Wait(0), test.second);
    }
}

TEST(EventTest, ResetClearsAManualEvent) {
    CEvent event(EventReset::kManual, true);
    event.Reset();
    EXPECT_EQ(event.Wait(0), WaitResult::kTimeout);
}

TEST(EventTest, SeveralSetsReleaseOneWaitOfAnAutoEvent) {
    platform::CScopedTestClock clock;
    CEvent event(EventReset::kAuto);
    event.Set();
    event.Set();
    event.Set();
    EXPECT_EQ(event.Wait(1000), WaitResult::kSignaled);
    EXPECT_EQ(event.Wait(0), WaitResult::kTimeout);
}

TEST(EventTest, EachSetOfAnAutoEventReleasesOneOfTwoWaiters) {
    CEvent event(EventReset::kAuto);
    std::atomic<int> released{0};
    std::thread first([&] { released += event.Wait() == WaitResult::kSignaled ? 1 : 0; });
    std::thread second([&] { released += event.Wait() == WaitResult::kSignaled ? 1 : 0; });

    event.Set();
    EXPECT_TRUE(Eventually([&] { return released.load() == 1; }));
    std::this_thread::sleep_for(kSettleTime);
    EXPECT_EQ(released.load(), 1);

    event.Set();
    first.join();
    second.join();
    EXPECT_EQ(released.load(), 2);
}

TEST(EventTest, SetOfAManualEventReleasesEveryWaiter) {
    CEvent event(EventReset::kManual);
    std::atomic<int> released{0};
    std::thread first([&] { released += event.Wait() == WaitResult::kSignaled ? 1 : 0; });
    std::thread second([&] { released += event.Wait() == WaitResult::kSignaled ? 1 : 0; });
    event.Set();
    first.join();
    second.join();
    EXPECT_EQ(released.load(), 2);
}

// A worker waits 3000 ms on the test clock; the test moves the clock from
// another thread once the worker is inside its wait.
class TimedWaitTest : public ::testing::Test {
protected:
    void StartWaiter(CEvent& event, std::uint32_t timeoutMs) {
        const std::size_t before = platform::ClockWaiterCount();
        m_waiter = std::thread([this, &event, timeoutMs] {
            m_result = event.Wait(timeoutMs);
            m_done = true;
        });
        ASSERT_TRUE(Eventually([&] { return platform::ClockWaiterCount() == before + 1; }));
    }
    void TearDown() override {
        if (m_waiter.joinable()) {
            m_clock.Advance(kForeverMs);  // never leave the worker hanging
            m_waiter.join();
        }
    }

    static constexpr std::uint64_t kForeverMs = 1'000'000;
    platform::CScopedTestClock m_clock;
    std::thread m_waiter;
    std::atomic<bool> m_done{false};
    std::atomic<WaitResult> m_result{WaitResult::kSignaled};
};

TEST_F(TimedWaitTest, EndsWhenAnotherThreadAdvancesTheClockPastTheDeadline) {
    CEvent stopped(EventReset::kManual);
    StartWaiter(stopped, 3000);

    m_clock.Advance(2999);
    std::this_thread::sleep_for(kSettleTime);
    EXPECT_FALSE(m_done.load());

    const auto realStart = std::chrono::steady_clock::now();
    m_clock.Advance(1);
    m_waiter.join();
    EXPECT_EQ(m_result.load(), WaitResult::kTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - realStart, std::chrono::seconds(1));
}

TEST_F(TimedWaitTest, SetBeforeTheDeadlineReleasesTheWait) {
    CEvent wakeUp(EventReset::kAuto);
    StartWaiter(wakeUp, 3000);
    m_clock.Advance(1000);
    wakeUp.Set();
    m_waiter.join();
    EXPECT_EQ(m_result.load(), WaitResult::kSignaled);
    EXPECT_EQ(wakeUp.Wait(0), WaitResult::kTimeout);  // the wait consumed the signal
}

TEST(EventSystemClockTest, ShortWaitTimesOutInRealTime) {
    constexpr std::uint32_t kTimeoutMs = 30;
    CEvent event(EventReset::kAuto);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(event.Wait(kTimeoutMs), WaitResult::kTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kTimeoutMs - 1));
}

}  // namespace
