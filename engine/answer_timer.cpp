#include "engine/answer_timer.h"

#include "platform/window_messages.h"

CAnswerTimer::CAnswerTimer(platform::WindowHandle window) : m_window(window) {}

void CAnswerTimer::KillIfRecorded() {
    if (m_timerId.load() != 0 && platform::IsWindow(m_window)) {
        platform::KillTimer(m_window, kTimerId);
    }
}

platform::TimerId CAnswerTimer::Start(std::uint32_t intervalMs, std::int32_t tickLimit) {
    KillIfRecorded();
    if (m_window == platform::kNoWindow) {
        return 0;
    }
    // Count and limit first, so that a tick of the new timer sees them.
    m_tickCount.store(0);
    m_tickLimit.store(tickLimit);
    const platform::TimerId id = platform::SetTimer(m_window, kTimerId, intervalMs);
    m_timerId.store(id);
    return id;
}

int CAnswerTimer::OnTick(platform::TimerId timerId) {
    if (timerId != m_timerId.load() || timerId == 0) {
        return kNotOurTimer;
    }
    const std::int32_t count = m_tickCount.fetch_add(1) + 1;
    if (count < m_tickLimit.load()) {
        return kTickCounted;
    }
    KillIfRecorded();
    return kLimitReached;
}

void CAnswerTimer::Stop() {
    KillIfRecorded();
}
