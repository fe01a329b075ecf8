// The head unit's port-owner daemon, as far as the updater meets it: it holds
// the microcontroller's serial device, keeps a window that other programs
// find by class and title, lets go of the device when asked to release it
// and opens it again when asked to take it back.
//
// Threads: one thread at a time (the daemon is single-threaded; a signal
// handler only sets the stop flag given to Run).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/types.h"
#include "platform/window_socket.h"
#include "tools/port_owner/port_owner_options.h"

class CPortOwner {
public:
    // A busy device is tried again this often while a retry window is open.
    static constexpr std::uint32_t kOpenRetryPauseMs = 100;
    // Longest wait for a message, so that a stop request is seen soon.
    static constexpr std::uint32_t kPollSliceMs = 100;

    using LogSink = std::function<void(std::string_view line)>;

    CPortOwner(PortOwnerOptions options, LogSink log);
    ~CPortOwner();
    CPortOwner(const CPortOwner&) = delete;
    CPortOwner& operator=(const CPortOwner&) = delete;

    // Binds the window socket and tries to open the device (retrying for a
    // while when it is busy). False when the socket cannot be bound.
    bool Start(std::uint64_t nowMs);
    // Acts on one request received on the window socket.
    void HandleMessage(const platform::ExternalMessage& message, std::uint64_t nowMs);
    // Carries out a delayed release or an open attempt that has come due.
    void Tick(std::uint64_t nowMs);
    // How long the caller may wait before the next Tick is due.
    std::uint32_t WaitBudgetMs(std::uint64_t nowMs) const;

    // Serves requests until stop becomes true; then closes the device and
    // removes the socket.
    void Run(const std::atomic<bool>& stop);

    bool HoldsDevice() const { return m_device != platform::kInvalidDevice; }
    const std::string& DevicePath() const { return m_devicePath; }
    const std::string& SocketPath() const { return m_socket.Path(); }

private:
    // One open attempt; true when the device is held afterwards.
    bool TryOpen();
    void CloseDevice(const char* why);
    void Log(const std::string& text);

    PortOwnerOptions m_options;
    LogSink m_log;
    std::string m_devicePath;
    platform::CWindowSocket m_socket;
    platform::DeviceHandle m_device = platform::kInvalidDevice;

    std::optional<std::uint64_t> m_releaseDueMs;  // a delayed release
    std::optional<std::uint64_t> m_nextOpenMs;    // the next attempt of a retry window
    std::uint64_t m_retryUntilMs = 0;             // end of the retry window
};
