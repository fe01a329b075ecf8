// One Motorola S-record as a family B data block carries it: 'S', the type
// digit, then hexadecimal pairs (byte count, address, data, checksum), with
// no line end. The simulator checks each record the updater sends with it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct SRecordLine {
    char type = '0';  // '0'..'9' without the 'S'
    std::uint32_t address = 0;
    std::vector<std::uint8_t> data;
    bool IsDataRecord() const { return type == '1' || type == '2' || type == '3'; }
};

// Parses and checks one record. On failure, problem says what is wrong (with
// the expected and found checksum when that is what failed) and false is
// returned.
bool ParseSRecordLine(std::string_view text, SRecordLine& record, std::string& problem);
