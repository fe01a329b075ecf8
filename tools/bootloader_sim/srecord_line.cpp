#include "tools/bootloader_sim/srecord_line.h"

#include <cstdio>

namespace {

constexpr std::size_t kPrefixChars = 2;  // 'S' and the type digit
constexpr std::uint32_t kChecksumBytes = 1;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Address bytes by record type; 0 for the reserved type 4.
std::uint32_t AddressBytesOf(char type) {
    switch (type) {
        case '0':
        case '1':
        case '5':
        case '9':
            return 2;
        case '2':
        case '6':
        case '8':
            return 3;
        case '3':
        case '7':
            return 4;
        default:
            return 0;
    }
}

std::string Format(const char* format, unsigned first, unsigned second) {
    char text[96];
    std::snprintf(text, sizeof text, format, first, second);
    return text;
}

}  // namespace

bool ParseSRecordLine(std::string_view text, SRecordLine& record, std::string& problem) {
    if (text.size() < kPrefixChars || text[0] != 'S') {
        problem = "does not begin with 'S' and a type digit";
        return false;
    }
    record = SRecordLine{};
    record.type = text[1];
    const std::uint32_t addressBytes = AddressBytesOf(record.type);
    if (addressBytes == 0) {
        problem = "unknown record type";
        return false;
    }
    const std::string_view hex = text.substr(kPrefixChars);
    if (hex.size() % 2 != 0) {
        problem = "odd number of hexadecimal digits";
        return false;
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t k = 0; k < hex.size(); k += 2) {
        const int high = HexDigit(hex[k]);
        const int low = HexDigit(hex[k + 1]);
        if (high < 0 || low < 0) {
            problem = "holds a character that is not a hexadecimal digit";
            return false;
        }
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    if (bytes.empty()) {
        problem = "has no byte count";
        return false;
    }
    const std::uint32_t count = bytes[0];
    if (count + 1 != bytes.size()) {
        problem = Format("byte count %u, but %u bytes follow it", count,
                         static_cast<unsigned>(bytes.size() - 1));
        return false;
    }
    if (count < addressBytes + kChecksumBytes) {
        problem = Format("byte count %u is too small for %u address bytes and a checksum", count,
                         addressBytes);
        return false;
    }
    // The checksum is the ones' complement of the sum of count, address and data.
    std::uint32_t sum = 0;
    for (std::size_t k = 0; k + 1 < bytes.size(); ++k) {
        sum += bytes[k];
    }
    const auto expected = static_cast<std::uint8_t>(~sum & 0xFF);
    const std::uint8_t found = bytes.back();
    if (expected != found) {
        problem = Format("checksum 0x%02X, expected 0x%02X", found, expected);
        return false;
    }
    for (std::uint32_t k = 0; k < addressBytes; ++k) {
        record.address = (record.address << 8) | bytes[1 + k];
    }
    record.data.assign(bytes.begin() + 1 + addressBytes, bytes.end() - 1);
    return true;
}
