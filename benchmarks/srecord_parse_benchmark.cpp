// Reading and parsing a family A firmware file: a 128 KiB image written as S2
// records of 32 data bytes (about 330 KiB of text) with a header and a tag
// record. Reports the text throughput (bytes of S-record text per second).
//
//   srecord_parse_benchmark                      run the benchmark
//   srecord_parse_benchmark --write-firmware=F   write the same file to F and exit
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/mcu_file_frame.h"
#include "platform/debug_output.h"
#include "platform/files.h"

namespace {

constexpr std::size_t kImageBytes = 128 * 1024;
constexpr std::size_t kRecordDataBytes = 32;
constexpr std::uint32_t kImageBase = 0xA000;
constexpr std::uint32_t kTagAddress = 0x9FE0;
constexpr std::string_view kWriteFlag = "--write-firmware=";

// One S-record line with its count and checksum, and a line end.
std::string Record(char type, std::uint32_t address, int addressBytes,
                   const std::vector<std::uint8_t>& data) {
    std::string line = {'S', type};
    unsigned sum = 0;
    char pair[3];
    const auto put = [&](unsigned byte) {
        std::snprintf(pair, sizeof pair, "%02X", byte & 0xFF);
        line += pair;
        sum += byte & 0xFF;
    };
    put(static_cast<unsigned>(addressBytes) + static_cast<unsigned>(data.size()) + 1);
    for (int index = addressBytes - 1; index >= 0; --index) {
        put(address >> (8 * index));
    }
    for (std::uint8_t byte : data) {
        put(byte);
    }
    put(~sum);
    return line + "\r\n";
}

std::string MakeFirmwareText() {
    std::string text = Record('0', 0, 2, {'B', 'E', 'N', 'C', 'H'});
    text += Record('1', kTagAddress, 2, {0, 0, 0, 'S', 'T', 'M', '8', 'Q', 'D', '5', 'C'});
    std::uint32_t state = 12345;  // a fixed pseudo-random image
    for (std::size_t offset = 0; offset < kImageBytes; offset += kRecordDataBytes) {
        std::vector<std::uint8_t> data(kRecordDataBytes);
        for (std::uint8_t& byte : data) {
            state = state * 1103515245 + 12345;
            byte = static_cast<std::uint8_t>(state >> 16);
        }
        text += Record('2', kImageBase + static_cast<std::uint32_t>(offset), 3, data);
    }
    return text + Record('8', kImageBase, 3, {});
}

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(out);
}

void BM_LoadSRecordFile(benchmark::State& state) {
    std::string directory = (std::filesystem::temp_directory_path() / "kv-srec-XXXXXX").string();
    if (mkdtemp(directory.data()) == nullptr) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string text = MakeFirmwareText();
    WriteText(directory + "/fw.s19", text);
    platform::SetModuleFileNameForTesting(directory + "/Kestrovan");
    platform::SetDebugHook([](std::string_view) {});  // the tag line, once per load

    for (auto _ : state) {
        CMcuFileFrame frame;
        if (!frame.SearchFile(false, CMcuFileFrame::kSizeClass64K) || !frame.Load()) {
            state.SkipWithError("the firmware file did not load");
            break;
        }
        benchmark::DoNotOptimize(frame.GetDataLength());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["text_bytes"] = static_cast<double>(text.size());

    platform::SetDebugHook({});
    platform::SetModuleFileNameForTesting("");
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
}
BENCHMARK(BM_LoadSRecordFile)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument(argv[index]);
        if (argument.substr(0, kWriteFlag.size()) == kWriteFlag) {
            const std::string path(argument.substr(kWriteFlag.size()));
            return WriteText(path, MakeFirmwareText()) ? 0 : 1;
        }
    }
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
