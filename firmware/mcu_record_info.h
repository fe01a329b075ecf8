// One S-record as the firmware parser decodes it, and the decoding rules that
// both firmware-file families share.
//
// A record's text is 'S', a type digit, then hexadecimal pairs: the byte
// count, the address (most significant byte first), the data and the
// checksum. The count covers address, data and checksum, so a record's text is
// (count + 2) * 2 characters long.
#pragma once

#include <cstdint>
#include <string_view>

inline constexpr std::uint32_t kRecordDataBytes = 128;   // a record may carry at most 127
inline constexpr std::uint32_t kPlatformTagBytes = 128;  // at most 127 characters and a zero

// A plain record: the parser's working record, and the keeper of the platform
// tag found at MCU address 0x9FE0.
struct McuRecordInfo {
    char startChar = 0;     // 'S'
    std::uint8_t type = 0;  // the type character minus '0', modulo 256
    std::uint8_t count = 0;
    std::uint8_t checksum = 0;
    std::uint32_t address = 0;
    std::uint8_t data[kRecordDataBytes] = {};
    char platform[kPlatformTagBytes] = {};  // always zero-terminated
};

enum class RecordDecodeResult {
    kDecoded,           // checksum good (or a type that carries nothing to decode)
    kTruncated,         // the record's text runs past the end of the text
    kCountTooSmall,     // count below address bytes + 1: no room for the checksum
    kDataTooLong,       // 128 data bytes or more
    kChecksumMismatch,  // the checksum field disagrees with the bytes
};

// Bytes of the address field for a record type: 2, 3, 4, 0, 2, 0 for types 1
// to 6 (the count records 4 and 6 carry no address), 0 for any other type.
std::uint32_t RecordAddressBytes(std::uint8_t type);

// (count + 2) * 2: the characters from the 'S' to the end of the checksum.
constexpr std::uint32_t RecordTextLength(std::uint8_t count) {
    return (static_cast<std::uint32_t>(count) + 2) * 2;
}

// count - address bytes - 1; negative for a malformed count.
int RecordDataLength(const McuRecordInfo& record);

// Reads the byte written as the two characters at pair[0] and pair[1], the way
// a C scanner reads a hexadecimal number limited to two characters: blanks
// before the digits are skipped, reading stops at the first character that is
// not a hexadecimal digit, and no digit at all reads as 0 (" A" and "A " are
// both 0x0A, "G1" is 0).
std::uint8_t ReadHexPair(const char* pair);

// Decodes the record whose 'S' is text[0]; text runs to the end of the file
// text (text.size() >= 2). Fills every field of record except the platform
// tag. Types 0 and 7 and above are not decoded further (kDecoded). Never reads
// past text.
RecordDecodeResult ParseRecord(McuRecordInfo& record, std::string_view text);

// The checksum that record's count, address and data call for.
std::uint8_t ComputeRecordChecksum(const McuRecordInfo& record);

// A short name for a decode failure, for debug lines.
const char* RecordDecodeResultName(RecordDecodeResult result);
