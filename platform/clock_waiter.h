// Waits that must notice a clock jump (CTestClock::Advance) register here for
// as long as they wait: timed event waits while a replaced clock is
// installed, and every thread's message queue. NotifyClockAdvanced wakes
// each registered waiter. For the layer itself.
//
// Any thread may register and unregister. NotifyClockAdvanced calls
// OnClockAdvanced with the registry's lock held, so an implementation must
// not register, unregister or notify from inside it; it may lock its own
// mutex, provided that mutex is never held while registering.
#pragma once

#include <cstddef>

namespace platform {

class CClockWaiter {
public:
    virtual void OnClockAdvanced() = 0;

protected:
    ~CClockWaiter() = default;
};

void RegisterClockWaiter(CClockWaiter* waiter);
void UnregisterClockWaiter(CClockWaiter* waiter);

// The number of registered waiters; lets a test see that a thread has
// entered its timed wait before it moves the clock.
std::size_t ClockWaiterCount();

// True while no test clock is installed: deadlines are then steady_clock
// times and may be waited for in real time.
bool UsesSystemClock();

}  // namespace platform
