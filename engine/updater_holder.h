// The one object through which the main window reaches the firmware updater.
// It owns the updater and forwards the window's calls to it. At most one
// holder exists; the updater finds the main window through Instance() when it
// was made without one.
//
// Threads: every operation runs on the user-interface thread, except
// Instance() and Window(), which the updater's worker threads may call when
// they post an event (the instance pointer and the window are atomic).
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/types.h"

class CFirmwareUpdater;

class CUpdaterHolder {
public:
    // Makes the holder and its updater for the window, and records it as the
    // instance. The caller releases it with Destroy.
    static CUpdaterHolder* Create(platform::WindowHandle window);
    static CUpdaterHolder* Instance();
    platform::WindowHandle Window() const { return m_window.load(); }

    // Posts event 1 to the window, then begins the transfer.
    void Start();
    // Initialises the updater, then keeps its port handle.
    void Initialise();
    void GetFileName(std::string& name);
    platform::DeviceHandle GetPortHandle();
    void OnTimer(std::uint32_t timerId);
    void Stop();
    // Clears the instance, destroys the updater and frees the holder.
    void Destroy();

    CFirmwareUpdater* GetUpdater() const { return m_updater.get(); }
    platform::DeviceHandle GetStoredPort() const { return m_port; }

private:
    explicit CUpdaterHolder(platform::WindowHandle window);
    ~CUpdaterHolder();

    std::unique_ptr<CFirmwareUpdater> m_updater;
    std::atomic<platform::WindowHandle> m_window;
    platform::DeviceHandle m_port = platform::kInvalidDevice;

    static std::atomic<CUpdaterHolder*> s_instance;
};
