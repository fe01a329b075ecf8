#include "engine/platform_identification.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/registry.h"

namespace {

constexpr std::uint32_t kProjectTypeBytes = 4;
constexpr std::uint8_t kFallbackPlatformCode = 0;

struct PlatformRow {
    std::u16string_view cpuType;
    std::uint32_t project;
    std::uint32_t otherProject;  // the same as project when one value pairs
    std::uint8_t code;
};

// Tested in this order; the first match wins. The codes are not numbered in
// test order (rows 11 and 12).
constexpr std::array<PlatformRow, 14> kPlatformTable = {{
    {u"S3C6410", 18, 18, 0},
    {u"S5PC100", 18, 18, 1},
    {u"S5P6450", 18, 18, 2},
    {u"S3C6410", 19, 17, 3},
    {u"S5PC100", 19, 17, 4},
    {u"S5P6450", 19, 17, 5},
    {u"S5P6450", 16, 16, 6},
    {u"MSTAR2521", 16, 16, 7},
    {u"MSTAR2521", 19, 17, 8},
    {u"MSTAR786", 19, 17, 9},
    {u"MSTAR786", 18, 18, 13},
    {u"S5P6450", 20, 20, 10},
    {u"MSTAR2521", 18, 18, 11},
    {u"MSTAR2531", 19, 17, 12},
}};

// One registry read: the value's stored bytes into destination, at most
// limit bytes; the destination is untouched on failure.
bool ReadPlatformValue(std::string_view valueName, std::uint8_t* destination, std::uint32_t limit) {
    std::uint32_t size = limit;
    return platform::RegistryQueryValue(platform::kHkeyLocalMachine, kPlatformRegistryKey,
                                        valueName, destination, &size);
}

// Text reads: the stored bytes land in the units' little-endian halves, so an
// odd byte count changes only the low half of the last unit.
bool ReadTextValue(std::string_view valueName, char16_t* buffer, std::uint32_t sizeBytes) {
    if (buffer == nullptr) {
        return false;
    }
    std::vector<std::uint8_t> bytes(sizeBytes);
    for (std::uint32_t index = 0; index < sizeBytes; ++index) {
        bytes[index] = static_cast<std::uint8_t>(buffer[index / 2] >> (8 * (index % 2)));
    }
    if (!ReadPlatformValue(valueName, bytes.data(), sizeBytes)) {
        return false;
    }
    for (std::uint32_t index = 0; index < sizeBytes; ++index) {
        const unsigned shift = 8 * (index % 2);
        char16_t& unit = buffer[index / 2];
        unit = static_cast<char16_t>((unit & ~(0xFFu << shift)) | (bytes[index] << shift));
    }
    return true;
}

// The text up to its terminator (or the whole buffer when it has none).
std::u16string_view TerminatedText(const char16_t* buffer, std::size_t units) {
    const char16_t* end = std::find(buffer, buffer + units, u'\0');
    return std::u16string_view(buffer, static_cast<std::size_t>(end - buffer));
}

}  // namespace

bool ReadCpuType(char16_t* buffer, std::uint32_t sizeBytes) {
    return ReadTextValue(kCpuTypeValue, buffer, sizeBytes);
}

bool ReadProjectType(std::uint32_t& projectType) {
    std::array<std::uint8_t, kProjectTypeBytes> bytes{};
    for (std::uint32_t index = 0; index < kProjectTypeBytes; ++index) {
        bytes[index] = static_cast<std::uint8_t>(projectType >> (8 * index));
    }
    if (!ReadPlatformValue(kProjectTypeValue, bytes.data(), kProjectTypeBytes)) {
        return false;
    }
    projectType = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                  static_cast<std::uint32_t>(bytes[2]) << 16 |
                  static_cast<std::uint32_t>(bytes[3]) << 24;
    return true;
}

bool ReadHwVersion(char16_t* buffer, std::uint32_t sizeBytes) {
    return ReadTextValue(kHwVersionValue, buffer, sizeBytes);
}

std::uint8_t GetPlatformCode() {
    std::uint32_t project = kDefaultProjectType;
    std::array<char16_t, kCpuTypeUnits> cpuType{};
    std::copy(kDefaultCpuType.begin(), kDefaultCpuType.end(), cpuType.begin());
    ReadProjectType(project);
    ReadCpuType(cpuType.data(), kCpuTypeUnits * sizeof(char16_t));

    const std::u16string_view cpu = TerminatedText(cpuType.data(), cpuType.size());
    for (const PlatformRow& row : kPlatformTable) {
        if (row.cpuType == cpu && (project == row.project || project == row.otherProject)) {
            return row.code;
        }
    }
    return kFallbackPlatformCode;
}
