// The family A loader over a random "*.s19" file: it must load or refuse it
// without a fault, and a loaded image must come out whole, in address order.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "firmware/mcu_file_frame.h"
#include "firmware/stm8_file_loader.h"
#include "fuzz/input_file.h"
#include "mcu_link/tran_state.h"

namespace {

using fuzz_support::Check;

constexpr std::uint32_t kBlockBytes = 128;     // what the sender asks for
constexpr std::uint8_t kOrdinaryPlatform = 1;  // any code but 8: no size class, no flag file
constexpr const char* kInputName = "firmware.s19";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_support::WriteInputFile(kInputName, data, size);
    CMcuFileFrame::ResetParseProgressForTesting();

    CStm8FileLoader loader([] { return kOrdinaryPlatform; });
    Check(loader.PrepareImage() == 1, "the file is found");
    Check(loader.GetFileName() == kInputName, "the file's name");
    const int loaded = loader.BeginLoad();
    Check(loaded == 1 || loaded == 0 || loaded == -1, "BeginLoad answers 1, 0 or -1");
    if (loaded != 1) {
        return 0;
    }
    Check(loader.GetState() == eTranState_Start, "a good load starts the transfer");

    // The image runs from 0xA000 to the end of the highest record and never
    // beyond what the file's text could describe.
    const std::uint32_t total = loader.TotalCount();
    Check(total <= size, "the image is no larger than the file");

    std::array<std::uint8_t, kBlockBytes> first{};
    std::uint32_t firstLength = 0;
    std::uint32_t handedOut = 0;
    std::array<std::uint8_t, kBlockBytes> block{};
    for (;;) {
        Check(loader.BlockAddress() == CMcuFileFrame::kImageBaseAddress + handedOut,
              "blocks follow each other in address order");
        const std::uint32_t length = loader.NextBlock(block.data(), kBlockBytes);
        if (length == 0) {
            break;
        }
        Check(length <= kBlockBytes, "a block fits the sender's buffer");
        if (handedOut == 0) {
            first = block;
            firstLength = length;
        }
        handedOut += length;
        Check(loader.DoneCount() == handedOut, "DoneCount counts the bytes handed out");
    }
    Check(handedOut == total, "the whole image is handed out");

    // A rewind starts the same transfer again.
    loader.Rewind();
    Check(loader.GetState() == eTranState_Start && loader.DoneCount() == 0, "rewind");
    std::array<std::uint8_t, kBlockBytes> again{};
    Check(loader.NextBlock(again.data(), kBlockBytes) == firstLength && again == first,
          "the first block again after a rewind");
    return 0;
}
