#include "engine/port_hand_off.h"

#include "engine/event_messages.h"
#include "engine/serial_port.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/process.h"
#include "platform/system_root.h"
#include "platform/window_messages.h"
#include "platform/window_socket.h"

namespace {

// How long a terminated port owner is given to let go of its files.
constexpr std::uint32_t kPortOwnerEndTimeoutMs = 1000;

// Posts WM_MCU_COM_OP to the port owner's window; false when it has none.
bool PostToPortOwner(platform::LParam operation) {
    const platform::WindowHandle owner =
        platform::FindWindow(kPortOwnerClassName, kPortOwnerWindowName);
    if (owner == platform::kNoWindow) {
        return false;
    }
    return platform::PostMessage(owner, McuComOpMessage(), kComOpMcuPort, operation);
}

}  // namespace

int TakePort(CSerialPort& port, int portNumber, std::uint32_t baudRate) {
    PostToPortOwner(kComOpRelease);
    std::uint32_t error = port.Open(portNumber, baudRate);
    if (error == 0) {
        return 1;
    }
    for (std::uint32_t waited = 0; waited < kOpenRetryLastAfterMs;) {
        platform::Sleep(kOpenRetryPauseMs);
        waited += kOpenRetryPauseMs;
        error = port.Open(portNumber, baudRate);
        if (error == 0) {
            return 1;
        }
    }
    platform::DebugPrintf("TakePort: COM%d still busy after %u ms (error 0x%x)\n", portNumber,
                          kOpenRetryLastAfterMs, error);
    TerminatePortOwner(kPortOwnerModulePath);
    return 0;
}

int TerminatePortOwner(const std::string& modulePath) {
    const std::string path = platform::MapWindowsPath(modulePath);
    if (const auto process = platform::FindProcessByExecutable(path)) {
        platform::DebugPrintf("TerminatePortOwner: terminating process %d (%s)\n", *process,
                              path.c_str());
        // The device is free only once the process has closed it; the caller
        // tries to open it right after.
        if (platform::TerminateProcess(*process) &&
            !platform::WaitForProcessEnd(*process, kPortOwnerEndTimeoutMs)) {
            platform::DebugPrintf("TerminatePortOwner: process %d still running\n", *process);
        }
    }
    return 1;
}

void GiveBackPort() {
    PostToPortOwner(kComOpTakeBack);
}
