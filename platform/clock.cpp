#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock_waiter.h"

namespace platform {

namespace {

class CSystemClock final : public CClock {
public:
    std::uint64_t NowMs() override {
        const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
    }

    void SleepMs(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

// Never destroyed: threads still running at process exit may read the clock.
CClock& SystemClock() {
    static CSystemClock* const clock = new CSystemClock();
    return *clock;
}

std::atomic<CClock*> g_installedClock{nullptr};

struct WaiterRegistry {
    std::mutex mutex;
    std::vector<CClockWaiter*> waiters;
};

WaiterRegistry& Registry() {
    static WaiterRegistry* const registry = new WaiterRegistry();
    return *registry;
}

}  // namespace

CClock& Clock() {
    CClock* installed = g_installedClock.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : SystemClock();
}

void SetClock(CClock* clock) {
    g_installedClock.store(clock, std::memory_order_release);
    // Queues re-arm their real-time timer descriptors for the new clock.
    NotifyClockAdvanced();
}

bool UsesSystemClock() {
    return g_installedClock.load(std::memory_order_acquire) == nullptr;
}

std::uint32_t GetTickCount() {
    return static_cast<std::uint32_t>(Clock().NowMs());
}

void Sleep(std::uint32_t ms) {
    Clock().SleepMs(ms);
}

void NotifyClockAdvanced() {
    WaiterRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    for (CClockWaiter* waiter : registry.waiters) {
        waiter->OnClockAdvanced();
    }
}

void RegisterClockWaiter(CClockWaiter* waiter) {
    WaiterRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    registry.waiters.push_back(waiter);
}

void UnregisterClockWaiter(CClockWaiter* waiter) {
    WaiterRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    const auto found = std::find(registry.waiters.begin(), registry.waiters.end(), waiter);
    if (found != registry.waiters.end()) {
        registry.waiters.erase(found);
    }
}

std::size_t ClockWaiterCount() {
    WaiterRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    return registry.waiters.size();
}

}  // namespace platform
