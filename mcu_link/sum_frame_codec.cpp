#include "mcu_link/sum_frame_codec.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "mcu_link/link_diagnostics.h"

namespace {

constexpr std::uint32_t kLengthOffset = 4;
constexpr const char* kOverflowMessage =
    "the receive buf is overflow, reset the buf, Module lenth =";

}  // namespace

std::uint8_t CSumFrameCodec::Checksum(std::uint8_t command, std::uint8_t subCommand,
                                      std::uint32_t payloadLength, const std::uint8_t* payload) {
    std::uint32_t sum = command + subCommand + payloadLength;
    for (std::uint32_t k = 0; k < payloadLength; ++k) {
        sum += payload[k];
    }
    return static_cast<std::uint8_t>(sum & 0xFF);
}

bool CSumFrameCodec::PutRecvData(const std::uint8_t* bytes, std::uint32_t count, bool framed) {
    if (bytes == nullptr) {
        return false;
    }
    m_framed = framed;
    if (m_recv.Append(bytes, count)) {
        return true;
    }
    // Overflow: what was buffered and the offered bytes are dropped alike.
    WriteLinkDiagnostic((std::string(kOverflowMessage) + std::to_string(count)).c_str());
    return false;
}

bool CSumFrameCodec::ParseRecvBuf() {
    const std::uint32_t count = m_recv.Count();
    if (count == 0) {
        return false;
    }
    const std::uint8_t* b = m_recv.Data();

    // Each start mark is tried in turn and the first one whose frame is
    // complete wins; so a truncated frame followed by a whole one gives way to
    // it. The length is always read at the start mark: read anywhere else it
    // would be payload, and a stray 0x40 '$' there would cut a frame that is
    // still arriving.
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    bool found = false;
    for (std::uint32_t i = 0; i + 1 < count && !found; ++i) {
        if (b[i] != kStartMark1 || b[i + 1] != kStartMark2) {
            continue;
        }
        start = i;
        if (start + kLengthOffset < count) {
            // The last byte of the frame; always at least start + 7.
            end = start + b[start + kLengthOffset] + kFrameOverheadBytes - 1;
            found = end < count && b[end - 1] == kEndMark1 && b[end] == kEndMark2;
        }
    }
    if (!found) {
        return false;  // a partial frame waits for more bytes
    }

    const bool valid = UnpackFrame(b + start, end - start + 1);
    if (IsFrameTraceOn()) {
        TraceFrame(FrameDirection::kReceived, b + start, end - start + 1, m_rejectReason);
    }

    // Consume everything up to the last end mark, noise in front of the frame
    // too.
    m_recv.ConsumeThrough(end);
    return valid;
}

void CSumFrameCodec::PackFrame(std::uint8_t command, std::uint8_t subCommand,
                               std::uint32_t payloadLength, const std::uint8_t* payload) {
    if (payloadLength > kMaxPayloadBytes || (payload == nullptr && payloadLength != 0)) {
        return;  // the frame buffer keeps the previous frame
    }
    const std::uint8_t checksum = Checksum(command, subCommand, payloadLength, payload);

    m_frameBuf.fill(0);
    m_frameBuf[0] = kStartMark1;
    m_frameBuf[1] = kStartMark2;
    m_frameBuf[2] = command;
    m_frameBuf[3] = subCommand;
    m_frameBuf[kLengthOffset] = static_cast<std::uint8_t>(payloadLength);
    if (payloadLength != 0) {
        std::memcpy(m_frameBuf.data() + kHeaderBytes, payload, payloadLength);
    }
    m_frameBuf[kHeaderBytes + payloadLength] = checksum;
    m_frameBuf[kHeaderBytes + payloadLength + 1] = kEndMark1;
    m_frameBuf[kHeaderBytes + payloadLength + 2] = kEndMark2;
    m_frameLen = payloadLength + kFrameOverheadBytes;
}

bool CSumFrameCodec::UnpackFrame(const std::uint8_t* bytes, std::uint32_t length) {
    m_rejectReason = "no bytes";
    if (bytes == nullptr) {
        return false;
    }
    m_frame.payload.reset();  // never hold more than one payload

    std::uint32_t first = 0;
    while (first < length && bytes[first] != kStartMark1) {
        ++first;
    }
    // Nothing is read beyond the bytes handed over; no frame is shorter.
    const std::uint32_t available = length - std::min(first, length);
    if (available < kFrameOverheadBytes) {
        m_rejectReason = "shorter than a frame";
        return false;
    }
    const std::uint8_t* q = bytes + first;
    m_frame.startMark1 = q[0];
    m_frame.startMark2 = q[1];
    if (m_frame.startMark1 != kStartMark1 || m_frame.startMark2 != kStartMark2) {
        m_rejectReason = "bad start marks";
        return false;
    }
    m_frame.command = q[2];
    m_frame.subCommand = q[3];
    m_frame.length = q[kLengthOffset];
    const std::uint32_t payloadLength = m_frame.length;
    if (payloadLength + kFrameOverheadBytes > available) {
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
        std::memcpy(m_frame.payload.get(), q + kHeaderBytes, payloadLength);
    }
    m_frame.checksum = q[kHeaderBytes + payloadLength];
    m_frame.endMark1 = q[kHeaderBytes + payloadLength + 1];
    m_frame.endMark2 = q[kHeaderBytes + payloadLength + 2];
    if (m_frame.endMark1 != kEndMark1 || m_frame.endMark2 != kEndMark2) {
        m_rejectReason = "bad end mark";
        return false;
    }
    const bool sumMatches = Checksum(m_frame.command, m_frame.subCommand, payloadLength,
                                     m_frame.payload.get()) == m_frame.checksum;
    m_rejectReason = sumMatches ? "accepted" : "bad checksum";
    return sumMatches;
}

const std::uint8_t* CSumFrameCodec::GetRecvFrame(McuFrameInfo& info) const {
    info.command = m_frame.command;
    info.subCommand = m_frame.subCommand;
    info.payloadLength = m_frame.payload ? m_frame.length : 0;
    info.payload = m_frame.payload.get();
    return info.payload;
}
