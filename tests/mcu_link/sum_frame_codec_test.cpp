#include "mcu_link/sum_frame_codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "tests/mcu_link/frame_test_support.h"

namespace {

using link_test::Bytes;
using link_test::Feed;
using link_test::Hex;
using link_test::ParseOne;
using link_test::ReceivedFrame;

constexpr std::uint8_t kCommand3 = 0x33;  // '3'
constexpr std::uint8_t kSubCommand = 0x01;

std::unique_ptr<CSumFrameCodec> MakeCodec() {
    return std::make_unique<CSumFrameCodec>();
}

struct BuildCase {
    const char* name;
    std::uint8_t command;
    std::uint8_t subCommand;
    Bytes payload;
    Bytes frame;
};

class SumFrameCodecBuild : public testing::TestWithParam<BuildCase> {};

TEST_P(SumFrameCodecBuild, BuildsFrameByteForByteAndParsesItBack) {
    const BuildCase& c = GetParam();
    auto codec = MakeCodec();
    EXPECT_EQ(link_test::Pack(*codec, c.command, c.subCommand, c.payload), c.frame);
    EXPECT_EQ(codec->GetFrameLen(), c.payload.size() + 8);

    ASSERT_TRUE(Feed(*codec, c.frame));
    EXPECT_EQ(ParseOne(*codec), (ReceivedFrame{c.command, c.subCommand, c.payload}));
    EXPECT_EQ(codec->GetRecvCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SumFrameCodecBuild,
    testing::Values(BuildCase{"Hello", kCommand3, kSubCommand, Hex("44"),
                              Hex("24 23 33 01 01 44 79 40 24")},
                    BuildCase{"EmptyPayloadChecksumIsCommandPlusSubCommand",
                              kCommand3,
                              kSubCommand,
                              {},
                              Hex("24 23 33 01 00 34 40 24")},
                    BuildCase{"ChecksumWrapsModulo256", 0xF0, 0x20, Hex("FF"),
                              Hex("24 23 F0 20 01 FF 10 40 24")},
                    BuildCase{"PayloadHoldingEndAndStartMarks", kCommand3, kSubCommand,
                              Hex("40 24 24 23"), Hex("24 23 33 01 04 40 24 24 23 E3 40 24")}),
    [](const testing::TestParamInfo<BuildCase>& info) { return std::string(info.param.name); });

TEST(SumFrameCodecPack, Payload255GivesA263ByteFrame) {
    auto codec = MakeCodec();
    const Bytes payload(CSumFrameCodec::kMaxPayloadBytes, 0x01);
    const Bytes frame = link_test::Pack(*codec, kCommand3, kSubCommand, payload);
    ASSERT_EQ(frame.size(), 263u);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 5), Hex("24 23 33 01 FF"));
    // 0x33 + 0x01 + 0xFF + 255 * 0x01 = 0x232
    EXPECT_EQ(Bytes(frame.end() - 3, frame.end()), Hex("32 40 24"));

    ASSERT_TRUE(Feed(*codec, frame));
    EXPECT_EQ(ParseOne(*codec), (ReceivedFrame{kCommand3, kSubCommand, payload}));
}

TEST(SumFrameCodecPack, Payload256BuildsNothingAndKeepsThePreviousFrame) {
    auto codec = MakeCodec();
    const Bytes hello = link_test::Pack(*codec, kCommand3, kSubCommand, Hex("44"));
    const Bytes tooLong(CSumFrameCodec::kMaxPayloadBytes + 1, 0x01);
    codec->PackFrame(kCommand3, kSubCommand, static_cast<std::uint32_t>(tooLong.size()),
                     tooLong.data());
    EXPECT_EQ(link_test::BuiltFrame(*codec), hello);
    codec->PackFrame(kCommand3, kSubCommand, 2, nullptr);
    EXPECT_EQ(link_test::BuiltFrame(*codec), hello);
}

// --- UnpackFrame on its own --------------------------------------------------

struct UnpackCase {
    const char* name;
    Bytes bytes;
    std::uint32_t length;
    bool valid;
    Bytes payload;  // when valid
};

class SumFrameCodecUnpack : public testing::TestWithParam<UnpackCase> {};

TEST_P(SumFrameCodecUnpack, ChecksOneFrame) {
    const UnpackCase& c = GetParam();
    auto codec = MakeCodec();
    ASSERT_EQ(codec->UnpackFrame(c.bytes.data(), c.length), c.valid);
    if (c.valid) {
        McuFrameInfo info{};
        const std::uint8_t* payload = codec->GetRecvFrame(info);
        ASSERT_NE(payload, nullptr);
        EXPECT_EQ(Bytes(payload, payload + info.payloadLength), c.payload);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SumFrameCodecUnpack,
    testing::Values(
        UnpackCase{"Hello", Hex("24 23 33 01 01 44 79 40 24"), 9, true, Hex("44")},
        UnpackCase{"BytesInFrontOfTheFirstMarkAreSkipped", Hex("00 40 24 23 33 01 01 44 79 40 24"),
                   11, true, Hex("44")},
        UnpackCase{"EmptyPayload", Hex("24 23 33 01 00 34 40 24"), 8, true, {}},
        UnpackCase{"NoMarkWithinTheLength", Hex("00 00 00 00 00 00 00 00 24"), 8, false, {}},
        UnpackCase{"WrongSecondMark", Hex("24 22 33 01 01 44 79 40 24"), 9, false, {}},
        UnpackCase{"LengthRunsPastTheBytes", Hex("24 23 33 01 01 44 79 40 24"), 8, false, {}},
        UnpackCase{"SkippedBytesLeaveTooFewForTheFrame",
                   Hex("00 24 23 33 01 01 44 79 40 24"),
                   9,
                   false,
                   {}},
        UnpackCase{"WrongFirstEndMark", Hex("24 23 33 01 01 44 79 41 24"), 9, false, {}},
        UnpackCase{"WrongSecondEndMark", Hex("24 23 33 01 01 44 79 40 25"), 9, false, {}},
        UnpackCase{"WrongChecksum", Hex("24 23 33 01 01 44 78 40 24"), 9, false, {}}),
    [](const testing::TestParamInfo<UnpackCase>& info) { return std::string(info.param.name); });

TEST(SumFrameCodecUnpackNull, NullBytesAreRefused) {
    auto codec = MakeCodec();
    EXPECT_FALSE(codec->UnpackFrame(nullptr, 9));
}

}  // namespace
