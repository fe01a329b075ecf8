// Taking the microcontroller's serial port over from the unit's port-owner
// program, and handing it back. All of it runs on the user-interface thread,
// before the updater's threads start and after they stopped.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

class CSerialPort;

// The port owner's window and executable.
inline constexpr const char* kPortOwnerClassName = "SERIAL_WINDOW_CLASS_NAME";
inline constexpr const char* kPortOwnerWindowName = "SERIAL_WINDOW_NAME";
inline constexpr const char* kPortOwnerModulePath = "\\tovren\\$QRV$\\App\\Halvix.exe";

// The request "WM_MCU_COM_OP": wParam names the microcontroller port, lParam
// says what to do with it.
inline constexpr platform::WParam kComOpMcuPort = 4;
inline constexpr platform::LParam kComOpRelease = 0;
inline constexpr platform::LParam kComOpTakeBack = 1;

// Open attempts: one at once, then one after each pause, the last one after
// kOpenRetryLastAfterMs.
inline constexpr std::uint32_t kOpenRetryPauseMs = 1000;
inline constexpr std::uint32_t kOpenRetryLastAfterMs = 6000;

// Asks the port owner to release the port, then tries to open it 7 times over
// 6 s. 1 when the port is open; 0 when it gave up, after terminating the port
// owner (the caller may then try once more itself).
int TakePort(CSerialPort& port, int portNumber, std::uint32_t baudRate);
// Terminates the first process whose executable is modulePath (a Windows
// path below the system root). Always 1.
int TerminatePortOwner(const std::string& modulePath);
// Asks the port owner to take the port back, when its window exists.
void GiveBackPort();
