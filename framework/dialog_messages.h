// Message identifiers and values of the dialog framework that platform/ does
// not need itself, with the values the original window system gives them.
#pragma once

#include <cstdint>

#include "platform/types.h"

inline constexpr platform::MessageId kWmCreate = 0x0001;
inline constexpr platform::MessageId kWmActivate = 0x0006;

// Activation states (wParam of kWmActivate).
inline constexpr unsigned kWaInactive = 0;
inline constexpr unsigned kWaActive = 1;       // activated other than by a click
inline constexpr unsigned kWaClickActive = 2;  // activated by a mouse click

// Command identifiers that dialogs handle by default.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// Notification code of a clicked button (high word of a command's wParam).
inline constexpr unsigned kButtonClicked = 0;

// wParam of kWmCommand: the control id in the low 16 bits, the notification
// code in the high 16 bits.
constexpr platform::WParam MakeCommandWParam(int controlId, unsigned notification) {
    return (static_cast<platform::WParam>(notification & 0xFFFF) << 16) |
           (static_cast<platform::WParam>(controlId) & 0xFFFF);
}
constexpr int CommandControlId(platform::WParam wParam) {
    return static_cast<int>(wParam & 0xFFFF);
}
