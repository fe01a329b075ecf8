#include "mcu_link/xor_frame_codec.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "mcu_link/link_diagnostics.h"

namespace {

// The length field counts the header and the checksum besides the payload.
constexpr std::uint32_t kLengthFieldOverhead = 7;
constexpr std::uint32_t kLengthLowOffset = 4;
constexpr std::uint32_t kLengthHighOffset = 5;

std::uint16_t ReadLengthField(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[kLengthLowOffset] | (at[kLengthHighOffset] << 8));
}

}  // namespace

std::uint32_t CXorFrameCodec::PayloadLengthOf(std::uint16_t lengthField) {
    return lengthField > kLengthFieldOverhead ? lengthField - kLengthFieldOverhead : 0;
}

std::uint8_t CXorFrameCodec::Checksum(const FrameRecord& record, const std::uint8_t* payload) {
    std::uint8_t sum = record.startMark1 ^ record.startMark2 ^ record.command ^ record.subCommand ^
                       static_cast<std::uint8_t>(record.length & 0xFF) ^
                       static_cast<std::uint8_t>(record.length >> 8);
    const std::uint32_t payloadLength = PayloadLengthOf(record.length);
    for (std::uint32_t k = 0; k < payloadLength; ++k) {
        sum ^= payload[k];
    }
    return sum;
}

bool CXorFrameCodec::PutRecvData(const std::uint8_t* bytes, std::uint32_t count, bool framed) {
    if (bytes == nullptr) {
        return false;
    }
    m_framed = framed;
    if (m_recv.Append(bytes, count)) {
        return true;
    }
    // Overflow: what was buffered and the offered bytes are dropped alike.
    return false;
}

bool CXorFrameCodec::ParseRecvBuf() {
    const std::uint32_t count = m_recv.Count();
    if (count == 0) {
        return false;
    }
    const std::uint8_t* b = m_recv.Data();

    // Each start mark is tried in turn and the first one whose frame is
    // complete wins; so a truncated frame followed by a whole one gives way to
    // it. The length is always read at the start mark: read anywhere else it
    // would be payload, and a stray 0x0D there would cut a frame that is still
    // arriving.
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    bool found = false;
    for (std::uint32_t i = 0; i + 1 < count && !found; ++i) {
        if (b[i] != kStartMark1 || b[i + 1] != kStartMark2) {
            continue;
        }
        start = i;
        if (start + kLengthHighOffset < count) {
            // No 16-bit wrap: start + length stays far below 2^32. As b[start]
            // is the start mark, a frame found always has end > start.
            end = start + ReadLengthField(b + start);
            found = end < count && b[end] == kEndMark;
        }
    }
    if (!found) {
        return false;  // a partial frame waits for more bytes
    }

    const bool valid = UnpackFrame(b + start, end - start + 1);
    if (IsFrameTraceOn()) {
        TraceFrame(FrameDirection::kReceived, b + start, end - start + 1, m_rejectReason);
    }

    // Consume everything up to the end mark, noise in front of the frame too.
    m_recv.ConsumeThrough(end);
    return valid;
}

void CXorFrameCodec::PackFrame(std::uint8_t command, std::uint8_t subCommand,
                               std::uint32_t payloadLength, const std::uint8_t* payload) {
    if (payloadLength > kMaxPayloadBytes || (payload == nullptr && payloadLength != 0)) {
        return;  // the frame buffer keeps the previous frame
    }
    FrameRecord header;
    header.startMark1 = kStartMark1;
    header.startMark2 = kStartMark2;
    header.command = command;
    header.subCommand = subCommand;
    header.length = static_cast<std::uint16_t>(payloadLength + kLengthFieldOverhead);
    const std::uint8_t checksum = Checksum(header, payload);

    m_frameBuf.fill(0);
    m_frameBuf[0] = header.startMark1;
    m_frameBuf[1] = header.startMark2;
    m_frameBuf[2] = header.command;
    m_frameBuf[3] = header.subCommand;
    m_frameBuf[kLengthLowOffset] = static_cast<std::uint8_t>(header.length & 0xFF);
    m_frameBuf[kLengthHighOffset] = static_cast<std::uint8_t>(header.length >> 8);
    if (payloadLength != 0) {
        std::memcpy(m_frameBuf.data() + kHeaderBytes, payload, payloadLength);
    }
    m_frameBuf[kHeaderBytes + payloadLength] = checksum;
    m_frameBuf[kHeaderBytes + payloadLength + 1] = kEndMark;
    m_frameLen = payloadLength + kFrameOverheadBytes;
}

bool CXorFrameCodec::UnpackFrame(const std::uint8_t* bytes, std::uint32_t length) {
    m_rejectReason = "no bytes";
    if (bytes == nullptr) {
        return false;
    }
    m_frame.payload.reset();  // never hold more than one payload

    // Nothing is read beyond the bytes handed over; no frame is shorter.
    if (length < kFrameOverheadBytes) {
        m_rejectReason = "shorter than a frame";
        return false;
    }
    m_frame.startMark1 = bytes[0];
    m_frame.startMark2 = bytes[1];
    if (m_frame.startMark1 != kStartMark1 || m_frame.startMark2 != kStartMark2) {
        m_rejectReason = "bad start marks";
        return false;
    }
    m_frame.command = bytes[2];
    m_frame.subCommand = bytes[3];
    m_frame.length = ReadLengthField(bytes);
    const std::uint32_t payloadLength = PayloadLengthOf(m_frame.length);
    if (payloadLength + kFrameOverheadBytes > length) {
        // The frame as described runs past the bytes handed over.
        m_rejectReason = "length runs past the frame";
        return false;
    }

    // Zero-length payloads get a block too, so a good frame always carries a
    // non-null payload reference.
    m_frame.payload.reset(new (std::nothrow) std::uint8_t[payloadLength]());
    if (!m_frame.payload) {
        m_rejectReason = "no memory for the payload";
        return false;
    }
    if (payloadLength != 0) {
        std::memcpy(m_frame.payload.get(), bytes + kHeaderBytes, payloadLength);
    }
    m_frame.checksum = bytes[kHeaderBytes + payloadLength];
    m_frame.endMark = bytes[kHeaderBytes + payloadLength + 1];
    if (m_frame.endMark != kEndMark) {
        m_rejectReason = "bad end mark";
        return false;
    }
    const bool sumMatches = Checksum(m_frame, m_frame.payload.get()) == m_frame.checksum;
    m_rejectReason = sumMatches ? "accepted" : "bad checksum";
    return sumMatches;
}

const std::uint8_t* CXorFrameCodec::GetRecvFrame(McuFrameInfo& info) const {
    info.command = m_frame.command;
    info.subCommand = m_frame.subCommand;
    info.payloadLength =
        m_frame.payload ? static_cast<std::uint16_t>(PayloadLengthOf(m_frame.length)) : 0;
    info.payload = m_frame.payload.get();
    return info.payload;
}
