// Family A blocks: start 'a' "STM8", data 'b' + 32-bit address (low byte
// first) + 128 image bytes, end 'c' "STM8".
#pragma once

#include <cstdint>

#include "mcu_link/mcu_send_block.h"

class CStm8SendBlock : public CMcuSendBlock {
public:
    static constexpr std::uint32_t kImageBytesPerBlock = 128;

    std::uint16_t MakeStart() override;
    // Always a 133-byte block: min(length, 128) bytes of data, zero bytes for
    // the rest, so a short last block is padded and a shorter buffer is never
    // read past its length. Null data with a non-zero length leaves an empty
    // block (length 0) rather than zero bytes that would be written to flash.
    std::uint16_t MakeData(std::uint32_t address, const std::uint8_t* data,
                           std::uint32_t length) override;
    std::uint16_t MakeEnd() override;
};
