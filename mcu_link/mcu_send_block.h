// The payload of the next outgoing message, composed by one of the Make
// operations. Only a Make operation changes the block, so the last block
// composed stays in place to be sent again.
//
// Threads: used by one thread at a time (the updater's sender thread).
#pragma once

#include <array>
#include <cstdint>

class CMcuSendBlock {
public:
    static constexpr std::uint32_t kBlockBufBytes = 512;

    CMcuSendBlock() = default;
    CMcuSendBlock(const CMcuSendBlock&) = delete;
    CMcuSendBlock& operator=(const CMcuSendBlock&) = delete;

    virtual ~CMcuSendBlock() = default;
    virtual const std::uint8_t* GetBlockBuf() const { return m_blockBuf.data(); }
    virtual std::uint16_t GetBlockLen() const { return m_blockLen; }
    // Each Make operation replaces the block and returns the new block length.
    virtual std::uint16_t MakeStart() = 0;
    virtual std::uint16_t MakeData(std::uint32_t address, const std::uint8_t* data,
                                   std::uint32_t length) = 0;
    virtual std::uint16_t MakeEnd() = 0;

protected:
    // Clears the whole buffer and sets the length to 0, leaving an empty block.
    void ClearBlock();

    std::array<std::uint8_t, kBlockBufBytes> m_blockBuf{};
    std::uint16_t m_blockLen = 0;
};
