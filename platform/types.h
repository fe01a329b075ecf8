// Handles and message identifiers shared by the whole operating-system layer.
#pragma once

#include <cstdint>

namespace platform {

// A window of this program (a slot in the window table) or of another program
// (found by class and title). 0 is never a window.
using WindowHandle = std::uintptr_t;
inline constexpr WindowHandle kNoWindow = 0;

using MessageId = std::uint32_t;
using WParam = std::uintptr_t;
using LParam = std::intptr_t;  // wide enough to carry a pointer
using LResult = std::intptr_t;
using TimerId = std::uint32_t;

// An open device or file (a file descriptor); -1 means none.
using DeviceHandle = int;
inline constexpr DeviceHandle kInvalidDevice = -1;

// Message identifiers with the values the original window system gives them,
// so that message maps and traces read the same.
inline constexpr MessageId kWmDestroy = 0x0002;
inline constexpr MessageId kWmClose = 0x0010;
inline constexpr MessageId kWmQuit = 0x0012;
inline constexpr MessageId kWmCommand = 0x0111;
inline constexpr MessageId kWmTimer = 0x0113;
inline constexpr MessageId kWmUser = 0x0400;
// Registered message names map to identifiers from here up.
inline constexpr MessageId kFirstRegisteredMessage = 0xC000;
inline constexpr MessageId kLastRegisteredMessage = 0xFFFF;

}  // namespace platform
