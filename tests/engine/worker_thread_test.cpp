#include "engine/worker_thread.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/event.h"
#include "platform/test_clock.h"

namespace {

using namespace std::chrono_literals;

// Counts its steps; each step waits (real time, briefly) so the loop does not
// spin the test machine.
class CCountingWorker : public CWorkerThread {
public:
    int RunOnce() override {
        ++m_steps;
        std::this_thread::sleep_for(1ms);
        return 0;
    }
    std::atomic<int> m_steps{0};
};

// A step that blocks until the test lets it go.
class CStuckWorker : public CWorkerThread {
public:
    int RunOnce() override {
        m_entered.Set();
        m_release.Wait();
        return 0;
    }
    platform::CEvent m_entered{platform::EventReset::kManual};
    platform::CEvent m_release{platform::EventReset::kManual};
};

bool WaitUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 2000; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

TEST(WorkerThread, StaysSuspendedUntilResumed) {
    CCountingWorker worker;
    ASSERT_TRUE(worker.Start());
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(worker.m_steps.load(), 0);
    worker.Resume();
    EXPECT_TRUE(WaitUntil([&] { return worker.m_steps.load() > 0; }));
    EXPECT_TRUE(worker.Stop());
    EXPECT_FALSE(worker.HasThread());
}

TEST(WorkerThread, StopBeforeResumeEndsWithoutAStep) {
    CCountingWorker worker;
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.Stop());
    EXPECT_EQ(worker.m_steps.load(), 0);
}

TEST(WorkerThread, StopAndResumeTwiceAndStopWithoutStart) {
    CCountingWorker never;
    EXPECT_TRUE(never.Stop());
    never.Resume();

    CCountingWorker worker;
    ASSERT_TRUE(worker.Start());
    worker.Resume();
    worker.Resume();
    EXPECT_TRUE(worker.Stop());
    const int steps = worker.m_steps.load();
    EXPECT_TRUE(worker.Stop());
    EXPECT_EQ(worker.m_steps.load(), steps);
}

TEST(WorkerThread, AStepThatNeverReturnsIsAbandonedAfterTheBound) {
    platform::CScopedTestClock clock;
    CStuckWorker worker;
    ASSERT_TRUE(worker.Start());
    worker.Resume();
    ASSERT_EQ(worker.m_entered.Wait(), platform::WaitResult::kSignaled);

    std::atomic<bool> stopped{false};
    bool ended = true;
    std::thread stopper([&] {
        ended = worker.Stop();
        stopped = true;
    });
    // Nothing ends the wait but the clock: 2999 ms are not enough.
    std::this_thread::sleep_for(20ms);
    clock.Advance(CWorkerThread::kStopTimeoutMs - 1);
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(stopped.load());
    clock.Advance(1);
    stopper.join();
    EXPECT_FALSE(ended);
    EXPECT_TRUE(worker.IsAbandoned());
    EXPECT_FALSE(worker.Stop());  // a second Stop neither waits nor frees

    // Let the step return; the detached thread leaves the loop on its own.
    worker.m_release.Set();
    EXPECT_TRUE(worker.WaitForEnd(platform::kInfinite));
}

}  // namespace
