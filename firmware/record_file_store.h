// A small store of record files: one binary file holds a 228-byte header (a
// format word, the data length, a UTF-16 version text, an 8-bit tag and the
// CRC-32 of the data) followed by the data bytes. All integers little-endian:
//
//   offset   0   4  format word (written as 0, not checked on reading)
//   offset   4 128  reserved (zeros)
//   offset 132   4  data length
//   offset 136  24  version, 12 UTF-16 units, zero-padded
//   offset 160  64  tag, zero-padded, byte 63 always 0
//   offset 224   4  CRC-32 of the data; 0 marks the record invalid
//   offset 228   n  the data
//
// A path that begins with "./" or ".\" is relative to the "AppConfig/"
// directory beside the executable's directory (GetAppConfigDir); any other path
// is used as it is.
//
// Threads: one thread at a time (the window thread); the AppConfig directory
// is cached without a lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::uint32_t kRecordHeaderBytes = 228;
inline constexpr std::uint32_t kRecordReservedBytes = 128;
inline constexpr std::uint32_t kRecordVersionUnits = 12;
inline constexpr std::uint32_t kRecordTagBytes = 64;

struct RecordFileHeader {
    std::uint32_t format = 0;
    std::uint8_t reserved[kRecordReservedBytes] = {};
    std::uint32_t dataLength = 0;
    char16_t version[kRecordVersionUnits] = {};
    char tag[kRecordTagBytes] = {};
    std::uint32_t crc = 0;
};

// Clears header and fills it: at most 63 tag characters, at most 12 version
// units, the data length, CRC 0 and the format word.
void InitRecordHeader(RecordFileHeader& header, std::string_view tag, std::uint32_t dataLength,
                      std::u16string_view version, std::uint32_t format);

// 0 when the file's header carries expectedTag and expectedVersion (either may
// be nullptr: not checked), a CRC other than 0, a data length of at most
// capacity, and that many data bytes whose CRC-32 matches; the data is then in
// data. -1 otherwise. The header read from the file is left in header.
int ReadRecordFile(const std::string& path, RecordFileHeader& header, const char* expectedTag,
                   const char16_t* expectedVersion, std::uint8_t* data, std::uint32_t capacity);

// Writes header (with the CRC-32 of data set) and header.dataLength bytes of
// data. The new file is written beside the old one and renamed over it, so a
// power cut leaves either the old or the new file. Missing directories on the
// way are created. 0 on success, -1 on failure (also for a data length of 0:
// such a record could never be read back).
int WriteRecordFile(const std::string& path, const RecordFileHeader& header,
                    const std::uint8_t* data);

// "<parent of the executable's directory>/AppConfig/", created when missing;
// "" when it cannot be made. Cached for the run while the directory exists.
std::string GetAppConfigDir();
// Forgets the cached AppConfig directory (tests).
void ResetAppConfigDirForTesting();

// Creates the missing directories along path ('\' counts as '/'; the part
// after the last separator is a file name and is not created). 0 when at least
// one directory was created and none failed; -1 when path exists already,
// when nothing needed creating, or when a creation failed.
int CreateDirectories(const std::string& path);
