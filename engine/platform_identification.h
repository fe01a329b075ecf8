// Platform identification: the unit describes itself in three registry values
// under HKEY_LOCAL_MACHINE\SoftWare\Tovren\Os, and the processor and project
// fold into one small platform code (0..13). Nothing is cached: every caller
// reads the registry again.
//
// The text values are UTF-16LE with a 16-bit zero, as the registry stores
// them; the buffers receive the stored bytes as they are. A read fails when
// the key or value is missing or the value is larger than the limit, and then
// leaves the buffer as it was (callers preset it with the default).
//
// Threads: any; each call reads the registry file anew.
#pragma once

#include <cstdint>
#include <string_view>

inline constexpr std::string_view kPlatformRegistryKey = "SoftWare\\Tovren\\Os";
inline constexpr std::string_view kCpuTypeValue = "CPU_TYPE";
inline constexpr std::string_view kProjectTypeValue = "PROJECTTYPE";
inline constexpr std::string_view kHwVersionValue = "HW_VERSION";

// Defaults of GetPlatformCode when a value is missing.
inline constexpr std::u16string_view kDefaultCpuType = u"S3C6410";
inline constexpr std::uint32_t kDefaultProjectType = 18;
// CPU_TYPE buffer of GetPlatformCode: 260 units, a limit of 520 bytes.
inline constexpr std::uint32_t kCpuTypeUnits = 260;

// CPU_TYPE into buffer (sizeBytes bytes of room, the registry read limit).
bool ReadCpuType(char16_t* buffer, std::uint32_t sizeBytes);
// PROJECTTYPE: at most 4 bytes, little-endian.
bool ReadProjectType(std::uint32_t& projectType);
// HW_VERSION into buffer (sizeBytes bytes of room, the registry read limit).
bool ReadHwVersion(char16_t* buffer, std::uint32_t sizeBytes);

// The platform code: the first matching row of the processor/project table,
// 0 when none matches. The processor text must match exactly (letter case and
// length count).
std::uint8_t GetPlatformCode();
