#include "mcu_link/stm8_send_block.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t kStartKind = 0x61;  // 'a'
constexpr std::uint8_t kDataKind = 0x62;   // 'b'
constexpr std::uint8_t kEndKind = 0x63;    // 'c'
constexpr char kDialect[] = "STM8";        // follows the start and end kinds
constexpr std::uint32_t kDialectBytes = sizeof(kDialect) - 1;
constexpr std::uint32_t kAddressBytes = 4;
constexpr std::uint16_t kDataBlockBytes =
    1 + kAddressBytes + CStm8SendBlock::kImageBytesPerBlock;  // 133

}  // namespace

std::uint16_t CStm8SendBlock::MakeStart() {
    ClearBlock();
    m_blockBuf[0] = kStartKind;
    std::memcpy(m_blockBuf.data() + 1, kDialect, kDialectBytes);
    m_blockLen = 1 + kDialectBytes;
    return m_blockLen;
}

std::uint16_t CStm8SendBlock::MakeData(std::uint32_t address, const std::uint8_t* data,
                                       std::uint32_t length) {
    ClearBlock();
    if (data == nullptr && length != 0) {
        return m_blockLen;
    }
    m_blockBuf[0] = kDataKind;
    for (std::uint32_t k = 0; k < kAddressBytes; ++k) {
        m_blockBuf[1 + k] = static_cast<std::uint8_t>(address >> (8 * k));
    }
    const std::uint32_t copied = std::min(length, kImageBytesPerBlock);
    if (copied != 0) {
        std::memcpy(m_blockBuf.data() + 1 + kAddressBytes, data, copied);
    }
    m_blockLen = kDataBlockBytes;  // the bytes behind the copied ones are zero
    return m_blockLen;
}

std::uint16_t CStm8SendBlock::MakeEnd() {
    ClearBlock();
    m_blockBuf[0] = kEndKind;
    std::memcpy(m_blockBuf.data() + 1, kDialect, kDialectBytes);
    m_blockLen = 1 + kDialectBytes;
    return m_blockLen;
}
