#include "firmware/mcu_record_info.h"

#include <array>

namespace {

constexpr std::uint8_t kFirstNonDataType = 7;  // 7, 8, 9: termination records
constexpr std::uint8_t kHeaderType = 0;
constexpr std::uint32_t kCountOffset = 2;    // characters from 'S' to the count pair
constexpr std::uint32_t kAddressOffset = 4;  // characters from 'S' to the address
constexpr std::uint8_t kNoHexDigit = 0xFF;

// Address field bytes by record type 0..6.
constexpr std::array<std::uint8_t, 7> kAddressBytesByType = {0, 2, 3, 4, 0, 2, 0};

constexpr std::array<std::uint8_t, 256> MakeHexDigitTable() {
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table) {
        entry = kNoHexDigit;
    }
    for (int digit = 0; digit < 10; ++digit) {
        table['0' + digit] = static_cast<std::uint8_t>(digit);
    }
    for (int digit = 0; digit < 6; ++digit) {
        table['A' + digit] = static_cast<std::uint8_t>(10 + digit);
        table['a' + digit] = static_cast<std::uint8_t>(10 + digit);
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kHexDigitValue = MakeHexDigitTable();

// The blanks a C scanner skips: space, tab, line feed, vertical tab, form feed,
// carriage return.
bool IsScanBlank(char character) {
    return character == ' ' || (character >= '\t' && character <= '\r');
}

}  // namespace

std::uint32_t RecordAddressBytes(std::uint8_t type) {
    return type < kAddressBytesByType.size() ? kAddressBytesByType[type] : 0;
}

int RecordDataLength(const McuRecordInfo& record) {
    return static_cast<int>(record.count) - static_cast<int>(RecordAddressBytes(record.type)) - 1;
}

std::uint8_t ReadHexPair(const char* pair) {
    // Fast path: two digits, the form every well-made file uses.
    const std::uint8_t high = kHexDigitValue[static_cast<unsigned char>(pair[0])];
    const std::uint8_t low = kHexDigitValue[static_cast<unsigned char>(pair[1])];
    if (high != kNoHexDigit && low != kNoHexDigit) {
        return static_cast<std::uint8_t>(high << 4 | low);
    }
    int index = 0;
    while (index < 2 && IsScanBlank(pair[index])) {
        ++index;
    }
    std::uint8_t value = 0;
    for (; index < 2; ++index) {
        const std::uint8_t digit = kHexDigitValue[static_cast<unsigned char>(pair[index])];
        if (digit == kNoHexDigit) {
            break;
        }
        value = static_cast<std::uint8_t>(value << 4 | digit);
    }
    return value;
}

RecordDecodeResult ParseRecord(McuRecordInfo& record, std::string_view text) {
    record.startChar = text[0];
    record.type = static_cast<std::uint8_t>(text[1] - '0');
    record.count = 0;
    record.address = 0;
    record.checksum = 0;
    if (record.type == kHeaderType || record.type >= kFirstNonDataType) {
        return RecordDecodeResult::kDecoded;
    }
    if (text.size() < kAddressOffset) {
        return RecordDecodeResult::kTruncated;
    }
    record.count = ReadHexPair(&text[kCountOffset]);
    const int dataLength = RecordDataLength(record);
    if (dataLength < 0) {
        return RecordDecodeResult::kCountTooSmall;
    }
    if (dataLength >= static_cast<int>(kRecordDataBytes)) {
        return RecordDecodeResult::kDataTooLong;
    }
    if (RecordTextLength(record.count) > text.size()) {
        return RecordDecodeResult::kTruncated;
    }

    std::uint32_t position = kAddressOffset;
    const std::uint32_t addressBytes = RecordAddressBytes(record.type);
    for (std::uint32_t index = 0; index < addressBytes; ++index, position += 2) {
        record.address = record.address << 8 | ReadHexPair(&text[position]);
    }
    for (int index = 0; index < dataLength; ++index, position += 2) {
        record.data[index] = ReadHexPair(&text[position]);
    }
    record.checksum = ReadHexPair(&text[position]);

    return ComputeRecordChecksum(record) == record.checksum ? RecordDecodeResult::kDecoded
                                                            : RecordDecodeResult::kChecksumMismatch;
}

std::uint8_t ComputeRecordChecksum(const McuRecordInfo& record) {
    // The ones' complement of the low byte of the sum of count, address and
    // data bytes.
    std::uint32_t sum = record.count;
    sum += (record.address >> 24) + (record.address >> 16 & 0xFF) + (record.address >> 8 & 0xFF) +
           (record.address & 0xFF);
    const int dataLength = RecordDataLength(record);
    for (int index = 0; index < dataLength && index < static_cast<int>(kRecordDataBytes); ++index) {
        sum += record.data[index];
    }
    return static_cast<std::uint8_t>(0xFF - (sum & 0xFF));
}

const char* RecordDecodeResultName(RecordDecodeResult result) {
    switch (result) {
        case RecordDecodeResult::kDecoded:
            return "decoded";
        case RecordDecodeResult::kTruncated:
            return "text ends inside the record";
        case RecordDecodeResult::kCountTooSmall:
            return "count too small";
        case RecordDecodeResult::kDataTooLong:
            return "128 data bytes or more";
        case RecordDecodeResult::kChecksumMismatch:
            return "checksum mismatch";
    }
    return "unknown";
}
