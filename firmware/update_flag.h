// The update flag: the firmware size class (0 for "64K" files, 1 for "128K"
// files) last derived from the microcontroller's version, kept in the record
// file "KestrovanFlag.cfg" next to the executable (229 bytes: the header and
// one data byte).
//
// Threads: the window thread (the family A loader's PrepareImage).
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* kUpdateFlagFileName = "KestrovanFlag.cfg";
inline constexpr const char* kUpdateFlagTag = "Kestrovan";
inline constexpr const char16_t* kUpdateFlagVersion = u"V1.0.0";
inline constexpr std::uint32_t kUpdateFlagCapacity = 256;  // data bytes accepted on reading

// The executable's directory followed by the flag file's name.
std::string GetUpdateFlagPath();

// 0 with the stored flag byte in flag; -1 (flag untouched) when the file is
// missing or damaged in any way.
int ReadUpdateFlag(std::uint8_t& flag);

// 0 when the flag file now holds value; -1 when it could not be written.
int WriteUpdateFlag(std::uint8_t value);
