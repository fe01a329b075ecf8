// A window timer that counts its ticks and reports when a limit is reached:
// the wait for an answer from the microcontroller.
//
// Threads: the firmware updater calls Start on its sender thread, Stop on its
// receiver thread and on the user-interface thread, and OnTick on the
// user-interface thread (ticks arrive there, on the bound window). The key
// engine calls all three on the user-interface thread. The members are atomic
// for that reason; the updater's hand-over order keeps a frame's Start before
// the Stop its answer causes.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/types.h"

class CAnswerTimer {
public:
    // Every answer timer uses this window timer id.
    static constexpr platform::TimerId kTimerId = 1324;
    // OnTick results.
    static constexpr int kTickCounted = 0;
    static constexpr int kLimitReached = -1;
    static constexpr int kNotOurTimer = -2;

    explicit CAnswerTimer(platform::WindowHandle window);

    // Kills a running timer, sets window timer kTimerId with the interval and
    // restarts the count. Returns the timer id, 0 without a window.
    platform::TimerId Start(std::uint32_t intervalMs, std::int32_t tickLimit);
    // kNotOurTimer for an id it does not hold (count unchanged); else counts
    // the tick: kTickCounted below the limit, kLimitReached (and the timer
    // killed) at or past it.
    int OnTick(platform::TimerId timerId);
    // Kills the window timer; the recorded id stays.
    void Stop();

    std::int32_t GetTickCount() const { return m_tickCount.load(); }

private:
    void KillIfRecorded();

    const platform::WindowHandle m_window;
    std::atomic<std::int32_t> m_tickLimit{0};
    std::atomic<std::int32_t> m_tickCount{0};
    std::atomic<platform::TimerId> m_timerId{0};
};
