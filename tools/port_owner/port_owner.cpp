#include "tools/port_owner/port_owner.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/port_hand_off.h"
#include "mcu_link/engine_events.h"
#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/serial_device.h"
#include "platform/system_root.h"

namespace {

// The microcontroller's port as the port owner names it.
constexpr const char* kMcuPortName = "COM4:";

}  // namespace

CPortOwner::CPortOwner(PortOwnerOptions options, LogSink log)
    : m_options(std::move(options)), m_log(std::move(log)) {}

CPortOwner::~CPortOwner() {
    CloseDevice("ending");
}

bool CPortOwner::Start(std::uint64_t nowMs) {
    m_devicePath = m_options.devicePath.empty() ? platform::MapComDeviceName(kMcuPortName)
                                                : m_options.devicePath;
    if (!m_socket.Bind(kPortOwnerClassName, kPortOwnerWindowName)) {
        Log("cannot bind the window socket " +
            platform::WindowSocketPath(kPortOwnerClassName, kPortOwnerWindowName));
        return false;
    }
    Log("window socket bound at " + m_socket.Path());
    if (!TryOpen()) {
        m_retryUntilMs = nowMs + m_options.retryForMs;
        m_nextOpenMs = nowMs + kOpenRetryPauseMs;
    }
    return true;
}

void CPortOwner::HandleMessage(const platform::ExternalMessage& message, std::uint64_t nowMs) {
    const std::string text = "request " + message.name + " " + std::to_string(message.wParam) +
                             " " + std::to_string(message.lParam);
    if (message.name != kMcuComOpMessageName || message.wParam != kComOpMcuPort ||
        (message.lParam != kComOpRelease && message.lParam != kComOpTakeBack)) {
        Log(text + ": not for the microcontroller's port, ignored");
        return;
    }
    if (message.lParam == kComOpRelease) {
        // A release ends a take-back that is still trying.
        m_nextOpenMs.reset();
        if (m_options.neverRelease) {
            Log(text + " (release): ignored, --never-release");
        } else if (!HoldsDevice()) {
            Log(text + " (release): the device is not held");
        } else if (m_options.releaseDelayMs == 0) {
            Log(text + " (release)");
            CloseDevice("released");
        } else {
            Log(text + " (release): in " + std::to_string(m_options.releaseDelayMs) + " ms");
            m_releaseDueMs = nowMs + m_options.releaseDelayMs;
        }
        return;
    }
    // Take back: a release still waiting is called off.
    m_releaseDueMs.reset();
    if (HoldsDevice()) {
        Log(text + " (take back): the device is held already");
        return;
    }
    Log(text + " (take back)");
    if (!TryOpen()) {
        m_retryUntilMs = nowMs + m_options.retryForMs;
        m_nextOpenMs = nowMs + kOpenRetryPauseMs;
    }
}

void CPortOwner::Tick(std::uint64_t nowMs) {
    if (m_releaseDueMs && nowMs >= *m_releaseDueMs) {
        m_releaseDueMs.reset();
        CloseDevice("released after the delay");
    }
    if (m_nextOpenMs && nowMs >= *m_nextOpenMs) {
        if (TryOpen()) {
            m_nextOpenMs.reset();
        } else if (nowMs >= m_retryUntilMs) {
            m_nextOpenMs.reset();
            Log("gave up opening " + m_devicePath + " after " +
                std::to_string(m_options.retryForMs) + " ms");
        } else {
            m_nextOpenMs = nowMs + kOpenRetryPauseMs;
        }
    }
}

std::uint32_t CPortOwner::WaitBudgetMs(std::uint64_t nowMs) const {
    std::uint64_t budget = kPollSliceMs;
    for (const auto& due : {m_releaseDueMs, m_nextOpenMs}) {
        if (due) {
            budget = std::min(budget, *due > nowMs ? *due - nowMs : 0);
        }
    }
    return static_cast<std::uint32_t>(budget);
}

void CPortOwner::Run(const std::atomic<bool>& stop) {
    while (!stop.load()) {
        Tick(platform::Clock().NowMs());
        const auto message = m_socket.Receive(WaitBudgetMs(platform::Clock().NowMs()));
        if (message && !stop.load()) {
            HandleMessage(*message, platform::Clock().NowMs());
        }
    }
    Log("stop requested");
    CloseDevice("ending");
    m_socket.Close();
}

bool CPortOwner::TryOpen() {
    const platform::DeviceHandle device = platform::OpenSerialDevice(m_devicePath);
    if (device == platform::kInvalidDevice) {
        const auto error = static_cast<int>(platform::GetLastError());
        Log("open " + m_devicePath + " failed: " + std::strerror(error) + " (errno " +
            std::to_string(error) + ")");
        return false;
    }
    if (!platform::SetSerialLine(device, m_options.baud)) {
        Log("line settings of " + m_devicePath + " refused; the device is held all the same");
    }
    m_device = device;
    Log("opened " + m_devicePath);
    return true;
}

void CPortOwner::CloseDevice(const char* why) {
    if (!HoldsDevice()) {
        return;
    }
    platform::CloseDevice(m_device);
    m_device = platform::kInvalidDevice;
    Log("closed " + m_devicePath + " (" + why + ")");
}

void CPortOwner::Log(const std::string& text) {
    if (m_log) {
        m_log(text);
    }
}
