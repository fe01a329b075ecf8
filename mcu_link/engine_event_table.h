// What each engine event shows: the text for the message area and the state
// of each button. The windows look events up here; a code with no row is
// ignored. Texts are UTF-8 and exactly as shown; a text with %s or %d %c is a
// format, filled by the helpers below. An empty text leaves the message area
// as it is.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mcu_link/engine_events.h"

enum class ButtonState : std::uint8_t {
    kUnchanged,
    kOn,   // enabled
    kOff,  // disabled
};

struct EngineEventRow {
    EngineEvent code;
    std::string_view text;
    ButtonState start;      // "Kestrovan", id 1000
    ButtonState exit;       // "Exit", id 1001
    ButtonState keyUpdate;  // "KeyUpdate", id 1011
};

struct KeyEventRow {
    KeyEvent code;
    std::string_view text;
    ButtonState start;  // "Start", id 1008
    ButtonState exit;   // "Exit", id 1009
};

// The row of an engine event code, or null when the code is to be ignored.
const EngineEventRow* FindEngineEventRow(std::uint32_t code);
// The row of a key event code, or null when the code is to be ignored.
const KeyEventRow* FindKeyEventRow(std::uint32_t code);

// The firmware-found text (engine event kFileFound) with the file's name.
std::string FormatFirmwareFoundText(std::string_view fileName);
// The key-file-found text (key event kFileFound) with the file's name.
std::string FormatKeyFileFoundText(std::string_view fileName);
// The parse progress text (engine event kParseProgress), "Data is being inited 42 %".
std::string FormatParseProgressText(int percent);
// The percentage field's text for engine event kProgress: "42 %". Shown as it
// comes, without clamping.
std::string FormatPercentText(int percent);
