// The family B loader over a random "*.s19" file: it must load or refuse it
// without a fault, and a loaded file must come out as its records, each one
// exactly as the file writes it, up to a termination record.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "firmware/line_file_loader.h"
#include "firmware/mcu_file_frame.h"
#include "firmware/mcu_line_file_frame.h"
#include "fuzz/input_file.h"
#include "mcu_link/tran_state.h"

namespace {

using fuzz_support::Check;

constexpr std::uint32_t kBlockBytes = CMcuLineFileFrame::kMaxRecordTextChars;
constexpr const char* kInputName = "firmware.s19";
constexpr char kFirstTerminationType = '7';  // S7, S8, S9 end a file
constexpr char kLastTerminationType = '9';

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_support::WriteInputFile(kInputName, data, size);
    CMcuFileFrame::ResetParseProgressForTesting();

    CLineFileLoader loader;
    Check(loader.PrepareImage() == 1, "the file is found");
    const int loaded = loader.BeginLoad();
    Check(loaded == 1 || loaded == 0 || loaded == -1, "BeginLoad answers 1, 0 or -1");
    if (loaded != 1) {
        return 0;
    }
    Check(loader.GetState() == eTranState_Start, "a good load starts the transfer");
    Check(loader.TotalCount() == size, "the total is the file length");

    const auto* text = data;
    const std::uint8_t* const end = data + size;
    std::array<std::uint8_t, kBlockBytes> block{};
    std::uint32_t done = 0;
    std::uint8_t lastType = 0;
    for (;;) {
        const std::uint32_t length = loader.NextBlock(block.data(), kBlockBytes);
        if (length == 0) {
            break;
        }
        // The block is the text from the next 'S' on, ending where DoneCount
        // now stands.
        const std::uint32_t now = loader.DoneCount();
        Check(length <= kBlockBytes && now <= size && now >= done + length, "block position");
        const std::uint32_t start = now - length;
        Check(std::find(text + done, text + start, 'S') == text + start,
              "no record is passed over");
        Check(text[start] == 'S' && std::memcmp(block.data(), text + start, length) == 0,
              "the block is the record's text");
        lastType = block[1];
        done = now;
    }
    Check(loader.GetState() == eTranState_End, "the end of the records ends the transfer");
    // The load checked every record, so none may be left behind.
    Check(std::find(text + done, end, 'S') == end, "every record is handed out");
    Check(lastType >= kFirstTerminationType && lastType <= kLastTerminationType,
          "the last record terminates the file");
    return 0;
}
