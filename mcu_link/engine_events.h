// The events that the engines raise towards the windows, and the names under
// which their window messages are registered. wParam carries the code, lParam
// the value (0 unless a code says otherwise).
#pragma once

#include <cstdint>

// Firmware update events, to the main update window.
inline constexpr const char* kEngineEventMessageName = "{D39CDAEE-94B6-4a7e-BE32-B0AED1161B9C}";
// Key update events, to the key update window.
inline constexpr const char* kKeyEventMessageName = "{32539884-8BDA-4d95-87B4-8FB74801D870}";
// Not an event: the request to the port-owner program (wParam 4, lParam 0
// release the port, lParam 1 take it back).
inline constexpr const char* kMcuComOpMessageName = "WM_MCU_COM_OP";

enum class EngineEvent : std::uint32_t {
    kFileFound = 0,        // firmware file found; followed at once by kBeginTransfer
    kTransferRunning = 1,  // the transfer is running
    kUpdateSucceeded = 2,
    kUpdateFailed = 3,
    kFileMissing = 4,      // no usable "*.s19", or the file is refused
    kPortUnavailable = 5,  // the serial port could be neither taken over nor opened
    kProgress = 7,         // lParam: percentage sent, 0..100
    kStartUp = 8,          // the main window posts it to itself to begin
    kParseProgress = 9,    // lParam: percentage of the file parsed; sent, not posted
    kKeyReadBack = 10,     // lParam: McuFrameInfo* on the heap; the window owns it
    kBeginTransfer = 12,   // the window runs its start routine
};

enum class KeyEvent : std::uint32_t {
    kFileFound = 0,    // "*.key" found (raised before its size is examined)
    kVerified = 1,     // the read-back matched
    kFileMissing = 2,  // no "*.key", or its size is out of range
    kFailed = 3,       // no port, write failed, read-back different or missing
    kRunning = 4,      // Start pressed, nothing written yet
};
