#include "tools/bootloader_sim/bootloader_simulator.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "tools/bootloader_sim/srecord_line.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Command and sub-command of every frame, each family's own.
constexpr std::uint8_t kCommandA = 0x41;     // 'A'
constexpr std::uint8_t kSubCommandA = 0x4F;  // 'O'
constexpr std::uint8_t kCommandB = 0x33;     // '3'
constexpr std::uint8_t kSubCommandB = 0x01;

// Family A kinds: the first payload byte.
constexpr std::uint8_t kHelloKind = 0x44;       // 'D', both families
constexpr std::uint8_t kStartKind = 0x61;       // 'a', answered 'a' flag
constexpr std::uint8_t kDataKind = 0x62;        // 'b', answered 'b' address flag
constexpr std::uint8_t kEndKind = 0x63;         // 'c', answered 's'
constexpr std::uint8_t kCompleteKind = 0x73;    // 's'
constexpr std::uint8_t kVersionKind = 0x56;     // 'V'
constexpr std::uint8_t kKeyDataKind = 0x4C;     // 'L', not answered
constexpr std::uint8_t kReadBackKind = 0x4D;    // 'M', answered '_' and the key area
constexpr std::uint8_t kReadBackAnswer = 0x5F;  // '_'
constexpr std::string_view kDialect = "STM8";   // follows 'a' and 'c'
constexpr std::uint32_t kAddressBytes = 4;
constexpr std::uint32_t kDataBlockBytes =
    1 + kAddressBytes + CBootloaderSimulator::kBlockImageBytes;
constexpr std::uint8_t kFlagGoOn = 1;
constexpr std::uint8_t kFlagRefused = 0;

// Family B: 'Y' and a step byte; answers 0x84 and a verdict.
constexpr std::uint8_t kBlockKindB = 0x59;  // 'Y'
constexpr std::uint8_t kStepEnd = 0x00;
constexpr std::uint8_t kStepStart = 0x01;
constexpr std::uint8_t kStepData = 0x02;
constexpr std::uint8_t kAnswerKindB = 0x84;
constexpr std::uint8_t kVerdictComplete = 0x00;
constexpr std::uint8_t kVerdictRepeat = 0x01;
constexpr std::uint8_t kVerdictGoOn = 0x02;

// Frames are fed to the codec in pieces no larger than the updater reads.
constexpr std::size_t kFeedChunkBytes = 512;
// Frame bytes around the payload, both formats.
constexpr std::uint32_t kFrameOverheadBytes = 8;
// Offsets in a frame, both formats: command after the two start marks, then
// sub-command and length (format A: two bytes, low first; format B: one).
constexpr std::uint32_t kCommandOffset = 2;
constexpr std::uint32_t kLengthOffset = 4;
// Offset of the payload in a frame.
constexpr std::uint32_t kPayloadOffsetA = 6;
constexpr std::uint32_t kPayloadOffsetB = 5;

constexpr std::uint32_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr std::uint32_t kUsPerSecond = 1000000;
constexpr std::uint32_t kUsPerMs = 1000;
constexpr std::uint8_t kErasedByte = 0xFF;

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 3);
    for (std::size_t k = 0; k < count; ++k) {
        if (k != 0) {
            text += ' ';
        }
        text += kDigits[bytes[k] >> 4];
        text += kDigits[bytes[k] & 0x0F];
    }
    return text;
}

std::string Hex(const Bytes& bytes) {
    return Hex(bytes.data(), bytes.size());
}

std::string Format(const char* format, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// Microseconds, so that the many short waits of a paced transfer do not add
// up a rounding error of their own.
std::uint32_t WireTimeUs(std::size_t bytes, std::uint32_t baud) {
    if (baud == 0) {
        return 0;
    }
    const std::uint64_t bits = static_cast<std::uint64_t>(bytes) * kBitsPerByte * kUsPerSecond;
    return static_cast<std::uint32_t>((bits + baud - 1) / baud);  // rounded up
}

std::uint32_t ReadAddress(const Bytes& payload) {
    std::uint32_t address = 0;
    for (std::uint32_t k = 0; k < kAddressBytes; ++k) {
        address |= static_cast<std::uint32_t>(payload[1 + k]) << (8 * k);
    }
    return address;
}

Bytes DataAnswer(std::uint32_t address, std::uint8_t flag) {
    Bytes answer{kDataKind};
    for (std::uint32_t k = 0; k < kAddressBytes; ++k) {
        answer.push_back(static_cast<std::uint8_t>(address >> (8 * k)));
    }
    answer.push_back(flag);
    return answer;
}

bool HasDialect(const Bytes& payload) {
    return payload.size() == 1 + kDialect.size() &&
           std::equal(kDialect.begin(), kDialect.end(), payload.begin() + 1);
}

// What went wrong with a delimited frame that failed its checks: the frame is
// the tail of the consumed bytes, from a start mark whose length field points
// at the last byte. False when no start mark explains it that way.
bool ExplainBadFrame(SimulatorFamily family, const Bytes& consumed, std::string& text) {
    const std::size_t last = consumed.size() - 1;
    const bool familyA = family == SimulatorFamily::kA;
    const std::uint8_t mark1 = familyA ? CXorFrameCodec::kStartMark1 : CSumFrameCodec::kStartMark1;
    const std::uint8_t mark2 = familyA ? CXorFrameCodec::kStartMark2 : CSumFrameCodec::kStartMark2;
    for (std::size_t start = 0; start + kFrameOverheadBytes <= consumed.size(); ++start) {
        if (consumed[start] != mark1 || consumed[start + 1] != mark2) {
            continue;
        }
        const std::uint8_t* frame = consumed.data() + start;
        if (familyA) {
            // The length field counts from the first start mark to the end mark.
            const std::size_t length = frame[kLengthOffset] | (frame[kLengthOffset + 1] << 8);
            if (start + length != last) {
                continue;
            }
            std::uint8_t expected = 0;
            for (std::size_t k = 0; k + 1 < length; ++k) {
                expected ^= frame[k];
            }
            text = Format("checksum 0x%02X, expected 0x%02X (XOR)", frame[length - 1], expected);
            return true;
        }
        // The length byte counts the payload alone.
        const std::size_t payloadLength = frame[kLengthOffset];
        if (start + payloadLength + kFrameOverheadBytes - 1 != last) {
            continue;
        }
        std::uint32_t sum = 0;  // command, sub-command, length and payload
        for (std::size_t k = kCommandOffset; k < kPayloadOffsetB + payloadLength; ++k) {
            sum += frame[k];
        }
        text = Format("checksum 0x%02X, expected 0x%02X (sum)",
                      frame[kPayloadOffsetB + payloadLength], sum & 0xFF);
        return true;
    }
    return false;
}

}  // namespace

CBootloaderSimulator::CBootloaderSimulator(SimulatorOptions options, LogSink log)
    : m_options(std::move(options)),
      m_log(std::move(log)),
      m_random(m_options.seed),
      m_codec(m_options.family == SimulatorFamily::kA ? static_cast<CMcuFrameCodec&>(m_xorCodec)
                                                      : static_cast<CMcuFrameCodec&>(m_sumCodec)) {
    for (const BlockMisbehaviour& block : m_options.refuseBlocks) {
        m_refusalsLeft[block.index] += block.times;
    }
    for (const BlockMisbehaviour& block : m_options.wrongAddresses) {
        m_wrongAddressesLeft[block.index] += block.times;
    }
}

std::uint32_t CBootloaderSimulator::RecvCount() const {
    return m_options.family == SimulatorFamily::kA ? m_xorCodec.GetRecvCount()
                                                   : m_sumCodec.GetRecvCount();
}

std::vector<SimulatorAction> CBootloaderSimulator::Receive(const std::uint8_t* bytes,
                                                           std::size_t count) {
    std::vector<SimulatorAction> actions;
    for (std::size_t offset = 0; offset < count && !m_hungUp;) {
        const std::size_t chunk = std::min(count - offset, kFeedChunkBytes);
        if (m_codec.PutRecvData(bytes + offset, static_cast<std::uint32_t>(chunk), true)) {
            m_pending.insert(m_pending.end(), bytes + offset, bytes + offset + chunk);
        } else {
            Violation(Format("receive buffer overflow: %zu bytes without a frame dropped",
                             m_pending.size() + chunk));
            m_pending.clear();
        }
        offset += chunk;
        TakeFrames(actions);
    }
    return actions;
}

void CBootloaderSimulator::TakeFrames(std::vector<SimulatorAction>& actions) {
    while (!m_hungUp) {
        const std::uint32_t before = RecvCount();
        const bool good = m_codec.ParseRecvBuf();
        const std::uint32_t after = RecvCount();
        if (after >= before) {
            return;  // no complete frame yet
        }
        const std::size_t consumed = before - after;
        Bytes frameBytes(m_pending.begin(),
                         m_pending.begin() + static_cast<std::ptrdiff_t>(consumed));
        m_pending.erase(m_pending.begin(),
                        m_pending.begin() + static_cast<std::ptrdiff_t>(consumed));
        if (good) {
            OnGoodFrame(frameBytes, actions);
        } else {
            OnBadFrame(frameBytes);
        }
        m_codec.FreeRecvData();
    }
}

void CBootloaderSimulator::OnGoodFrame(const Bytes& consumed,
                                       std::vector<SimulatorAction>& actions) {
    McuFrameInfo info{};
    const std::uint8_t* payloadBytes = m_codec.GetRecvFrame(info);
    Bytes payload;
    if (payloadBytes != nullptr) {
        payload.assign(payloadBytes, payloadBytes + info.payloadLength);
    }
    // A good frame is the tail of the consumed bytes; whatever came before it
    // is stray. (The min only guards the arithmetic.)
    const auto frameBytes = static_cast<std::uint32_t>(
        std::min<std::size_t>(info.payloadLength + kFrameOverheadBytes, consumed.size()));
    const std::size_t stray = consumed.size() - frameBytes;
    if (stray != 0) {
        Violation(Format("%zu stray bytes before a frame: ", stray) + Hex(consumed.data(), stray));
    }
    if (m_log) {
        m_log("<- " + Hex(consumed.data() + stray, frameBytes));
    }
    ++m_framesReceived;

    if (m_options.hangupAfter && m_framesReceived >= *m_options.hangupAfter) {
        Note(Format("hanging up on frame %u", m_framesReceived));
        m_hungUp = true;
        SimulatorAction hangUp;
        hangUp.kind = SimulatorAction::Kind::kHangUp;
        hangUp.note = "hang-up";
        actions.push_back(std::move(hangUp));
        return;
    }
    if (m_options.silentAfter && m_framesReceived > *m_options.silentAfter) {
        Note(Format("silent: frame %u not answered", m_framesReceived));
        return;
    }
    if (payload.empty()) {
        Violation("frame with an empty payload");
        return;
    }
    if (m_options.family == SimulatorFamily::kA) {
        HandleFamilyA(info.command, info.subCommand, payload, frameBytes, actions);
    } else {
        HandleFamilyB(info.command, info.subCommand, payload, frameBytes, actions);
    }
}

void CBootloaderSimulator::OnBadFrame(const Bytes& consumed) {
    if (m_log) {
        m_log("<- " + Hex(consumed));
    }
    std::string reason;
    if (!ExplainBadFrame(m_options.family, consumed, reason)) {
        reason = "wrong end mark or length";
    }
    Violation("frame failed its checks: " + reason);
}

void CBootloaderSimulator::HandleFamilyA(std::uint8_t command, std::uint8_t subCommand,
                                         const Bytes& payload, std::uint32_t frameBytes,
                                         std::vector<SimulatorAction>& actions) {
    if (command != kCommandA || subCommand != kSubCommandA) {
        Violation(Format("frame command 0x%02X sub-command 0x%02X, expected 0x%02X 0x%02X", command,
                         subCommand, kCommandA, kSubCommandA));
    }
    switch (payload[0]) {
        case kHelloKind: {
            if (!m_options.sendVersion) {
                Note("hello: version answer left out");
                return;
            }
            Bytes answer{kVersionKind};
            answer.insert(answer.end(), m_options.versionText.begin(), m_options.versionText.end());
            answer.push_back(0);  // the text ends with a zero byte
            Answer(answer, frameBytes, false, actions);
            return;
        }
        case kStartKind:
            if (!HasDialect(payload)) {
                Violation("start block without its \"STM8\" text: " + Hex(payload));
            }
            if (m_transferActive && m_blocksTaken != 0) {
                Note(Format("transfer restarted after %u blocks", m_blocksTaken));
            }
            m_transferActive = true;
            m_transferCompleted = false;
            m_blocksTaken = 0;
            m_lastBlockAddress.reset();
            m_image.clear();
            m_imageBase = kImageBaseAddress;
            Answer({kStartKind, kFlagGoOn}, frameBytes, false, actions);
            return;
        case kDataKind:
            HandleDataBlockA(payload, frameBytes, actions);
            return;
        case kEndKind:
            if (!HasDialect(payload)) {
                Violation("end block without its \"STM8\" text: " + Hex(payload));
            }
            if (m_transferActive) {
                CompleteTransfer();
            } else if (m_transferCompleted) {
                Note("end block repeated: answered again");
            } else {
                Violation("end block outside a transfer");
            }
            Answer({kCompleteKind}, frameBytes, false, actions);
            return;
        case kKeyDataKind:
            m_keyData.assign(payload.begin() + 1, payload.end());
            if (m_keyData.size() > kKeyAreaBytes) {
                Violation(Format("key data of %zu bytes, the key area holds %u", m_keyData.size(),
                                 kKeyAreaBytes));
                m_keyData.resize(kKeyAreaBytes);
            }
            Note(Format("key data stored: %zu bytes", m_keyData.size()));
            return;
        case kReadBackKind: {
            // The whole key area comes back: the stored data, zeros behind it.
            Bytes answer{kReadBackAnswer};
            answer.insert(answer.end(), m_keyData.begin(), m_keyData.end());
            answer.resize(1 + kKeyAreaBytes, 0);
            Answer(answer, frameBytes, false, actions);
            // A key update counts as served once its read-back is answered.
            ++m_transfersServed;
            Note(Format("key read-back answered (%u served)", m_transfersServed));
            return;
        }
        default:
            Violation(Format("unknown command 0x%02X", payload[0]));
            return;
    }
}

void CBootloaderSimulator::HandleDataBlockA(const Bytes& payload, std::uint32_t frameBytes,
                                            std::vector<SimulatorAction>& actions) {
    if (payload.size() < 1 + kAddressBytes) {
        Violation(Format("data block of %zu bytes has no address", payload.size()));
        Answer(DataAnswer(0, kFlagRefused), frameBytes, true, actions);
        return;
    }
    const std::uint32_t address = ReadAddress(payload);
    if (payload.size() != kDataBlockBytes) {
        Violation(Format("data block at 0x%X of %zu bytes, expected %u", address, payload.size(),
                         kDataBlockBytes));
        Answer(DataAnswer(address, kFlagRefused), frameBytes, true, actions);
        return;
    }
    if (!m_transferActive) {
        Violation(Format("data block at 0x%X outside a transfer", address));
    }
    if (address < kImageBaseAddress || (address - kImageBaseAddress) % kBlockImageBytes != 0 ||
        address - kImageBaseAddress >= kMaxImageBytes) {
        Violation(Format("data block address 0x%X is not a block of the image", address));
        Answer(DataAnswer(address, kFlagRefused), frameBytes, true, actions);
        return;
    }
    const std::uint32_t index = (address - kImageBaseAddress) / kBlockImageBytes;
    const std::uint32_t expected = kImageBaseAddress + m_blocksTaken * kBlockImageBytes;
    // A block sent again because its answer was lost is no fault.
    const bool repeat = m_lastBlockAddress && address == *m_lastBlockAddress;
    if (address != expected && !repeat) {
        Violation(Format("data block address 0x%X out of order, expected 0x%X", address, expected));
    }
    if (TakeMisbehaviour(m_refusalsLeft, index)) {
        Note(Format("block %u at 0x%X refused", index, address));
        Answer(DataAnswer(address, kFlagRefused), frameBytes, true, actions);
        return;
    }
    if (TakeMisbehaviour(m_wrongAddressesLeft, index)) {
        Note(Format("block %u at 0x%X acknowledged with a wrong address", index, address));
        Answer(DataAnswer(address + kBlockImageBytes, kFlagGoOn), frameBytes, true, actions);
        return;
    }
    StoreImageBytes(address, payload.data() + 1 + kAddressBytes, kBlockImageBytes);
    m_lastBlockAddress = address;
    m_blocksTaken = std::max(m_blocksTaken, index + 1);
    Answer(DataAnswer(address, kFlagGoOn), frameBytes, true, actions);
}

void CBootloaderSimulator::HandleFamilyB(std::uint8_t command, std::uint8_t subCommand,
                                         const Bytes& payload, std::uint32_t frameBytes,
                                         std::vector<SimulatorAction>& actions) {
    if (command != kCommandB || subCommand != kSubCommandB) {
        Violation(Format("frame command 0x%02X sub-command 0x%02X, expected 0x%02X 0x%02X", command,
                         subCommand, kCommandB, kSubCommandB));
    }
    if (payload[0] == kHelloKind && payload.size() == 1) {
        Note("hello: family B answers none");
        return;
    }
    if (payload[0] != kBlockKindB || payload.size() < 2) {
        Violation("unknown command: " + Hex(payload));
        return;
    }
    switch (payload[1]) {
        case kStepStart:
            if (m_transferActive && m_blocksTaken != 0) {
                Note(Format("transfer restarted after %u lines", m_blocksTaken));
            }
            m_transferActive = true;
            m_transferCompleted = false;
            m_blocksTaken = 0;
            m_lines.clear();
            m_lastLine.reset();
            m_image.clear();
            Answer({kAnswerKindB, kVerdictGoOn}, frameBytes, false, actions);
            return;
        case kStepData:
            HandleLineB(payload, frameBytes, actions);
            return;
        case kStepEnd:
            if (m_transferActive) {
                CompleteTransfer();
            } else if (m_transferCompleted) {
                Note("end block repeated: answered again");
            } else {
                Violation("end block outside a transfer");
            }
            Answer({kAnswerKindB, kVerdictComplete}, frameBytes, false, actions);
            return;
        default:
            Violation("unknown command: " + Hex(payload));
            return;
    }
}

void CBootloaderSimulator::HandleLineB(const Bytes& payload, std::uint32_t frameBytes,
                                       std::vector<SimulatorAction>& actions) {
    const std::string line(payload.begin() + 2, payload.end());
    if (!m_transferActive) {
        Violation("line outside a transfer: " + line);
    }
    // Answers name no line, so a line sent again after a lost answer looks
    // like a new one; it is known by being the same text right after an
    // answer that did not get through.
    if (m_lastAnswerLost && m_lastLine && line == *m_lastLine) {
        Note("line repeated after a lost answer: taken once");
        Answer({kAnswerKindB, kVerdictGoOn}, frameBytes, true, actions);
        return;
    }
    SRecordLine record;
    std::string problem;
    if (!ParseSRecordLine(line, record, problem)) {
        Violation("bad S-record (" + problem + "): " + line);
        Answer({kAnswerKindB, kVerdictRepeat}, frameBytes, true, actions);
        return;
    }
    const std::uint32_t index = m_blocksTaken;
    if (TakeMisbehaviour(m_refusalsLeft, index)) {
        Note(Format("line %u refused", index));
        Answer({kAnswerKindB, kVerdictRepeat}, frameBytes, true, actions);
        return;
    }
    if (record.IsDataRecord() &&
        !StoreImageBytes(record.address, record.data.data(), record.data.size())) {
        Violation(Format("record at 0x%X lies more than %u bytes from the image", record.address,
                         kMaxImageBytes));
    }
    m_lines.push_back(line);
    m_lastLine = line;
    ++m_blocksTaken;
    Answer({kAnswerKindB, kVerdictGoOn}, frameBytes, true, actions);
}

void CBootloaderSimulator::Answer(const Bytes& payload, std::uint32_t receivedFrameBytes,
                                  bool dataBlock, std::vector<SimulatorAction>& actions) {
    const bool familyA = m_options.family == SimulatorFamily::kA;
    m_codec.PackFrame(familyA ? kCommandA : kCommandB, familyA ? kSubCommandA : kSubCommandB,
                      static_cast<std::uint32_t>(payload.size()), payload.data());
    Bytes frame(m_codec.GetFrameBuf(), m_codec.GetFrameBuf() + m_codec.GetFrameLen());

    // Both draws are taken every time, so one option does not shift the
    // random choices of another.
    const double dropDraw = NextUnit();
    const double corruptDraw = NextUnit();
    if (dropDraw < m_options.dropRate) {
        Note("answer dropped: " + Hex(frame));
        m_lastAnswerLost = true;
        return;
    }
    std::string note = "answer";
    m_lastAnswerLost = false;
    if (corruptDraw < m_options.corruptRate) {
        // One byte of payload or checksum inverted: the frame still ends where
        // its length says, and the receiver's check must reject it.
        const std::uint32_t payloadOffset = familyA ? kPayloadOffsetA : kPayloadOffsetB;
        const std::size_t position = payloadOffset + m_random() % (payload.size() + 1);
        frame[position] = static_cast<std::uint8_t>(~frame[position]);
        note = Format("corrupted answer (byte %zu inverted)", position);
        m_lastAnswerLost = true;
    }

    std::uint32_t delayUs = m_options.answerDelayMs * kUsPerMs +
                            WireTimeUs(receivedFrameBytes, m_options.baud) +
                            WireTimeUs(frame.size(), m_options.baud);
    if (dataBlock) {
        delayUs += m_options.flashWriteMs * kUsPerMs;
    }

    if (m_options.noise) {
        // Never a start mark byte, so that no start mark pair can form, also
        // not together with the frame that follows.
        const std::uint8_t mark1 =
            familyA ? CXorFrameCodec::kStartMark1 : CSumFrameCodec::kStartMark1;
        const std::uint8_t mark2 =
            familyA ? CXorFrameCodec::kStartMark2 : CSumFrameCodec::kStartMark2;
        SimulatorAction noise;
        noise.delayUs = delayUs;
        noise.note = "noise";
        const std::uint32_t count = 1 + m_random() % kMaxNoiseBytes;
        while (noise.bytes.size() < count) {
            const auto byte = static_cast<std::uint8_t>(m_random());
            if (byte != mark1 && byte != mark2) {
                noise.bytes.push_back(byte);
            }
        }
        actions.push_back(std::move(noise));
        delayUs = 0;
    }

    if (!m_options.split || frame.size() < 2) {
        actions.push_back(
            SimulatorAction{SimulatorAction::Kind::kWrite, delayUs, std::move(frame), note});
        return;
    }
    // 2 or 3 pieces, cut at distinct random places.
    const std::size_t pieces = std::min<std::size_t>(2 + m_random() % 2, frame.size());
    std::vector<std::size_t> cuts;
    while (cuts.size() + 1 < pieces) {
        const std::size_t cut = 1 + m_random() % (frame.size() - 1);
        if (std::find(cuts.begin(), cuts.end(), cut) == cuts.end()) {
            cuts.push_back(cut);
        }
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.push_back(frame.size());
    std::size_t from = 0;
    for (std::size_t k = 0; k < cuts.size(); ++k) {
        SimulatorAction piece;
        piece.delayUs = k == 0 ? delayUs : kSplitPauseMs * kUsPerMs;
        piece.bytes.assign(frame.begin() + static_cast<std::ptrdiff_t>(from),
                           frame.begin() + static_cast<std::ptrdiff_t>(cuts[k]));
        piece.note = note + Format(", piece %zu of %zu", k + 1, cuts.size());
        actions.push_back(std::move(piece));
        from = cuts[k];
    }
}

bool CBootloaderSimulator::TakeMisbehaviour(std::map<std::uint32_t, std::uint32_t>& left,
                                            std::uint32_t index) {
    const auto found = left.find(index);
    if (found == left.end() || found->second == 0) {
        return false;
    }
    --found->second;
    return true;
}

bool CBootloaderSimulator::StoreImageBytes(std::uint32_t address, const std::uint8_t* bytes,
                                           std::size_t count) {
    if (count == 0) {
        return true;
    }
    const std::uint64_t last = static_cast<std::uint64_t>(address) + count;  // one behind
    if (m_image.empty()) {
        // Family A keeps its fixed base; family B starts at its first record.
        if (m_options.family == SimulatorFamily::kB) {
            m_imageBase = address;
        }
    } else if (address < m_imageBase) {
        if (static_cast<std::uint64_t>(m_imageBase) + m_image.size() - address > kMaxImageBytes) {
            return false;
        }
        m_image.insert(m_image.begin(), m_imageBase - address, kErasedByte);
        m_imageBase = address;
    }
    if (address < m_imageBase || last - m_imageBase > kMaxImageBytes) {
        return false;
    }
    const std::size_t end = static_cast<std::size_t>(last - m_imageBase);
    if (m_image.size() < end) {
        m_image.resize(end, kErasedByte);
    }
    std::copy(bytes, bytes + count, m_image.begin() + (address - m_imageBase));
    return true;
}

void CBootloaderSimulator::CompleteTransfer() {
    ++m_transfersServed;
    m_transferActive = false;
    m_transferCompleted = true;
    Note(Format("transfer complete (%u served): %u blocks, image of %zu bytes", m_transfersServed,
                m_blocksTaken, m_image.size()));
}

std::vector<std::uint8_t> CBootloaderSimulator::Image() const {
    return m_image;
}

void CBootloaderSimulator::Note(const std::string& text) {
    if (m_log) {
        m_log("-- " + text);
    }
}

void CBootloaderSimulator::Violation(const std::string& text) {
    m_violations.push_back(text);
    if (m_log) {
        m_log(Format("!! violation %zu: ", m_violations.size()) + text);
    }
}

double CBootloaderSimulator::NextUnit() {
    constexpr double kRange = 4294967296.0;  // 2^32: mt19937 yields 32-bit values
    return static_cast<double>(m_random()) / kRange;
}
