#include "mcu_link/xor_frame_codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "tests/mcu_link/frame_test_support.h"

namespace {

using link_test::Bytes;
using link_test::Concat;
using link_test::Feed;
using link_test::Hex;
using link_test::ParseOne;
using link_test::ReceivedFrame;

constexpr std::uint8_t kCommandA = 0x41;     // 'A'
constexpr std::uint8_t kSubCommandO = 0x4F;  // 'O'

// The codec holds two fixed buffers; keep it off the test's stack.
std::unique_ptr<CXorFrameCodec> MakeCodec() {
    return std::make_unique<CXorFrameCodec>();
}

struct BuildCase {
    const char* name;
    std::uint8_t command;
    std::uint8_t subCommand;
    Bytes payload;
    Bytes frame;
};

class XorFrameCodecBuild : public testing::TestWithParam<BuildCase> {};

TEST_P(XorFrameCodecBuild, BuildsFrameByteForByteAndParsesItBack) {
    const BuildCase& c = GetParam();
    auto codec = MakeCodec();
    EXPECT_EQ(link_test::Pack(*codec, c.command, c.subCommand, c.payload), c.frame);
    EXPECT_EQ(codec->GetFrameLen(), c.payload.size() + 8);

    ASSERT_TRUE(Feed(*codec, c.frame));
    EXPECT_EQ(ParseOne(*codec), (ReceivedFrame{c.command, c.subCommand, c.payload}));
    EXPECT_EQ(codec->GetRecvCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, XorFrameCodecBuild,
    testing::Values(BuildCase{"Hello", kCommandA, kSubCommandO, Hex("44"),
                              Hex("21 23 41 4F 08 00 44 40 0D")},
                    BuildCase{"EmptyPayloadChecksumCoversHeaderOnly",
                              kCommandA,
                              kSubCommandO,
                              {},
                              Hex("21 23 41 4F 07 00 0B 0D")},
                    BuildCase{"PayloadHoldingEndAndStartMarks", kCommandA, kSubCommandO,
                              Hex("0D 21 23 0D"), Hex("21 23 41 4F 0B 00 0D 21 23 0D 05 0D")}),
    [](const testing::TestParamInfo<BuildCase>& info) { return std::string(info.param.name); });

TEST(XorFrameCodecPack, LargestPayloadFillsTheFrameBuffer) {
    auto codec = MakeCodec();
    const Bytes payload(CXorFrameCodec::kMaxPayloadBytes, 0x5A);
    const Bytes frame = link_test::Pack(*codec, kCommandA, kSubCommandO, payload);
    ASSERT_EQ(frame.size(), 512u);
    // Length 504 + 7 = 511 = 0x01FF; 0x5A twice cancels out 504 times.
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 6), Hex("21 23 41 4F FF 01"));
    EXPECT_EQ(frame[510], 0x21 ^ 0x23 ^ 0x41 ^ 0x4F ^ 0xFF ^ 0x01);
    EXPECT_EQ(frame[511], 0x0D);

    ASSERT_TRUE(Feed(*codec, frame));
    EXPECT_EQ(ParseOne(*codec), (ReceivedFrame{kCommandA, kSubCommandO, payload}));
}

// Regression: a payload beyond the frame buffer used to be written past it.
TEST(XorFrameCodecPack, RegressionPayloadOver504BytesBuildsNothing) {
    auto codec = MakeCodec();
    const Bytes hello = link_test::Pack(*codec, kCommandA, kSubCommandO, Hex("44"));
    const Bytes tooLong(CXorFrameCodec::kMaxPayloadBytes + 1, 0x11);
    codec->PackFrame(kCommandA, kSubCommandO, static_cast<std::uint32_t>(tooLong.size()),
                     tooLong.data());
    EXPECT_EQ(link_test::BuiltFrame(*codec), hello);
}

TEST(XorFrameCodecPack, NullPayloadWithLengthBuildsNothing) {
    auto codec = MakeCodec();
    const Bytes hello = link_test::Pack(*codec, kCommandA, kSubCommandO, Hex("44"));
    codec->PackFrame(kCommandA, kSubCommandO, 3, nullptr);
    EXPECT_EQ(link_test::BuiltFrame(*codec), hello);
}

// A length field that points inside the header delimits a frame too short for
// any frame: it is consumed as a bad frame.
TEST(XorFrameCodecReceive, LengthFieldInsideTheHeaderIsConsumedAsABadFrame) {
    const Bytes hello = Hex("21 23 41 4F 08 00 44 40 0D");
    auto codec = MakeCodec();
    // Length 3 points at the sub-command byte, which is 0x0D.
    ASSERT_TRUE(Feed(*codec, Concat({Hex("21 23 41 0D 03 00"), hello})));
    EXPECT_EQ(ParseOne(*codec), std::nullopt);
    EXPECT_EQ(codec->GetRecvCount(), 2u + hello.size());
    EXPECT_EQ(ParseOne(*codec), (ReceivedFrame{kCommandA, kSubCommandO, Hex("44")}));
}

// --- UnpackFrame on its own --------------------------------------------------

struct UnpackCase {
    const char* name;
    Bytes bytes;
    std::uint32_t length;  // handed to UnpackFrame
    bool valid;
};

class XorFrameCodecUnpack : public testing::TestWithParam<UnpackCase> {};

TEST_P(XorFrameCodecUnpack, ChecksOneFrame) {
    const UnpackCase& c = GetParam();
    auto codec = MakeCodec();
    EXPECT_EQ(codec->UnpackFrame(c.bytes.data(), c.length), c.valid);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, XorFrameCodecUnpack,
    testing::Values(
        UnpackCase{"Hello", Hex("21 23 41 4F 08 00 44 40 0D"), 9, true},
        UnpackCase{"TrailingBytesBeyondTheLengthField", Hex("21 23 41 4F 08 00 44 40 0D 99"), 10,
                   true},
        UnpackCase{"LengthFieldBelow7MeansEmptyPayload", Hex("21 23 41 4F 00 00 0C 0D"), 8, true},
        UnpackCase{"WrongFirstMark", Hex("22 23 41 4F 08 00 44 43 0D"), 9, false},
        UnpackCase{"WrongSecondMark", Hex("21 24 41 4F 08 00 44 47 0D"), 9, false},
        UnpackCase{"LengthRunsPastTheBytes", Hex("21 23 41 4F 08 00 44 40 0D"), 8, false},
        UnpackCase{"ShorterThanAnyFrame", Hex("21 23 41 4F 07 00 0B 0D"), 7, false},
        UnpackCase{"WrongEndMark", Hex("21 23 41 4F 08 00 44 40 0A"), 9, false},
        UnpackCase{"WrongChecksum", Hex("21 23 41 4F 08 00 44 41 0D"), 9, false}),
    [](const testing::TestParamInfo<UnpackCase>& info) { return std::string(info.param.name); });

TEST(XorFrameCodecUnpackNull, NullBytesAreRefused) {
    auto codec = MakeCodec();
    EXPECT_FALSE(codec->UnpackFrame(nullptr, 9));
}

}  // namespace
