// Frame format B: '$' '#', command, sub-command, 8-bit payload length,
// payload, additive checksum (command + sub-command + length + payload, modulo
// 256), 0x40 '$'.
//
// Threads: as CMcuFrameCodec. PutRecvData, ParseRecvBuf, UnpackFrame,
// GetRecvFrame, FreeRecvData and GetRecvCount on the receiver thread;
// PackFrame, GetFrameBuf and GetFrameLen on the sender thread (or on the
// starting thread before the sender runs).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "mcu_link/mcu_frame_codec.h"
#include "mcu_link/receive_buffer.h"

class CSumFrameCodec : public CMcuFrameCodec {
public:
    static constexpr std::uint8_t kStartMark1 = 0x24;  // '$'
    static constexpr std::uint8_t kStartMark2 = 0x23;  // '#'
    static constexpr std::uint8_t kEndMark1 = 0x40;    // '@'
    static constexpr std::uint8_t kEndMark2 = 0x24;    // '$'
    static constexpr std::uint32_t kHeaderBytes = 5;   // marks, command, sub-command, length
    // Header, checksum and both end marks around the payload.
    static constexpr std::uint32_t kFrameOverheadBytes = 8;
    static constexpr std::uint32_t kMaxPayloadBytes = 255;  // the length is one byte
    static constexpr std::uint32_t kFrameBufBytes = 512;
    static constexpr std::uint32_t kRecvBufBytes = CReceiveBuffer::kCapacityBytes;

    CSumFrameCodec() = default;
    ~CSumFrameCodec() override = default;

    // On overflow also writes the line "the receive buf is overflow, reset the
    // buf, Module lenth =<count>" to the link diagnostics.
    bool PutRecvData(const std::uint8_t* bytes, std::uint32_t count, bool framed) override;
    // Whatever the framing flag, the buffer is scanned for frames: every
    // caller passes true, and no unframed stream exists on this link.
    bool ParseRecvBuf() override;
    // More than kMaxPayloadBytes, or a null payload with a non-zero length,
    // builds nothing: the previous frame stays in the buffer.
    void PackFrame(std::uint8_t command, std::uint8_t subCommand, std::uint32_t payloadLength,
                   const std::uint8_t* payload) override;
    const std::uint8_t* GetFrameBuf() const override { return m_frameBuf.data(); }
    std::uint32_t GetFrameLen() const override { return m_frameLen; }
    // Skips bytes in front of the first '$' within length.
    bool UnpackFrame(const std::uint8_t* bytes, std::uint32_t length) override;
    // With no payload held the reported payload length is 0.
    const std::uint8_t* GetRecvFrame(McuFrameInfo& info) const override;
    void FreeRecvData() override { m_frame.payload.reset(); }

    // Bytes waiting in the receive buffer.
    std::uint32_t GetRecvCount() const { return m_recv.Count(); }

private:
    struct FrameRecord {
        std::uint8_t startMark1 = 0;
        std::uint8_t startMark2 = 0;
        std::uint8_t command = 0;
        std::uint8_t subCommand = 0;
        std::uint16_t length = 0;  // the payload length byte; the high byte stays 0
        std::unique_ptr<std::uint8_t[]> payload;
        std::uint8_t checksum = 0;
        std::uint8_t endMark1 = 0;
        std::uint8_t endMark2 = 0;
    };

    static std::uint8_t Checksum(std::uint8_t command, std::uint8_t subCommand,
                                 std::uint32_t payloadLength, const std::uint8_t* payload);

    std::array<std::uint8_t, kFrameBufBytes> m_frameBuf{};
    std::uint32_t m_frameLen = 0;
    FrameRecord m_frame;
    CReceiveBuffer m_recv;
    // Why the last UnpackFrame refused its frame ("accepted" when it did not).
    const char* m_rejectReason = "accepted";
    bool m_framed = true;
};
