#include "mcu_link/engine_event_table.h"

#include <array>
#include <cstdio>

namespace {

constexpr ButtonState kOn = ButtonState::kOn;
constexpr ButtonState kOff = ButtonState::kOff;
constexpr ButtonState kSame = ButtonState::kUnchanged;

// Formats, kept as literals so that the table and the helpers share them.
constexpr const char kFirmwareFoundFormat[] =
    "Find a valid file: %s\r\n1:Please click 'McuStart' button to update\r\n2:if update "
    "successfully, machine should be reboot";
constexpr const char kParseProgressFormat[] = "Data is being inited %d %c";
constexpr const char kKeyFileFoundFormat[] =
    "Find a valid file: %s\r\nPlease click 'Start' button to update";
constexpr const char kPercentFormat[] = "%d %c";
constexpr char kPercentSign = '%';

constexpr const char kUpdateFailedText[] =
    "Sorry! Update unsuccessfully!Maybe serial communication problem";

constexpr std::array<EngineEventRow, 11> kEngineEventRows{{
    {EngineEvent::kFileFound, kFirmwareFoundFormat, kOn, kOn, kOn},
    {EngineEvent::kTransferRunning,
     "Mcu is updating now, do not power off and ensure that the SD card is plugged in", kOff, kOff,
     kOff},
    {EngineEvent::kUpdateSucceeded, "Mcu update successfully! Please restart the machine", kOff,
     kOn, kOn},
    {EngineEvent::kUpdateFailed, kUpdateFailedText, kOff, kOn, kOn},
    {EngineEvent::kFileMissing,
     "Sorry! Can not find the updated file or the file is damaged.please put *.s19 in current "
     "path",
     kOff, kOff, kOn},
    {EngineEvent::kPortUnavailable, "Sorry! Init unsuccessfully!The serial port may be busy", kOff,
     kOn, kOff},
    // Progress goes to the percentage field and the bar, not the message area.
    {EngineEvent::kProgress, "", kSame, kSame, kSame},
    {EngineEvent::kStartUp, "Data is being inited...", kSame, kSame, kSame},
    {EngineEvent::kParseProgress, kParseProgressFormat, kSame, kSame, kSame},
    // The read-back record goes to the key update window.
    {EngineEvent::kKeyReadBack, "", kSame, kSame, kSame},
    // The window runs its start routine, which raises kTransferRunning.
    {EngineEvent::kBeginTransfer, "", kSame, kSame, kSame},
}};

constexpr std::array<KeyEventRow, 5> kKeyEventRows{{
    {KeyEvent::kFileFound, kKeyFileFoundFormat, kOn, kOn},
    {KeyEvent::kVerified, "Mcu Key update successfully!", kOn, kOn},
    {KeyEvent::kFileMissing,
     "Sorry! Can not find the updated file or the file is damaged.\r\nplease put *.key in "
     "current path",
     kOff, kOn},
    {KeyEvent::kFailed, kUpdateFailedText, kOn, kOn},
    {KeyEvent::kRunning, "Key Config File is Being Upated...", kOff, kOff},
}};

template <typename... Args>
std::string Format(const char* format, Args... args) {
    const int size = std::snprintf(nullptr, 0, format, args...);
    if (size <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    // The string's own terminator slot takes snprintf's trailing zero.
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

}  // namespace

const EngineEventRow* FindEngineEventRow(std::uint32_t code) {
    for (const EngineEventRow& row : kEngineEventRows) {
        if (static_cast<std::uint32_t>(row.code) == code) {
            return &row;
        }
    }
    return nullptr;
}

const KeyEventRow* FindKeyEventRow(std::uint32_t code) {
    for (const KeyEventRow& row : kKeyEventRows) {
        if (static_cast<std::uint32_t>(row.code) == code) {
            return &row;
        }
    }
    return nullptr;
}

std::string FormatFirmwareFoundText(std::string_view fileName) {
    return Format(kFirmwareFoundFormat, std::string(fileName).c_str());
}

std::string FormatKeyFileFoundText(std::string_view fileName) {
    return Format(kKeyFileFoundFormat, std::string(fileName).c_str());
}

std::string FormatParseProgressText(int percent) {
    return Format(kParseProgressFormat, percent, kPercentSign);
}

std::string FormatPercentText(int percent) {
    return Format(kPercentFormat, percent, kPercentSign);
}
