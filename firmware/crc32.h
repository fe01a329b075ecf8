// CRC-32 of the record-file store: the reflected CRC-32 of IEEE 802.3
// (polynomial 0xEDB88320, initial value and final XOR 0xFFFFFFFF), the one ZIP
// and PNG use, computed with the store's own 256-entry table.
#pragma once

#include <cstddef>
#include <cstdint>

// Continues the CRC previous over length more bytes. Starting from 0 gives the
// CRC of data alone; feeding the result back in chains several pieces.
std::uint32_t Crc32Update(const void* data, std::size_t length, std::uint32_t previous);
