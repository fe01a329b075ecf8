#include "engine/updater_holder.h"

#include <new>

#include "engine/event_messages.h"
#include "engine/firmware_updater.h"
#include "mcu_link/engine_events.h"
#include "platform/debug_output.h"
#include "platform/window_messages.h"

std::atomic<CUpdaterHolder*> CUpdaterHolder::s_instance{nullptr};

CUpdaterHolder::CUpdaterHolder(platform::WindowHandle window) : m_window(window) {
    m_updater.reset(new (std::nothrow) CFirmwareUpdater(window));
}

CUpdaterHolder::~CUpdaterHolder() = default;

CUpdaterHolder* CUpdaterHolder::Create(platform::WindowHandle window) {
    auto* holder = new (std::nothrow) CUpdaterHolder(window);
    s_instance.store(holder);
    return holder;
}

CUpdaterHolder* CUpdaterHolder::Instance() {
    return s_instance.load();
}

void CUpdaterHolder::Start() {
    if (!m_updater) {
        return;
    }
    platform::PostMessage(m_window.load(), EngineEventMessage(),
                          static_cast<platform::WParam>(EngineEvent::kTransferRunning), 0);
    m_updater->BeginTransfer();
}

void CUpdaterHolder::Initialise() {
    if (!m_updater) {
        return;
    }
    m_updater->Initialise();
    m_port = m_updater->GetPortHandle();
}

void CUpdaterHolder::GetFileName(std::string& name) {
    if (m_updater) {
        m_updater->GetFileName(name);
    }
}

platform::DeviceHandle CUpdaterHolder::GetPortHandle() {
    return m_updater ? m_updater->GetPortHandle() : platform::kInvalidDevice;
}

void CUpdaterHolder::OnTimer(std::uint32_t timerId) {
    if (m_updater) {
        m_updater->OnTimer(timerId);
    }
}

void CUpdaterHolder::Stop() {
    if (m_updater) {
        m_updater->Stop();
    }
}

void CUpdaterHolder::Destroy() {
    s_instance.store(nullptr);
    if (m_updater && m_updater->IsAbandoned()) {
        // A worker thread did not end and may still run inside the updater:
        // it is left in place (its port included) rather than freed under
        // that thread. The process ends right after the window is gone.
        platform::DebugPrintf("CUpdaterHolder::Destroy: updater left in place, a thread hangs\n");
        (void)m_updater.release();
    }
    m_updater.reset();
    delete this;
}
