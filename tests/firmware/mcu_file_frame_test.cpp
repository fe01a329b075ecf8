// The family A firmware file: finding it, parsing it into the image at
// 0xA000, the platform tag, the parse progress, and the malformed files that
// must fail the load instead of sending something else than the file holds.
#include "firmware/mcu_file_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mcu_link/engine_events.h"
#include "platform/files.h"
#include "platform/window_messages.h"
#include "tests/firmware/firmware_test_support.h"

namespace {

using firmware_test::DataRecords;
using firmware_test::Lines;
using firmware_test::Pattern;
using firmware_test::SRecord;
using firmware_test::TagRecord;

const std::string kEnd = SRecord('9', 0xA000, "");

class FileFrameTest : public firmware_test::CFirmwareDirectoryTest {
protected:
    // Writes text as fw.s19 and loads it; the frame stays for inspection.
    bool LoadText(const std::string& text) {
        WriteFile("fw.s19", text);
        m_frame = std::make_unique<CMcuFileFrame>();
        return m_frame->SearchFile(false, CMcuFileFrame::kSizeClass64K) && m_frame->Load();
    }

    // Every block the transfer would take, joined.
    std::vector<std::uint8_t> ReadAllBlocks(std::uint32_t max = 128) {
        std::vector<std::uint8_t> image;
        std::vector<std::uint8_t> block(max);
        while (std::uint32_t count = m_frame->ReadBlock(block.data(), max)) {
            image.insert(image.end(), block.begin(), block.begin() + count);
        }
        return image;
    }

    std::unique_ptr<CMcuFileFrame> m_frame;
};

std::vector<std::uint8_t> Concat(std::vector<std::uint8_t> first,
                                 const std::vector<std::uint8_t>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// ---- Finding the file -----------------------------------------------------

class FileSearchTest : public firmware_test::CFirmwareDirectoryTest {
protected:
    std::string Search(bool checkName, int sizeClass) {
        CMcuFileFrame frame;
        return frame.SearchFile(checkName, sizeClass) ? frame.GetFileName() : std::string("-");
    }
};

TEST_F(FileSearchTest, NameRulesPickTheFirstAcceptedEntry) {
    WriteFile("a.s19", kEnd);
    WriteFile("HX900_64K.s19", kEnd);
    WriteFile("notes.txt", "");
    const std::vector<std::string> listed = platform::FindFiles(Directory() + "/", "*.s19");
    ASSERT_EQ(listed.size(), 2u);

    EXPECT_EQ(Search(false, CMcuFileFrame::kSizeClass64K), listed.front());
    EXPECT_EQ(Search(true, CMcuFileFrame::kSizeClassAny), listed.front());
    EXPECT_EQ(Search(true, CMcuFileFrame::kSizeClass64K), "HX900_64K.s19");
    EXPECT_EQ(Search(true, CMcuFileFrame::kSizeClass128K), "-");
    EXPECT_EQ(Search(true, 2), "-");
}

TEST_F(FileSearchTest, NameTokensAreCaseSensitive) {
    WriteFile("hx900_64k.s19", kEnd);
    WriteFile("HX900-128K.s19", kEnd);
    EXPECT_EQ(Search(true, CMcuFileFrame::kSizeClass64K), "-");
    EXPECT_EQ(Search(true, CMcuFileFrame::kSizeClass128K), "HX900-128K.s19");
}

TEST_F(FileSearchTest, NoFileMeansNoLoad) {
    CMcuFileFrame frame;
    EXPECT_FALSE(frame.SearchFile(false, CMcuFileFrame::kSizeClass64K));
    EXPECT_FALSE(frame.Load());
}

// ---- Building the image ---------------------------------------------------

TEST_F(FileFrameTest, OneRecordAtTheImageBase) {
    const std::vector<std::uint8_t> data = Pattern(16);
    ASSERT_TRUE(LoadText(Lines({SRecord('1', 0xA000, data), kEnd})));
    EXPECT_EQ(m_frame->GetDataLength(), 16u);
    EXPECT_EQ(m_frame->GetBlockAddress(), 0xA000u);
    std::uint8_t block[16] = {};
    EXPECT_EQ(m_frame->ReadBlock(block, 16), 16u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), block));
    EXPECT_EQ(m_frame->GetBlockAddress(), 0xA010u);
    EXPECT_EQ(m_frame->GetReadPos(), 16u);
    EXPECT_EQ(m_frame->ReadBlock(block, 16), 0u);
    m_frame->Rewind();
    EXPECT_EQ(m_frame->GetBlockAddress(), 0xA000u);
    EXPECT_EQ(m_frame->ReadRepeat(block, 16), 0u);
}

TEST_F(FileFrameTest, BlocksOfAThreeHundredByteImage) {
    ASSERT_TRUE(LoadText(Lines(DataRecords(0xA000, Pattern(300), 32)) + kEnd));
    std::uint8_t block[128];
    EXPECT_EQ(m_frame->ReadBlock(block, 128), 128u);
    EXPECT_EQ(m_frame->ReadBlock(block, 128), 128u);
    EXPECT_EQ(m_frame->ReadBlock(block, 128), 44u);
    EXPECT_EQ(m_frame->ReadBlock(block, 128), 0u);
}

// Regression: the image length used to be the sum of the records' lengths, so
// a gap between records cut off the end of the image (0xA020.. never sent).
TEST_F(FileFrameTest, GappedRecordsSendBothRecords) {
    const std::vector<std::uint8_t> first = Pattern(16, 1);
    const std::vector<std::uint8_t> second = Pattern(16, 100);
    ASSERT_TRUE(LoadText(Lines({SRecord('1', 0xA000, first), SRecord('1', 0xA020, second), kEnd})));
    EXPECT_EQ(m_frame->GetDataLength(), 48u);
    const std::vector<std::uint8_t> expected =
        Concat(Concat(first, std::vector<std::uint8_t>(16, 0x00)), second);
    EXPECT_EQ(ReadAllBlocks(), expected);
}

// Regression companion: overlapping records must not send bytes past the end.
TEST_F(FileFrameTest, OverlappingRecordsSendTheImageExtentOnly) {
    const std::vector<std::uint8_t> second = Pattern(16, 50);
    ASSERT_TRUE(
        LoadText(Lines({SRecord('1', 0xA000, Pattern(16)), SRecord('1', 0xA008, second), kEnd})));
    EXPECT_EQ(m_frame->GetDataLength(), 24u);
    const std::vector<std::uint8_t> image = ReadAllBlocks();
    ASSERT_EQ(image.size(), 24u);
    EXPECT_TRUE(std::equal(second.begin(), second.end(), image.begin() + 8));
}

TEST_F(FileFrameTest, RecordsBelowTheImageAreIgnored) {
    ASSERT_TRUE(LoadText(Lines({SRecord('1', 0x8000, Pattern(16)), SRecord('1', 0xA000, "\x42"),
                                SRecord('5', 2, ""), kEnd})));
    EXPECT_EQ(ReadAllBlocks(), std::vector<std::uint8_t>{0x42});
}

TEST_F(FileFrameTest, CountRecordBeyondTheImageStoresNothing) {
    // S5 carries a record count in its address field; no bytes, no bound.
    ASSERT_TRUE(LoadText(Lines({SRecord('1', 0xA000, "\x01"), SRecord('5', 0xFFFF, ""), kEnd})));
    EXPECT_EQ(m_frame->GetDataLength(), 1u);
}

TEST_F(FileFrameTest, HeaderRecordIsPassedOverUnchecked) {
    // The header's checksum is wrong on purpose: the scan never decodes it.
    ASSERT_TRUE(LoadText(Lines({"S00600004844521C", SRecord('1', 0xA000, "\x01\x02"), kEnd})));
    EXPECT_EQ(m_frame->GetDataLength(), 2u);
}

TEST_F(FileFrameTest, BlankInsideAPairReadsAsALeadingBlank) {
    std::string record = SRecord('1', 0xA000, "\x05\x06");
    record[8] = ' ';  // "05" becomes " 5": the same byte
    ASSERT_TRUE(LoadText(Lines({record, kEnd})));
    EXPECT_EQ(ReadAllBlocks(), (std::vector<std::uint8_t>{0x05, 0x06}));
}

TEST_F(FileFrameTest, SFollowedByALetterEndsTheRecords) {
    ASSERT_TRUE(
        LoadText(Lines({SRecord('1', 0xA000, "\x01"), "SX", SRecord('1', 0xA001, "\x02")})));
    EXPECT_EQ(m_frame->GetDataLength(), 1u);
}

TEST_F(FileFrameTest, S2AndS3RecordsLoad) {
    ASSERT_TRUE(LoadText(Lines(
        {SRecord('2', 0x00A000, "\x11"), SRecord('3', 0x0000A001, "\x22"), SRecord('7', 0, "")})));
    EXPECT_EQ(ReadAllBlocks(), (std::vector<std::uint8_t>{0x11, 0x22}));
}

TEST_F(FileFrameTest, ASecondLoadFailsAndKeepsTheImage) {
    ASSERT_TRUE(LoadText(Lines({SRecord('1', 0xA000, "\x33"), kEnd})));
    EXPECT_FALSE(m_frame->Load());
    EXPECT_EQ(ReadAllBlocks(), std::vector<std::uint8_t>{0x33});
}

// ---- The platform tag -----------------------------------------------------

TEST_F(FileFrameTest, TagAtNineFeeZeroSkipsLeadingZeros) {
    ASSERT_TRUE(LoadText(Lines({TagRecord("STM8QD5C"), SRecord('1', 0xA000, "\x01"), kEnd})));
    EXPECT_EQ(m_frame->GetPlatform(), "STM8QD5C");
    EXPECT_EQ(CountInDebug("CMcuFileFrame::SaveDataToBuf Addr[0x009FE0]:platform = [STM8QD5C]\n"),
              1);
    EXPECT_EQ(m_frame->GetDataLength(), 1u);  // the tag is not part of the image
}

TEST_F(FileFrameTest, NoTagRecordLeavesTheTagEmpty) {
    ASSERT_TRUE(LoadText(Lines({SRecord('1', 0xA000, "\x01"), kEnd})));
    EXPECT_EQ(m_frame->GetPlatform(), "");
    EXPECT_EQ(CountInDebug("platform = "), 0);
}

TEST_F(FileFrameTest, AllZeroTagRecordWritesTheLineWithAnEmptyTag) {
    ASSERT_TRUE(LoadText(Lines({SRecord('1', 0x9FE0, std::vector<std::uint8_t>(8, 0)),
                                SRecord('1', 0xA000, "\x01"), kEnd})));
    EXPECT_EQ(m_frame->GetPlatform(), "");
    EXPECT_EQ(CountInDebug("Addr[0x009FE0]:platform = []\n"), 1);
}

// ---- Files that must not load ---------------------------------------------

TEST_F(FileFrameTest, ChecksumOffByOneFailsTheLoadAndSaysWhere) {
    std::string bad = SRecord('1', 0xA010, "\x01\x02");
    bad.back() = bad.back() == '0' ? '1' : static_cast<char>(bad.back() - 1);
    EXPECT_FALSE(LoadText(Lines({SRecord('1', 0xA000, "\x01"), bad, kEnd})));
    EXPECT_EQ(CountInDebug("address 0x00A010"), 1) << DebugText();
    EXPECT_EQ(CountInDebug("checksum expected 0x"), 1);
    EXPECT_EQ(m_frame->ReadBlock(std::vector<std::uint8_t>(128).data(), 128), 0u);
}

TEST_F(FileFrameTest, NoDataRecordBeforeTheEndFails) {
    EXPECT_FALSE(LoadText(Lines({"S00600004844521B", kEnd})));
}

TEST_F(FileFrameTest, EmptyFileFails) {
    EXPECT_FALSE(LoadText(""));
}

TEST_F(FileFrameTest, OneHundredTwentyEightDataBytesFail) {
    EXPECT_FALSE(LoadText(Lines({SRecord('2', 0xA000, Pattern(128)), kEnd})));
}

// Regression: a record addressed beyond the image buffer was copied there.
TEST_F(FileFrameTest, RecordOutsideTheImageFailsTheLoad) {
    EXPECT_FALSE(LoadText(Lines({SRecord('3', 0x00FFFFF0, Pattern(16)), kEnd})));
    EXPECT_EQ(CountInDebug("lies outside"), 1) << DebugText();
    // Records are bound by the image buffer, which is as long as the file.
    const std::string head = SRecord('1', 0xA000, "\x01") + "\r\n";
    const std::string tail = "\r\n" + kEnd + "\r\n";
    const auto fileLength =
        static_cast<std::uint32_t>(head.size() + SRecord('1', 0, "\x01\x02").size() + tail.size());
    EXPECT_FALSE(LoadText(head + SRecord('1', 0xA000 + fileLength - 1, "\x01\x02") + tail));
    ASSERT_TRUE(LoadText(head + SRecord('1', 0xA000 + fileLength - 2, "\x01\x02") + tail));
    EXPECT_EQ(m_frame->GetDataLength(), fileLength);
}

// Regression: a count below the address length + 1 gave a negative data
// length that was copied.
TEST_F(FileFrameTest, CountBelowTheAddressLengthFailsTheLoad) {
    EXPECT_FALSE(LoadText(Lines({"S102A0005D", SRecord('1', 0xA000, "\x01"), kEnd})));
    EXPECT_EQ(CountInDebug("count too small"), 1) << DebugText();
}

// Regression: a truncated copy without its termination record was accepted
// and the part that survived was sent as the firmware.
TEST_F(FileFrameTest, FileWithoutTerminationRecordFailsTheLoad) {
    EXPECT_FALSE(LoadText(Lines(DataRecords(0xA000, Pattern(64)))));
    EXPECT_EQ(CountInDebug("without a termination record"), 1) << DebugText();
}

// Regression: a record whose text ran past the end of the file was read
// beyond the text buffer.
TEST_F(FileFrameTest, RecordRunningPastTheEndFailsTheLoad) {
    const std::string whole = Lines({SRecord('1', 0xA000, Pattern(16))});
    for (std::size_t cut : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{10}}) {
        EXPECT_FALSE(LoadText(whole.substr(0, whole.size() - 2 - cut))) << "cut " << cut;
    }
}

// Regression: 'S' followed by a character below '0' was taken for a record of
// type 0xD0 and up, and the scan jumped over the record that followed it.
TEST_F(FileFrameTest, SFollowedByACharacterBelowZeroIsNotARecord) {
    const std::vector<std::uint8_t> data = Pattern(16);
    ASSERT_TRUE(LoadText("S\n" + Lines({SRecord('1', 0xA000, data), kEnd})));
    EXPECT_EQ(ReadAllBlocks(), data);
}

// ---- Parse progress -------------------------------------------------------

class ProgressWindow {
public:
    ProgressWindow() : m_message(platform::RegisterWindowMessage(kEngineEventMessageName)) {
        m_window = platform::CreateWindow(
            [this](platform::WindowHandle, platform::MessageId message, platform::WParam wParam,
                   platform::LParam lParam) -> platform::LResult {
                if (message == m_message) {
                    EXPECT_EQ(wParam, static_cast<platform::WParam>(EngineEvent::kParseProgress));
                    m_percentages.push_back(lParam);
                }
                return 0;
            });
        platform::SetForegroundWindow(m_window);
    }
    ~ProgressWindow() { platform::DestroyWindow(m_window); }
    const std::vector<platform::LParam>& Percentages() const { return m_percentages; }

private:
    platform::MessageId m_message;
    platform::WindowHandle m_window = platform::kNoWindow;
    std::vector<platform::LParam> m_percentages;
};

TEST_F(FileFrameTest, ProgressIsSentWhenThePercentageChanges) {
    ProgressWindow window;
    const std::string text = Lines(DataRecords(0xA000, Pattern(4000), 16)) + kEnd;
    ASSERT_TRUE(LoadText(text));
    const std::vector<platform::LParam>& sent = window.Percentages();
    ASSERT_FALSE(sent.empty());
    EXPECT_TRUE(std::is_sorted(sent.begin(), sent.end()));
    EXPECT_EQ(std::adjacent_find(sent.begin(), sent.end()), sent.end()) << "a value repeated";
    EXPECT_LE(sent.size(), 101u);
    // After the last data record the scan stands where the end record starts.
    const auto lastPosition = static_cast<long>(text.rfind("S9"));
    EXPECT_EQ(sent.back(), lastPosition * 100 / static_cast<long>(text.size()));
}

TEST_F(FileFrameTest, ProgressValueSentLastIsOneValueForTheRun) {
    const std::string text = Lines({SRecord('1', 0xA000, "\x01"), kEnd});
    ASSERT_TRUE(LoadText(text));  // no foreground window: remembered, not sent
    {
        ProgressWindow window;
        ASSERT_TRUE(LoadText(text));  // a new frame, the same percentage
        EXPECT_TRUE(window.Percentages().empty());
        CMcuFileFrame::ResetParseProgressForTesting();
        ASSERT_TRUE(LoadText(text));
        EXPECT_EQ(window.Percentages().size(), 1u);
    }
}

}  // namespace
