// The family B firmware file: handed out record by record as text, with the
// S0 header's data as its tag; records that cannot be sent whole refuse the
// file at load time.
#include "firmware/mcu_line_file_frame.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/firmware/firmware_test_support.h"

namespace {

using firmware_test::Lines;
using firmware_test::Pattern;
using firmware_test::SRecord;

const std::string kEnd = SRecord('9', 0, "");

class LineFileFrameTest : public firmware_test::CFirmwareDirectoryTest {
protected:
    bool LoadText(const std::string& text) {
        WriteFile("fw.s19", text);
        m_frame = std::make_unique<CMcuLineFileFrame>();
        return m_frame->SearchFile(false, CMcuFileFrame::kSizeClass64K) && m_frame->Load();
    }

    std::vector<std::string> ReadAllBlocks(std::uint32_t max = 128) {
        std::vector<std::string> blocks;
        std::vector<std::uint8_t> buffer(max);
        while (std::uint32_t count = m_frame->ReadBlock(buffer.data(), max)) {
            blocks.emplace_back(reinterpret_cast<const char*>(buffer.data()), count);
        }
        return blocks;
    }

    std::unique_ptr<CMcuLineFileFrame> m_frame;
};

TEST_F(LineFileFrameTest, HandsOutEachRecordWithoutItsLineEnd) {
    const std::string header = SRecord('0', 0, "STM8QD5C");
    ASSERT_EQ(header.substr(0, 8), "S00B0000");
    const std::vector<std::string> lines = {header, SRecord('1', 0x8000, Pattern(19)),
                                            SRecord('1', 0x8013, Pattern(3)), kEnd};
    const std::string text = Lines(lines);
    ASSERT_TRUE(LoadText(text));
    EXPECT_EQ(m_frame->GetPlatform(), "STM8QD5C");
    EXPECT_EQ(m_frame->GetDataLength(), text.size());
    EXPECT_EQ(ReadAllBlocks(), lines);
    // The line end behind the last record is passed over when no 'S' is left.
    EXPECT_EQ(m_frame->GetReadPos(), text.size());
    m_frame->Rewind();
    EXPECT_EQ(ReadAllBlocks().size(), lines.size());
}

TEST_F(LineFileFrameTest, ReadPositionCountsSkippedCharacters) {
    const std::string record = SRecord('1', 0x8000, "\x01");
    ASSERT_TRUE(LoadText("\n\n" + record + "\n" + kEnd));
    std::uint8_t buffer[128];
    EXPECT_EQ(m_frame->ReadBlock(buffer, 128), record.size());
    EXPECT_EQ(m_frame->GetReadPos(), 2 + record.size());
}

TEST_F(LineFileFrameTest, TagOnlyFromAnS0AtTheVeryStart) {
    ASSERT_TRUE(LoadText(Lines({"", SRecord('0', 0, "STM8QD5C"), kEnd})));
    EXPECT_EQ(m_frame->GetPlatform(), "");
    ASSERT_TRUE(LoadText(Lines({SRecord('1', 0x8000, "\x01"), kEnd})));
    EXPECT_EQ(m_frame->GetPlatform(), "");
    ASSERT_TRUE(LoadText(Lines({SRecord('0', 0, ""), kEnd})));
    EXPECT_EQ(m_frame->GetPlatform(), "");
    ASSERT_TRUE(LoadText(Lines({"S0020000", kEnd})));  // count 2: no room for data
    EXPECT_EQ(m_frame->GetPlatform(), "");
}

TEST_F(LineFileFrameTest, EmptyFileFails) {
    EXPECT_FALSE(LoadText(""));
}

TEST_F(LineFileFrameTest, RecordOfExactlyOneHundredTwentyEightCharactersLoads) {
    const std::string longest = SRecord('1', 0x8000, Pattern(59));  // count 62
    ASSERT_EQ(longest.size(), 128u);
    ASSERT_TRUE(LoadText(Lines({longest, kEnd})));
    EXPECT_EQ(ReadAllBlocks().front(), longest);
}

// Regression: a record longer than the sender's 128-character buffer was
// copied whole into it.
TEST_F(LineFileFrameTest, RecordLongerThanABlockFailsTheLoad) {
    const std::string tooLong = SRecord('1', 0x8000, Pattern(60));  // count 63: 130 characters
    EXPECT_FALSE(LoadText(Lines({SRecord('1', 0x8000, "\x01"), tooLong, kEnd})));
    EXPECT_EQ(CountInDebug("more than the 128 a block holds"), 1) << DebugText();
}

// Regression: a record whose text ran past the end of the file was copied
// from beyond the text buffer.
TEST_F(LineFileFrameTest, RecordRunningPastTheEndFailsTheLoad) {
    const std::string text = Lines({SRecord('1', 0x8000, "\x01"), kEnd});
    EXPECT_FALSE(LoadText(text.substr(0, text.size() - 3)));  // the end record cut short
    EXPECT_FALSE(LoadText(text + "S"));
    EXPECT_FALSE(LoadText(text + "S9"));
    EXPECT_FALSE(LoadText(text + "S903"));
}

// Regression: a truncated copy that ended at a line end went out in part.
TEST_F(LineFileFrameTest, FileWithoutTerminationRecordFailsTheLoad) {
    EXPECT_FALSE(LoadText(Lines({SRecord('0', 0, "HDR"), SRecord('1', 0x8000, Pattern(16))})));
    EXPECT_EQ(CountInDebug("does not end with a termination record"), 1) << DebugText();
}

TEST_F(LineFileFrameTest, ASmallerBufferGetsNothingRatherThanAnOverrun) {
    const std::string record = SRecord('1', 0x8000, Pattern(16));
    ASSERT_TRUE(LoadText(Lines({record, kEnd})));
    auto small = std::make_unique<std::uint8_t[]>(record.size() - 1);
    EXPECT_EQ(m_frame->ReadBlock(small.get(), static_cast<std::uint32_t>(record.size() - 1)), 0u);
}

TEST_F(LineFileFrameTest, ASecondLoadFailsAndKeepsTheText) {
    const std::string record = SRecord('1', 0x8000, "\x07");
    ASSERT_TRUE(LoadText(Lines({record, kEnd})));
    EXPECT_FALSE(m_frame->Load());
    EXPECT_EQ(ReadAllBlocks().front(), record);
}

}  // namespace
