// How fast the receiver finds family A answers in the byte stream: 10 000
// data-block answers ('b', address, flag) fed in 64-byte reads.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "mcu_link/xor_frame_codec.h"

namespace {

constexpr int kAnswerCount = 10000;
constexpr std::uint32_t kReadBytes = 64;
constexpr std::uint8_t kCommandA = 0x41;     // 'A'
constexpr std::uint8_t kSubCommandO = 0x4F;  // 'O'
constexpr std::uint8_t kDataAnswer = 0x62;   // 'b'
constexpr std::uint8_t kGoOn = 1;            // flag: go on to the next block
constexpr std::uint32_t kImageBase = 0xA000;
constexpr std::uint32_t kBlockBytes = 128;

std::vector<std::uint8_t> AnswerStream() {
    CXorFrameCodec builder;
    std::vector<std::uint8_t> stream;
    for (int k = 0; k < kAnswerCount; ++k) {
        const std::uint32_t address = kImageBase + static_cast<std::uint32_t>(k) * kBlockBytes;
        const std::uint8_t payload[] = {kDataAnswer,
                                        static_cast<std::uint8_t>(address),
                                        static_cast<std::uint8_t>(address >> 8),
                                        static_cast<std::uint8_t>(address >> 16),
                                        static_cast<std::uint8_t>(address >> 24),
                                        kGoOn};
        builder.PackFrame(kCommandA, kSubCommandO, sizeof(payload), payload);
        stream.insert(stream.end(), builder.GetFrameBuf(),
                      builder.GetFrameBuf() + builder.GetFrameLen());
    }
    return stream;
}

void BM_ParseDataAnswers(benchmark::State& state) {
    const std::vector<std::uint8_t> stream = AnswerStream();
    std::int64_t frames = 0;
    for (auto _ : state) {
        auto codec = std::make_unique<CXorFrameCodec>();
        std::int64_t found = 0;
        for (std::size_t offset = 0; offset < stream.size(); offset += kReadBytes) {
            const auto count = static_cast<std::uint32_t>(
                std::min<std::size_t>(kReadBytes, stream.size() - offset));
            codec->PutRecvData(stream.data() + offset, count, true);
            // As the receiver does per frame: take it, look at it, free it.
            while (codec->ParseRecvBuf()) {
                McuFrameInfo info{};
                benchmark::DoNotOptimize(codec->GetRecvFrame(info));
                codec->FreeRecvData();
                ++found;
            }
        }
        if (found != kAnswerCount) {
            state.SkipWithError("not every answer was found");
            break;
        }
        frames += found;
    }
    state.counters["frames"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(stream.size()));
}

BENCHMARK(BM_ParseDataAnswers)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
