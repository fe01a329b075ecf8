// Frame format B under random byte streams in random slices.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/frame_codec_fuzz.h"
#include "mcu_link/link_diagnostics.h"
#include "mcu_link/sum_frame_codec.h"

namespace {

// The length is one byte, so every good frame fits PackFrame.
void RejectOversizeFrame(const std::vector<std::uint8_t>& /*frame*/, const McuFrameInfo& /*info*/) {
    fuzz_support::Fail("a format B payload longer than 255 bytes");
}

// The overflow line would flood standard error.
void DropDiagnostic(const char* /*line*/) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SetLinkDiagnosticSink(DropDiagnostic);
    fuzz_support::FuzzFrameCodec<CSumFrameCodec>(data, size, RejectOversizeFrame);
    return 0;
}
