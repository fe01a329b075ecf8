// The replaceable clock: the system clock, the test clock and the wake-up of
// waits when a test clock jumps.
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/clock_waiter.h"
#include "platform/test_clock.h"

namespace {

using platform::Clock;

TEST(TestClockTest, SleepAdvancesAtOnceAndTickCountFollowsTheInstalledClock) {
    platform::CScopedTestClock clock;
    EXPECT_FALSE(platform::UsesSystemClock());
    const std::uint64_t startMs = Clock().NowMs();
    const auto realStart = std::chrono::steady_clock::now();

    platform::Sleep(3000);
    clock.Advance(250);

    EXPECT_EQ(Clock().NowMs(), startMs + 3250);
    EXPECT_EQ(platform::GetTickCount(), static_cast<std::uint32_t>(startMs + 3250));
    EXPECT_LT(std::chrono::steady_clock::now() - realStart, std::chrono::seconds(1));
}

TEST(TestClockTest, TickCountWrapsAt32Bits) {
    constexpr std::uint64_t kJustBeforeWrapMs = 0xFFFF'FFF0;
    platform::CTestClock clock(kJustBeforeWrapMs);
    platform::SetClock(&clock);
    clock.Advance(0x20);
    EXPECT_EQ(platform::GetTickCount(), 0x10u);
    EXPECT_EQ(clock.NowMs(), 0x1'0000'0010u);
    platform::SetClock(nullptr);
}

TEST(TestClockTest, AdvancesFromManyThreadsAddUp) {
    platform::CTestClock clock(0);
    constexpr int kThreads = 4;
    constexpr int kSteps = 1000;
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&clock] {
            for (int step = 0; step < kSteps; ++step) {
                clock.SleepMs(3);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(clock.NowMs(), std::uint64_t{kThreads} * kSteps * 3);
}

TEST(SystemClockTest, IsRestoredAndFollowsSteadyClock) {
    { platform::CScopedTestClock clock; }
    ASSERT_TRUE(platform::UsesSystemClock());
    const auto steadyMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    const auto nowMs = static_cast<std::int64_t>(Clock().NowMs());
    EXPECT_LE(std::abs(nowMs - steadyMs), 5);

    constexpr std::uint32_t kNapMs = 20;
    const std::uint64_t before = Clock().NowMs();
    platform::Sleep(kNapMs);
    EXPECT_GE(Clock().NowMs() - before, kNapMs);
}

class CCountingWaiter final : public platform::CClockWaiter {
public:
    void OnClockAdvanced() override { ++m_calls; }
    int Calls() const { return m_calls.load(); }

private:
    std::atomic<int> m_calls{0};
};

TEST(ClockWaiterTest, OnlyRegisteredWaitersAreWokenByAnAdvance) {
    platform::CTestClock clock;
    CCountingWaiter waiter;
    const std::size_t before = platform::ClockWaiterCount();

    platform::RegisterClockWaiter(&waiter);
    EXPECT_EQ(platform::ClockWaiterCount(), before + 1);
    clock.Advance(1);
    clock.SleepMs(1);
    EXPECT_EQ(waiter.Calls(), 2);

    platform::UnregisterClockWaiter(&waiter);
    EXPECT_EQ(platform::ClockWaiterCount(), before);
    clock.Advance(1);
    EXPECT_EQ(waiter.Calls(), 2);
}

}  // namespace
