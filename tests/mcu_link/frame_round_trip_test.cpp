// Many frames with random payloads, fed in random slices with random noise
// between them: every frame must come out exactly once, in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "mcu_link/sum_frame_codec.h"
#include "mcu_link/xor_frame_codec.h"
#include "tests/mcu_link/frame_test_support.h"

namespace {

using link_test::Bytes;
using link_test::ReceivedFrame;

constexpr std::uint32_t kSeed = 20240611;
constexpr int kFrameCount = 3000;
constexpr std::size_t kMaxNoiseBytes = 40;
constexpr std::size_t kMaxSliceBytes = 200;

template <typename Codec>
class FrameRoundTrip : public testing::Test {};

using Codecs = testing::Types<CXorFrameCodec, CSumFrameCodec>;
TYPED_TEST_SUITE(FrameRoundTrip, Codecs);

// Whether the stream holds a start mark pair at position k.
template <typename Codec>
bool MarkPairAt(const Bytes& stream, std::size_t k) {
    return k + 1 < stream.size() && stream[k] == Codec::kStartMark1 &&
           stream[k + 1] == Codec::kStartMark2;
}

// Appends piece; false (and nothing appended) when a start mark pair would
// appear anywhere but at allowedMark, an offset into piece.
template <typename Codec>
bool AppendWithoutStrayMarks(Bytes& stream, const Bytes& piece, std::ptrdiff_t allowedMark) {
    const std::size_t from = stream.empty() ? 0 : stream.size() - 1;
    const std::size_t base = stream.size();
    stream.insert(stream.end(), piece.begin(), piece.end());
    for (std::size_t k = from; k < stream.size(); ++k) {
        if (MarkPairAt<Codec>(stream, k) &&
            static_cast<std::ptrdiff_t>(k) - static_cast<std::ptrdiff_t>(base) != allowedMark) {
            stream.resize(base);
            return false;
        }
    }
    return true;
}

// The scan lets the latest start mark win, so a start mark pair inside a
// frame that is still arriving may be taken for a frame start; the stream is
// therefore built with start mark pairs only where frames begin. Stray end
// marks inside payloads are left in on purpose.
TYPED_TEST(FrameRoundTrip, RandomFramesInRandomSlicesAreFoundOnceInOrder) {
    std::mt19937 random(kSeed);
    auto byte = [&random] { return static_cast<std::uint8_t>(random() & 0xFF); };
    auto upTo = [&random](std::size_t limit) {
        return std::uniform_int_distribution<std::size_t>(0, limit)(random);
    };

    auto builder = std::make_unique<TypeParam>();
    std::vector<ReceivedFrame> sent;
    Bytes stream;
    while (sent.size() < static_cast<std::size_t>(kFrameCount)) {
        Bytes noise(upTo(kMaxNoiseBytes));
        std::generate(noise.begin(), noise.end(), byte);
        if (!AppendWithoutStrayMarks<TypeParam>(stream, noise, -1)) {
            continue;
        }
        ReceivedFrame frame{byte(), byte(), Bytes(upTo(TypeParam::kMaxPayloadBytes))};
        std::generate(frame.payload.begin(), frame.payload.end(), byte);
        const Bytes bytes =
            link_test::Pack(*builder, frame.command, frame.subCommand, frame.payload);
        if (AppendWithoutStrayMarks<TypeParam>(stream, bytes, 0)) {
            sent.push_back(frame);
        }
    }

    auto receiver = std::make_unique<TypeParam>();
    std::vector<ReceivedFrame> received;
    std::size_t offset = 0;
    while (offset < stream.size()) {
        const std::size_t slice = std::min(1 + upTo(kMaxSliceBytes - 1), stream.size() - offset);
        ASSERT_TRUE(link_test::Feed(
            *receiver, Bytes(stream.begin() + offset, stream.begin() + offset + slice)));
        offset += slice;
        while (auto frame = link_test::ParseOne(*receiver)) {
            received.push_back(*frame);
        }
    }

    ASSERT_EQ(received.size(), sent.size());
    for (std::size_t k = 0; k < sent.size(); ++k) {
        ASSERT_EQ(received[k], sent[k]) << "frame " << k;
    }
}

}  // namespace
