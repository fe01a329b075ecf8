#include "engine/answer_timer.h"

#include <vector>

#include <gtest/gtest.h>

#include "platform/test_clock.h"
#include "platform/window_messages.h"

namespace {

// A window on the test thread that records the ticks of the answer timer.
class AnswerTimerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_window = platform::CreateWindow(
            [this](platform::WindowHandle, platform::MessageId message, platform::WParam id,
                   platform::LParam) -> platform::LResult {
                if (message == platform::kWmTimer) {
                    m_ticks.push_back(static_cast<platform::TimerId>(id));
                }
                return 0;
            });
        ASSERT_NE(m_window, platform::kNoWindow);
    }
    void TearDown() override { platform::DestroyWindow(m_window); }

    // Moves the clock in 100 ms steps, pumping after each.
    void Run(std::uint64_t ms) {
        for (std::uint64_t done = 0; done < ms; done += 100) {
            m_clock.Advance(100);
            platform::PumpMessages();
        }
    }

    platform::CScopedTestClock m_clock;
    platform::WindowHandle m_window = platform::kNoWindow;
    std::vector<platform::TimerId> m_ticks;
};

TEST_F(AnswerTimerTest, ThirdTickOfLimitThreeReportsAndKillsTheTimer) {
    CAnswerTimer timer(m_window);
    ASSERT_EQ(timer.Start(1000, 3), CAnswerTimer::kTimerId);
    std::vector<int> results;
    for (int second = 0; second < 5; ++second) {
        m_ticks.clear();
        Run(1000);
        for (platform::TimerId id : m_ticks) {
            results.push_back(timer.OnTick(id));
        }
    }
    EXPECT_EQ(results, (std::vector<int>{0, 0, -1}));
}

TEST_F(AnswerTimerTest, ForeignIdLeavesTheCountAlone) {
    CAnswerTimer timer(m_window);
    timer.Start(1000, 3);
    EXPECT_EQ(timer.OnTick(1325), CAnswerTimer::kNotOurTimer);
    EXPECT_EQ(timer.GetTickCount(), 0);
    EXPECT_EQ(timer.OnTick(CAnswerTimer::kTimerId), CAnswerTimer::kTickCounted);
    EXPECT_EQ(timer.GetTickCount(), 1);
}

TEST_F(AnswerTimerTest, StartingAgainRestartsCountAndPeriod) {
    CAnswerTimer timer(m_window);
    timer.Start(1000, 3);
    Run(700);
    timer.OnTick(CAnswerTimer::kTimerId);  // one counted by hand
    timer.Start(1000, 3);
    EXPECT_EQ(timer.GetTickCount(), 0);
    Run(700);  // 1400 ms after the first start, 700 after the second
    EXPECT_TRUE(m_ticks.empty());
    Run(300);
    EXPECT_EQ(m_ticks.size(), 1u);
}

TEST_F(AnswerTimerTest, StopKillsTheTimerAndAStopBeforeStartDoesNothing) {
    CAnswerTimer idle(m_window);
    idle.Stop();
    CAnswerTimer timer(m_window);
    timer.Start(300, 10);
    timer.Stop();
    Run(3000);
    EXPECT_TRUE(m_ticks.empty());
}

TEST_F(AnswerTimerTest, LateTickAfterTheLimitCountsAgain) {
    CAnswerTimer timer(m_window);
    timer.Start(1000, 1);
    EXPECT_EQ(timer.OnTick(CAnswerTimer::kTimerId), CAnswerTimer::kLimitReached);
    EXPECT_EQ(timer.OnTick(CAnswerTimer::kTimerId), CAnswerTimer::kLimitReached);
}

TEST(AnswerTimerWithoutWindow, StartsNothingAndKnowsNoTick) {
    CAnswerTimer timer(platform::kNoWindow);
    EXPECT_EQ(timer.Start(1000, 3), 0u);
    EXPECT_EQ(timer.OnTick(CAnswerTimer::kTimerId), CAnswerTimer::kNotOurTimer);
    timer.Stop();
}

TEST(AnswerTimerDestroyedWindow, StartSetsNothingThatTicks) {
    platform::CScopedTestClock clock;
    const platform::WindowHandle window =
        platform::CreateWindow([](platform::WindowHandle, platform::MessageId, platform::WParam,
                                  platform::LParam) -> platform::LResult { return 0; });
    platform::DestroyWindow(window);
    CAnswerTimer timer(window);
    EXPECT_EQ(timer.Start(1000, 3), 0u);
    timer.Stop();
}

}  // namespace
