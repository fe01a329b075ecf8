// Family B blocks: start 'Y' 0x01, data 'Y' 0x02 + one S-record line as text
// (no address), end 'Y' 0x00.
#pragma once

#include <cstdint>

#include "mcu_link/mcu_send_block.h"

class CLineSendBlock : public CMcuSendBlock {
public:
    static constexpr std::uint32_t kMaxLineBytes = kBlockBufBytes - 2;  // 510

    std::uint16_t MakeStart() override;
    // Ignores the address and copies exactly length bytes. A line longer than
    // kMaxLineBytes, or null data with a non-zero length, leaves an empty
    // block (length 0) and returns 0, so that no earlier line can go out again
    // in its place.
    std::uint16_t MakeData(std::uint32_t address, const std::uint8_t* data,
                           std::uint32_t length) override;
    std::uint16_t MakeEnd() override;
};
