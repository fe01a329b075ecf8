// The frame trace: each frame the codecs delimit is reported once, with its
// exact bytes and the verdict, and nothing is reported while the trace is off.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mcu_link/link_diagnostics.h"
#include "mcu_link/sum_frame_codec.h"
#include "mcu_link/xor_frame_codec.h"

namespace {

struct TracedFrame {
    FrameDirection direction;
    std::vector<std::uint8_t> bytes;
    std::string verdict;
};

std::vector<TracedFrame> g_traced;

void Capture(FrameDirection direction, const std::uint8_t* bytes, std::uint32_t count,
             const char* verdict) {
    g_traced.push_back({direction, std::vector<std::uint8_t>(bytes, bytes + count),
                        verdict != nullptr ? verdict : ""});
}

class FrameTraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_traced.clear();
        SetFrameTraceSink(&Capture);
    }
    void TearDown() override { SetFrameTraceSink(nullptr); }
};

template <typename Codec>
void FeedAndParseAll(Codec& codec, const std::vector<std::uint8_t>& stream) {
    codec.PutRecvData(stream.data(), static_cast<std::uint32_t>(stream.size()), true);
    for (int i = 0; i < 4; ++i) {
        codec.ParseRecvBuf();
        codec.FreeRecvData();
    }
}

TEST_F(FrameTraceTest, FormatAReportsAcceptedAndRejectedFramesWithTheirBytes) {
    const std::vector<std::uint8_t> good = {0x21, 0x23, 0x41, 0x4F, 0x08, 0x00, 0x44, 0x40, 0x0D};
    std::vector<std::uint8_t> bad = good;
    bad[7] ^= 0x01;  // checksum off by one
    std::vector<std::uint8_t> stream = {0x55, 0x66};  // noise is not part of the frame
    stream.insert(stream.end(), bad.begin(), bad.end());
    stream.insert(stream.end(), good.begin(), good.end());

    CXorFrameCodec codec;
    FeedAndParseAll(codec, stream);
    ASSERT_EQ(g_traced.size(), 2u);
    EXPECT_EQ(g_traced[0].direction, FrameDirection::kReceived);
    EXPECT_EQ(g_traced[0].bytes, bad);
    EXPECT_EQ(g_traced[0].verdict, "bad checksum");
    EXPECT_EQ(g_traced[1].bytes, good);
    EXPECT_EQ(g_traced[1].verdict, "accepted");
}

TEST_F(FrameTraceTest, FormatBNamesABadChecksum) {
    const std::vector<std::uint8_t> good = {0x24, 0x23, 0x33, 0x01, 0x01, 0x44, 0x79, 0x40, 0x24};
    std::vector<std::uint8_t> stream = good;
    CSumFrameCodec codec;
    FeedAndParseAll(codec, stream);
    ASSERT_EQ(g_traced.size(), 1u);
    EXPECT_EQ(g_traced[0].verdict, "accepted");

    // A length byte one short: the scan finds end marks inside the payload
    // and the frame it delimits fails its checksum.
    const std::vector<std::uint8_t> cut = {0x24, 0x23, 0x33, 0x01, 0x00, 0x11, 0x40, 0x24};
    g_traced.clear();
    FeedAndParseAll(codec, cut);
    ASSERT_EQ(g_traced.size(), 1u);
    EXPECT_EQ(g_traced[0].bytes, cut);
    EXPECT_EQ(g_traced[0].verdict, "bad checksum");
}

TEST(FrameTraceOff, NothingIsReportedWithoutASink) {
    g_traced.clear();
    SetFrameTraceSink(nullptr);
    EXPECT_FALSE(IsFrameTraceOn());
    const std::vector<std::uint8_t> good = {0x21, 0x23, 0x41, 0x4F, 0x08, 0x00, 0x44, 0x40, 0x0D};
    CXorFrameCodec codec;
    FeedAndParseAll(codec, good);
    TraceFrame(FrameDirection::kSent, good.data(), 9, nullptr);
    EXPECT_TRUE(g_traced.empty());
}

}  // namespace
