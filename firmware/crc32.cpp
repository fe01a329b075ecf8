#include "firmware/crc32.h"

#include <array>

namespace {

constexpr std::uint32_t kCrc32Polynomial = 0xEDB88320;  // reflected IEEE 802.3
constexpr std::uint32_t kCrc32Inversion = 0xFFFFFFFF;   // initial value and final XOR

constexpr std::array<std::uint32_t, 256> MakeCrc32Table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t index = 0; index < table.size(); ++index) {
        std::uint32_t value = index;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1) != 0 ? (value >> 1) ^ kCrc32Polynomial : value >> 1;
        }
        table[index] = value;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kCrc32Table = MakeCrc32Table();

}  // namespace

std::uint32_t Crc32Update(const void* data, std::size_t length, std::uint32_t previous) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::uint32_t crc = previous ^ kCrc32Inversion;
    for (std::size_t index = 0; index < length; ++index) {
        crc = kCrc32Table[(crc ^ bytes[index]) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ kCrc32Inversion;
}
