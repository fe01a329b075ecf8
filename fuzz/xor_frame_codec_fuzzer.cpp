// Frame format A under random byte streams in random slices.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/frame_codec_fuzz.h"
#include "mcu_link/link_diagnostics.h"
#include "mcu_link/xor_frame_codec.h"

namespace {

// Field offsets of a format A frame.
constexpr std::size_t kCommandOffset = 2;
constexpr std::size_t kSubCommandOffset = 3;
constexpr std::size_t kLengthLowOffset = 4;
constexpr std::size_t kLengthHighOffset = 5;
constexpr std::uint32_t kLengthFieldOverhead = 7;  // the length field counts all but the end mark

// The receiver takes frames of up to 5112 payload bytes, PackFrame builds at
// most 504. A longer good frame is checked field by field against the stream.
void CheckOversizeFrame(const std::vector<std::uint8_t>& frame, const McuFrameInfo& info) {
    using fuzz_support::Check;
    CXorFrameCodec encoder;
    encoder.PackFrame(info.command, info.subCommand, info.payloadLength, info.payload);
    Check(encoder.GetFrameLen() == 0, "PackFrame refuses a payload over 504 bytes");

    const std::size_t payloadEnd = CXorFrameCodec::kHeaderBytes + info.payloadLength;
    const std::uint32_t lengthField = info.payloadLength + kLengthFieldOverhead;
    Check(frame[0] == CXorFrameCodec::kStartMark1 && frame[1] == CXorFrameCodec::kStartMark2,
          "start marks");
    Check(frame[kCommandOffset] == info.command && frame[kSubCommandOffset] == info.subCommand,
          "command and sub-command");
    Check(frame[kLengthLowOffset] == (lengthField & 0xFF) &&
              frame[kLengthHighOffset] == (lengthField >> 8),
          "length field");
    Check(std::memcmp(frame.data() + CXorFrameCodec::kHeaderBytes, info.payload,
                      info.payloadLength) == 0,
          "payload");
    std::uint8_t checksum = 0;
    for (std::size_t index = 0; index < payloadEnd; ++index) {
        checksum ^= frame[index];
    }
    Check(frame[payloadEnd] == checksum, "checksum");
    Check(frame[payloadEnd + 1] == CXorFrameCodec::kEndMark, "end mark");
}

void DropDiagnostic(const char* /*line*/) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SetLinkDiagnosticSink(DropDiagnostic);
    fuzz_support::FuzzFrameCodec<CXorFrameCodec>(data, size, CheckOversizeFrame);
    return 0;
}
