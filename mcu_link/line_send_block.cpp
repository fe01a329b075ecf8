#include "mcu_link/line_send_block.h"

#include <cstring>

namespace {

constexpr std::uint8_t kBlockKind = 0x59;  // 'Y', opens every block
constexpr std::uint8_t kStartStep = 0x01;
constexpr std::uint8_t kDataStep = 0x02;
constexpr std::uint8_t kEndStep = 0x00;
constexpr std::uint16_t kHeaderBytes = 2;  // kind and step

}  // namespace

std::uint16_t CLineSendBlock::MakeStart() {
    ClearBlock();
    m_blockBuf[0] = kBlockKind;
    m_blockBuf[1] = kStartStep;
    m_blockLen = kHeaderBytes;
    return m_blockLen;
}

std::uint16_t CLineSendBlock::MakeData(std::uint32_t /*address*/, const std::uint8_t* data,
                                       std::uint32_t length) {
    ClearBlock();
    if (length > kMaxLineBytes || (data == nullptr && length != 0)) {
        return m_blockLen;
    }
    m_blockBuf[0] = kBlockKind;
    m_blockBuf[1] = kDataStep;
    if (length != 0) {
        std::memcpy(m_blockBuf.data() + kHeaderBytes, data, length);
    }
    m_blockLen = static_cast<std::uint16_t>(kHeaderBytes + length);
    return m_blockLen;
}

std::uint16_t CLineSendBlock::MakeEnd() {
    ClearBlock();
    m_blockBuf[0] = kBlockKind;
    m_blockBuf[1] = kEndStep;
    m_blockLen = kHeaderBytes;
    return m_blockLen;
}
