// Windows, posted and sent messages, window timers and pumping, on the test clock.
#include "platform/window_messages.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/test_clock.h"

namespace {

using platform::kWmDestroy;
using platform::kWmTimer;
using platform::kWmUser;
using platform::WindowHandle;

constexpr platform::TimerId kAnswerTimerId = 1324;
constexpr std::uint32_t kAnswerPeriodMs = 1000;

struct Received {
    platform::MessageId message;
    platform::WParam wParam;
    std::uint64_t atMs;  // offset from the recorder's creation on Clock()
    std::thread::id thread;
};

// A window that records what its handler receives. Handlers run on the
// owner thread; other threads read the record only after joining.
class Recorder {
public:
    Recorder() : m_startMs(platform::Clock().NowMs()) {
        m_window = platform::CreateWindow([this](WindowHandle, platform::MessageId message,
                                                 platform::WParam wParam, platform::LParam) {
            m_received.push_back({message, wParam, platform::Clock().NowMs() - m_startMs,
                                  std::this_thread::get_id()});
            if (m_onMessage) {
                m_onMessage(message);
            }
            return static_cast<platform::LResult>(wParam) + 1;
        });
    }
    ~Recorder() { platform::DestroyWindow(m_window); }

    WindowHandle Window() const { return m_window; }
    const std::vector<Received>& All() const { return m_received; }
    std::vector<platform::MessageId> Messages() const {
        std::vector<platform::MessageId> messages;
        for (const auto& received : m_received) {
            messages.push_back(received.message);
        }
        return messages;
    }
    std::vector<std::uint64_t> TickTimes() const {
        std::vector<std::uint64_t> times;
        for (const auto& received : m_received) {
            if (received.message == kWmTimer) {
                times.push_back(received.atMs);
            }
        }
        return times;
    }
    void OnMessage(std::function<void(platform::MessageId)> action) {
        m_onMessage = std::move(action);
    }

private:
    std::uint64_t m_startMs;
    WindowHandle m_window = platform::kNoWindow;
    std::vector<Received> m_received;
    std::function<void(platform::MessageId)> m_onMessage;
};

bool Readable(int descriptor, int timeoutMs) {
    pollfd entry{descriptor, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) == 1;
}

class WindowMessagesTest : public ::testing::Test {
protected:
    void SetUp() override { platform::PumpMessages(); }  // nothing left by earlier tests
    void AdvanceAndPump(std::uint64_t ms) {
        m_clock.Advance(ms);
        EXPECT_TRUE(platform::PumpMessages());
    }

    platform::CScopedTestClock m_clock;
};

TEST(RegisteredMessageTest, SameNameSameIdAndReverseLookup) {
    const platform::MessageId engine = platform::RegisterWindowMessage("EngineEventMessage");
    const platform::MessageId key = platform::RegisterWindowMessage("KeyEventMessage");
    const platform::MessageId port = platform::RegisterWindowMessage("WM_MCU_COM_OP");
    for (const platform::MessageId id : {engine, key, port}) {
        EXPECT_GE(id, platform::kFirstRegisteredMessage);
        EXPECT_LE(id, platform::kLastRegisteredMessage);
    }
    EXPECT_NE(engine, key);
    EXPECT_NE(key, port);
    EXPECT_EQ(platform::RegisterWindowMessage("EngineEventMessage"), engine);
    EXPECT_EQ(platform::RegisterWindowMessage("wm_mcu_com_op"), port);  // letter case ignored
    EXPECT_EQ(platform::GetRegisteredMessageName(port), "WM_MCU_COM_OP");
    EXPECT_EQ(platform::GetRegisteredMessageName(key), "KeyEventMessage");

    EXPECT_EQ(platform::RegisterWindowMessage(""), 0u);
    EXPECT_EQ(platform::GetRegisteredMessageName(kWmTimer), "");
    EXPECT_EQ(platform::GetRegisteredMessageName(platform::kLastRegisteredMessage), "");
}

TEST(RegisteredMessageDeathTest, FullTableGivesZero) {
    // In a child process, so the filled table does not reach other tests.
    EXPECT_EXIT(
        {
            platform::MessageId last = 0;
            for (int i = 0; last != 0 || i == 0; ++i) {
                const platform::MessageId id =
                    platform::RegisterWindowMessage("filler" + std::to_string(i));
                if (id == 0) {
                    std::exit(last == platform::kLastRegisteredMessage ? 0 : 1);
                }
                last = id;
            }
            std::exit(2);
        },
        ::testing::ExitedWithCode(0), "");
}

struct TimerCase {
    const char* name;
    std::uint32_t periodMs;
    std::vector<std::uint64_t> stepsMs;  // advance, then pump, for each
    std::vector<std::uint64_t> expectedTickMs;
};

TEST_F(WindowMessagesTest, TimerTicksFollowTheClock) {
    std::vector<std::uint64_t> threeSecondsInSteps(30, 100);
    const TimerCase cases[] = {
        {"1000 ms timer in 3000 ms", kAnswerPeriodMs, threeSecondsInSteps, {1000, 2000, 3000}},
        {"late pump keeps the schedule", kAnswerPeriodMs, {1500, 500}, {1500, 2000}},
        {"missed periods are not made up", kAnswerPeriodMs, {3500, 0, 999, 1}, {3500, 4500}},
        {"period below 10 ms is stretched", 0, {5, 4, 1, 9, 1}, {10, 20}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        Recorder recorder;
        ASSERT_EQ(platform::SetTimer(recorder.Window(), kAnswerTimerId, test.periodMs),
                  kAnswerTimerId);
        for (const std::uint64_t step : test.stepsMs) {
            AdvanceAndPump(step);
        }
        EXPECT_EQ(recorder.TickTimes(), test.expectedTickMs);
        for (const auto& received : recorder.All()) {
            EXPECT_EQ(received.wParam, kAnswerTimerId);
        }
    }
}

TEST_F(WindowMessagesTest, KilledTimerTicksNoMore) {
    Recorder recorder;
    platform::SetTimer(recorder.Window(), kAnswerTimerId, kAnswerPeriodMs);
    AdvanceAndPump(1000);
    EXPECT_TRUE(platform::KillTimer(recorder.Window(), kAnswerTimerId));
    EXPECT_FALSE(platform::KillTimer(recorder.Window(), kAnswerTimerId));
    for (int step = 0; step < 30; ++step) {
        AdvanceAndPump(100);
    }
    EXPECT_EQ(recorder.TickTimes(), std::vector<std::uint64_t>{1000});
}

TEST_F(WindowMessagesTest, SettingATimerAgainRestartsItsPeriod) {
    Recorder recorder;
    platform::SetTimer(recorder.Window(), kAnswerTimerId, kAnswerPeriodMs);
    AdvanceAndPump(900);
    platform::SetTimer(recorder.Window(), kAnswerTimerId, kAnswerPeriodMs);
    AdvanceAndPump(900);
    EXPECT_TRUE(recorder.TickTimes().empty());
    AdvanceAndPump(100);
    EXPECT_EQ(recorder.TickTimes(), std::vector<std::uint64_t>{1900});
}

TEST_F(WindowMessagesTest, TimerIdZeroAndUnknownWindowsAreRefused) {
    Recorder recorder;
    EXPECT_EQ(platform::SetTimer(recorder.Window(), 0, kAnswerPeriodMs), 0u);
    EXPECT_EQ(platform::SetTimer(platform::kNoWindow, kAnswerTimerId, kAnswerPeriodMs), 0u);
    EXPECT_FALSE(platform::KillTimer(recorder.Window(), kAnswerTimerId));
}

TEST_F(WindowMessagesTest, PostsAndTimersFromOtherThreadsArriveOnTheOwnerThread) {
    Recorder recorder;
    const platform::MessageId event = platform::RegisterWindowMessage("EngineEventMessage");
    std::thread worker([&] {
        EXPECT_TRUE(platform::PostMessage(recorder.Window(), event, 7, 42));
        EXPECT_EQ(platform::SetTimer(recorder.Window(), kAnswerTimerId, kAnswerPeriodMs),
                  kAnswerTimerId);
    });
    worker.join();
    AdvanceAndPump(1000);

    ASSERT_EQ(recorder.Messages(), (std::vector<platform::MessageId>{event, kWmTimer}));
    EXPECT_EQ(recorder.All()[0].wParam, 7u);
    EXPECT_EQ(recorder.All()[1].wParam, kAnswerTimerId);
    for (const auto& received : recorder.All()) {
        EXPECT_EQ(received.thread, std::this_thread::get_id());
    }

    std::thread killer(
        [&] { EXPECT_TRUE(platform::KillTimer(recorder.Window(), kAnswerTimerId)); });
    killer.join();
    AdvanceAndPump(5000);
    EXPECT_EQ(recorder.All().size(), 2u);
}

TEST_F(WindowMessagesTest, SendRunsTheHandlerOnTheOwnerThreadOnly) {
    Recorder recorder;
    EXPECT_EQ(platform::SendMessage(recorder.Window(), kWmUser, 41, 0), 42);
    EXPECT_EQ(recorder.All().size(), 1u);

    std::thread other([&] {
        EXPECT_EQ(platform::SendMessage(recorder.Window(), kWmUser, 41, 0), 0);
        EXPECT_FALSE(platform::DestroyWindow(recorder.Window()));
    });
    other.join();
    EXPECT_EQ(recorder.All().size(), 1u);
    EXPECT_TRUE(platform::IsWindow(recorder.Window()));
}

TEST_F(WindowMessagesTest, DestroyedWindowIsGoneWithItsMessagesAndTimers) {
    Recorder recorder;
    Recorder bystander;
    const WindowHandle window = recorder.Window();
    platform::SetForegroundWindow(window);
    EXPECT_EQ(platform::GetForegroundWindow(), window);
    platform::SetTimer(window, kAnswerTimerId, kAnswerPeriodMs);
    platform::PostMessage(window, kWmUser, 1, 0);
    platform::PostMessage(bystander.Window(), kWmUser, 2, 0);

    ASSERT_TRUE(platform::DestroyWindow(window));
    EXPECT_EQ(recorder.Messages(), std::vector<platform::MessageId>{kWmDestroy});
    EXPECT_FALSE(platform::IsWindow(window));
    EXPECT_FALSE(platform::PostMessage(window, kWmUser, 3, 0));
    EXPECT_EQ(platform::SendMessage(window, kWmUser, 3, 0), 0);
    EXPECT_EQ(platform::SetTimer(window, kAnswerTimerId, kAnswerPeriodMs), 0u);
    EXPECT_EQ(platform::GetForegroundWindow(), platform::kNoWindow);
    EXPECT_FALSE(platform::DestroyWindow(window));

    AdvanceAndPump(3000);
    EXPECT_EQ(recorder.Messages(), std::vector<platform::MessageId>{kWmDestroy});
    EXPECT_EQ(bystander.Messages(), std::vector<platform::MessageId>{kWmUser});
}

TEST_F(WindowMessagesTest, HandlersMayPumpCreateAndDestroyWindows) {
    Recorder recorder;
    auto doomed = std::make_unique<Recorder>();
    const WindowHandle window = recorder.Window();
    WindowHandle created = platform::kNoWindow;
    recorder.OnMessage([&](platform::MessageId message) {
        if (message == kWmUser) {
            // The doomed window's queued message goes with it.
            platform::DestroyWindow(doomed->Window());
            // A modal loop inside a handler: the nested pump takes the
            // messages that follow, in order.
            platform::PostMessage(window, kWmUser + 3, 0, 0);
            platform::PumpMessages();
            created = platform::CreateWindow([](auto...) { return platform::LResult{0}; });
        }
    });
    platform::PostMessage(window, kWmUser, 0, 0);
    platform::PostMessage(window, kWmUser + 1, 0, 0);
    platform::PostMessage(window, kWmUser + 2, 0, 0);
    platform::PostMessage(doomed->Window(), kWmUser, 0, 0);

    EXPECT_TRUE(platform::PumpMessages());
    EXPECT_EQ(recorder.Messages(),
              (std::vector<platform::MessageId>{kWmUser, kWmUser + 1, kWmUser + 2, kWmUser + 3}));
    EXPECT_EQ(doomed->Messages(), std::vector<platform::MessageId>{kWmDestroy});
    EXPECT_TRUE(platform::IsWindow(created));
    EXPECT_TRUE(platform::DestroyWindow(created));
}

TEST_F(WindowMessagesTest, QuitEndsTheBatchAndLeavesTheRestQueued) {
    Recorder recorder;
    platform::PostMessage(recorder.Window(), kWmUser, 0, 0);
    platform::PostQuitMessage(7);
    platform::PostMessage(recorder.Window(), kWmUser + 1, 0, 0);

    int exitCode = 0;
    EXPECT_FALSE(platform::PumpMessages(&exitCode));
    EXPECT_EQ(exitCode, 7);
    EXPECT_EQ(recorder.Messages(), std::vector<platform::MessageId>{kWmUser});
    EXPECT_TRUE(Readable(platform::MessageQueueDescriptor(), 0));
    EXPECT_TRUE(platform::PumpMessages());
    EXPECT_EQ(recorder.Messages(), (std::vector<platform::MessageId>{kWmUser, kWmUser + 1}));
}

TEST_F(WindowMessagesTest, RunMessageLoopEndsWithTheQuitCodeFromAnotherThreadsPost) {
    Recorder recorder;
    recorder.OnMessage([](platform::MessageId message) {
        if (message == kWmUser) {
            platform::PostQuitMessage(-3);
        }
    });
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        platform::PostMessage(recorder.Window(), kWmUser, 0, 0);
    });
    EXPECT_EQ(platform::RunMessageLoop(), -3);
    poster.join();
}

TEST_F(WindowMessagesTest, DescriptorIsReadableWhenAPostOrATimerIsDue) {
    Recorder recorder;
    const int descriptor = platform::MessageQueueDescriptor();
    ASSERT_GE(descriptor, 0);
    EXPECT_FALSE(Readable(descriptor, 0));

    std::thread poster([&] { platform::PostMessage(recorder.Window(), kWmUser, 0, 0); });
    poster.join();
    EXPECT_TRUE(Readable(descriptor, 1000));
    EXPECT_TRUE(platform::PumpMessages());
    EXPECT_FALSE(Readable(descriptor, 0));
    EXPECT_EQ(recorder.Messages(), std::vector<platform::MessageId>{kWmUser});

    platform::SetTimer(recorder.Window(), kAnswerTimerId, kAnswerPeriodMs);
    EXPECT_FALSE(Readable(descriptor, 0));
    std::thread advancer([&] { m_clock.Advance(kAnswerPeriodMs); });
    advancer.join();
    EXPECT_TRUE(Readable(descriptor, 1000));
    EXPECT_TRUE(platform::PumpMessages());
    EXPECT_FALSE(Readable(descriptor, 0));
    EXPECT_EQ(recorder.TickTimes(), std::vector<std::uint64_t>{kAnswerPeriodMs});
}

TEST_F(WindowMessagesTest, WaitForMessagesWakesForAPostAndTimesOutWithout) {
    Recorder recorder;
    EXPECT_FALSE(platform::WaitForMessages(10));

    platform::SetTimer(recorder.Window(), kAnswerTimerId, kAnswerPeriodMs);
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        m_clock.Advance(500);  // wakes the wait, but nothing is due yet
        platform::PostMessage(recorder.Window(), kWmUser, 0, 0);
    });
    EXPECT_TRUE(platform::WaitForMessages(5000));
    poster.join();
    EXPECT_TRUE(platform::PumpMessages());
    EXPECT_EQ(recorder.Messages(), std::vector<platform::MessageId>{kWmUser});
}

TEST_F(WindowMessagesTest, EachThreadPumpsOnlyItsOwnWindows) {
    Recorder mine;
    std::atomic<WindowHandle> theirs{platform::kNoWindow};
    std::atomic<bool> posted{false};
    std::atomic<int> theirMessages{0};
    std::thread owner([&] {
        theirs = platform::CreateWindow([&](auto...) {
            ++theirMessages;
            return platform::LResult{0};
        });
        while (!posted) {
            std::this_thread::yield();
        }
        platform::PumpMessages();
        // Windows that a thread leaves behind end with it.
    });
    while (theirs == platform::kNoWindow) {
        std::this_thread::yield();
    }
    const WindowHandle window = theirs;
    platform::PostMessage(window, kWmUser, 0, 0);
    platform::PostMessage(mine.Window(), kWmUser, 0, 0);
    platform::PumpMessages();
    EXPECT_EQ(theirMessages.load(), 0);
    EXPECT_EQ(mine.Messages(), std::vector<platform::MessageId>{kWmUser});

    posted = true;
    owner.join();
    EXPECT_EQ(theirMessages.load(), 1);
    EXPECT_FALSE(platform::IsWindow(window));
}

TEST(WindowTimerSystemClockTest, RealTimeTimerMakesTheDescriptorReadable) {
    constexpr std::uint32_t kShortPeriodMs = 20;
    Recorder recorder;
    platform::PumpMessages();
    const int descriptor = platform::MessageQueueDescriptor();
    const auto start = std::chrono::steady_clock::now();
    platform::SetTimer(recorder.Window(), kAnswerTimerId, kShortPeriodMs);
    EXPECT_TRUE(Readable(descriptor, 2000));
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(kShortPeriodMs - 1));
    EXPECT_TRUE(platform::PumpMessages());
    EXPECT_EQ(recorder.Messages(), std::vector<platform::MessageId>{kWmTimer});
    EXPECT_FALSE(Readable(descriptor, 0));
}

}  // namespace
