// Window and control styles of dialog templates, with the values the original
// window system gives them, so that a template reads like a resource script.
// Only the styles that change what the framework builds are listed.
#pragma once

#include <cstdint>

namespace window_style {

// Window styles (any window).
inline constexpr std::uint32_t kPopup = 0x80000000;
inline constexpr std::uint32_t kVisible = 0x10000000;
inline constexpr std::uint32_t kDisabled = 0x08000000;
inline constexpr std::uint32_t kCaption = 0x00C00000;
inline constexpr std::uint32_t kBorder = 0x00800000;
inline constexpr std::uint32_t kVScroll = 0x00200000;
inline constexpr std::uint32_t kHScroll = 0x00100000;
inline constexpr std::uint32_t kSysMenu = 0x00080000;
inline constexpr std::uint32_t kTabStop = 0x00010000;

// Dialog styles.
inline constexpr std::uint32_t kDialogSetFont = 0x00000040;
inline constexpr std::uint32_t kDialogModalFrame = 0x00000080;

// Extended styles.
inline constexpr std::uint32_t kExStaticEdge = 0x00020000;
inline constexpr std::uint32_t kExAppWindow = 0x00040000;
// The caption's OK button of the head unit's system; Enter stands in for it.
inline constexpr std::uint32_t kExCaptionOkButton = 0x80000000;

// Edit control styles.
inline constexpr std::uint32_t kEditMultiLine = 0x0004;
inline constexpr std::uint32_t kEditAutoVScroll = 0x0040;
inline constexpr std::uint32_t kEditAutoHScroll = 0x0080;
inline constexpr std::uint32_t kEditReadOnly = 0x0800;

// Static control styles.
inline constexpr std::uint32_t kStaticCenter = 0x0001;
inline constexpr std::uint32_t kStaticRight = 0x0002;
inline constexpr std::uint32_t kStaticCenterImage = 0x0200;  // text centred vertically

// Button styles (the low four bits are the button's type).
inline constexpr std::uint32_t kButtonTypeMask = 0x000F;
inline constexpr std::uint32_t kPushButton = 0x0000;
inline constexpr std::uint32_t kDefPushButton = 0x0001;

}  // namespace window_style
