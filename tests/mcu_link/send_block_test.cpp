#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mcu_link/line_send_block.h"
#include "mcu_link/stm8_send_block.h"
#include "mcu_link/sum_frame_codec.h"
#include "mcu_link/xor_frame_codec.h"
#include "tests/mcu_link/frame_test_support.h"

namespace {

using link_test::Bytes;
using link_test::Concat;
using link_test::Hex;
using link_test::Text;

constexpr std::uint8_t kCommandA = 0x41;  // family A: 'A' 'O'
constexpr std::uint8_t kSubCommandA = 0x4F;
constexpr std::uint8_t kCommandB = 0x33;  // family B: '3' 0x01
constexpr std::uint8_t kSubCommandB = 0x01;
constexpr std::uint32_t kImageBase = 0xA000;

// Composes a block and frames it as the sender does; with no Make operation
// the frame carries the hello payload 'D'.
using MakeBlock = std::function<void(CMcuSendBlock&)>;

Bytes SendFrame(CMcuSendBlock& block, CMcuFrameCodec& codec, std::uint8_t command,
                std::uint8_t subCommand, const MakeBlock& make) {
    if (make) {
        make(block);
        codec.PackFrame(command, subCommand, block.GetBlockLen(), block.GetBlockBuf());
    } else {
        const std::uint8_t hello = 0x44;  // 'D'
        codec.PackFrame(command, subCommand, 1, &hello);
    }
    return link_test::BuiltFrame(codec);
}

struct DialogueCase {
    const char* name;
    MakeBlock make;
    Bytes frame;
};

std::string CaseName(const testing::TestParamInfo<DialogueCase>& info) {
    return info.param.name;
}

// --- Family A ----------------------------------------------------------------

class Stm8DialogueFrames : public testing::TestWithParam<DialogueCase> {};

TEST_P(Stm8DialogueFrames, AreBuiltByteForByte) {
    const DialogueCase& c = GetParam();
    CStm8SendBlock block;
    auto codec = std::make_unique<CXorFrameCodec>();
    EXPECT_EQ(SendFrame(block, *codec, kCommandA, kSubCommandA, c.make), c.frame);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, Stm8DialogueFrames,
    testing::Values(DialogueCase{"Hello", nullptr, Hex("21 23 41 4F 08 00 44 40 0D")},
                    DialogueCase{"Start", [](CMcuSendBlock& b) { EXPECT_EQ(b.MakeStart(), 5); },
                                 Hex("21 23 41 4F 0C 00 61 53 54 4D 38 13 0D")},
                    DialogueCase{"End", [](CMcuSendBlock& b) { EXPECT_EQ(b.MakeEnd(), 5); },
                                 Hex("21 23 41 4F 0C 00 63 53 54 4D 38 11 0D")},
                    DialogueCase{"FirstDataBlockAllFF",
                                 [](CMcuSendBlock& b) {
                                     const Bytes image(128, 0xFF);
                                     EXPECT_EQ(b.MakeData(kImageBase, image.data(), 128), 133);
                                 },
                                 Concat({Hex("21 23 41 4F 8C 00 62 00 A0 00 00"), Bytes(128, 0xFF),
                                         Hex("42 0D")})},
                    // The last block of a 130-byte image. The data lives in a buffer of
                    // exactly two bytes: reading 128 would run past it.
                    DialogueCase{"ShortLastBlockIsZeroPadded",
                                 [](CMcuSendBlock& b) {
                                     const auto image = std::make_unique<std::uint8_t[]>(2);
                                     image[0] = 0x12;
                                     image[1] = 0x34;
                                     EXPECT_EQ(b.MakeData(kImageBase + 128, image.get(), 2), 133);
                                 },
                                 Concat({Hex("21 23 41 4F 8C 00 62 80 A0 00 00 12 34"),
                                         Bytes(126, 0x00), Hex("E4 0D")})}),
    CaseName);

TEST(Stm8SendBlock, DataBeyond128BytesIsNotCopied) {
    CStm8SendBlock block;
    Bytes data(200);
    for (std::size_t k = 0; k < data.size(); ++k) {
        data[k] = static_cast<std::uint8_t>(k);
    }
    ASSERT_EQ(block.MakeData(0x12345678, data.data(), 200), 133);
    const std::uint8_t* b = block.GetBlockBuf();
    EXPECT_EQ(Bytes(b, b + 5), Hex("62 78 56 34 12"));
    EXPECT_EQ(Bytes(b + 5, b + 133), Bytes(data.begin(), data.begin() + 128));
    EXPECT_EQ(b[133], 0);
}

TEST(Stm8SendBlock, NullDataLeavesAnEmptyBlock) {
    CStm8SendBlock block;
    block.MakeStart();
    EXPECT_EQ(block.MakeData(kImageBase, nullptr, 128), 0);
    EXPECT_EQ(block.GetBlockLen(), 0);
}

// --- Family B ----------------------------------------------------------------

// A data record of byte count 0x13: 42 characters.
constexpr const char* kCount13Record = "S1130000285F245F2212226A000424290008237C2A";

class LineDialogueFrames : public testing::TestWithParam<DialogueCase> {};

TEST_P(LineDialogueFrames, AreBuiltByteForByte) {
    const DialogueCase& c = GetParam();
    CLineSendBlock block;
    auto codec = std::make_unique<CSumFrameCodec>();
    EXPECT_EQ(SendFrame(block, *codec, kCommandB, kSubCommandB, c.make), c.frame);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, LineDialogueFrames,
    testing::Values(
        DialogueCase{"Hello", nullptr, Hex("24 23 33 01 01 44 79 40 24")},
        DialogueCase{"Start", [](CMcuSendBlock& b) { EXPECT_EQ(b.MakeStart(), 2); },
                     Hex("24 23 33 01 02 59 01 90 40 24")},
        DialogueCase{"End", [](CMcuSendBlock& b) { EXPECT_EQ(b.MakeEnd(), 2); },
                     Hex("24 23 33 01 02 59 00 8F 40 24")},
        DialogueCase{"EndRecordLine",
                     [](CMcuSendBlock& b) {
                         const Bytes line = Text("S9030000FC");
                         EXPECT_EQ(b.MakeData(0, line.data(), 10), 12);
                     },
                     Hex("24 23 33 01 0C 59 02 53 39 30 33 30 30 30 30 46 43 D3 40 24")},
        DialogueCase{"Count13RecordGivesA52ByteFrame",
                     [](CMcuSendBlock& b) {
                         const Bytes line = Text(kCount13Record);
                         EXPECT_EQ(b.MakeData(0, line.data(), 42), 44);
                     },
                     Concat({Hex("24 23 33 01 2C 59 02"), Text(kCount13Record), Hex("7A 40 24")})}),
    CaseName);

TEST(LineSendBlock, AddressIsIgnored) {
    CLineSendBlock atZero;
    CLineSendBlock elsewhere;
    const Bytes line = Text("S9030000FC");
    atZero.MakeData(0, line.data(), 10);
    elsewhere.MakeData(0xA000, line.data(), 10);
    EXPECT_EQ(Bytes(atZero.GetBlockBuf(), atZero.GetBlockBuf() + 512),
              Bytes(elsewhere.GetBlockBuf(), elsewhere.GetBlockBuf() + 512));
}

TEST(LineSendBlock, LongestLineFillsTheBlockBuffer) {
    CLineSendBlock block;
    const Bytes line(CLineSendBlock::kMaxLineBytes, 'S');
    ASSERT_EQ(block.MakeData(0, line.data(), 510), 512);
    EXPECT_EQ(block.GetBlockBuf()[511], 'S');
}

// Regression: a line longer than the block buffer was copied past its end.
TEST(LineSendBlock, RegressionLineBeyondTheBlockBufferLeavesAnEmptyBlock) {
    CLineSendBlock block;
    const Bytes previous = Text("S9030000FC");
    block.MakeData(0, previous.data(), 10);
    const Bytes line(CLineSendBlock::kMaxLineBytes + 1, 'S');
    EXPECT_EQ(block.MakeData(0, line.data(), 511), 0);
    // The previous line must not go out again as if it were the next one.
    EXPECT_EQ(block.GetBlockLen(), 0);
    EXPECT_EQ(block.GetBlockBuf()[2], 0);
}

TEST(LineSendBlock, NullDataLeavesAnEmptyBlock) {
    CLineSendBlock block;
    block.MakeStart();
    EXPECT_EQ(block.MakeData(0, nullptr, 10), 0);
    EXPECT_EQ(block.GetBlockLen(), 0);
}

}  // namespace
