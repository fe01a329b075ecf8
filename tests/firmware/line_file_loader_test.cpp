// The family B loader: the opposite tag rule, and the end of the lines
// turning the state to eTranState_End.
#include "firmware/line_file_loader.h"

#include <gtest/gtest.h>

#include <string>

#include "mcu_link/tran_state.h"
#include "platform/files.h"
#include "tests/firmware/firmware_test_support.h"

namespace {

using firmware_test::Lines;
using firmware_test::Pattern;
using firmware_test::SRecord;

const std::string kEnd = SRecord('9', 0, "");

class LineFileLoaderTest : public firmware_test::CFirmwareDirectoryTest {
protected:
    int Begin(const std::string& text) {
        WriteFile("fw.s19", text);
        m_loader = std::make_unique<CLineFileLoader>();
        if (m_loader->PrepareImage() == 0) {
            ADD_FAILURE() << "no file found";
            return -2;
        }
        return m_loader->BeginLoad();
    }
    std::unique_ptr<CLineFileLoader> m_loader;
};

TEST_F(LineFileLoaderTest, TakesTheFirstFile) {
    WriteFile("b.s19", kEnd);
    WriteFile("HX900_64K.s19", kEnd);
    CLineFileLoader loader;
    ASSERT_NE(loader.PrepareImage(), 0);
    EXPECT_EQ(loader.GetFileName(), platform::FindFiles(Directory() + "/", "*.s19").front());
}

TEST_F(LineFileLoaderTest, RefusesFilesTaggedForFamilyA) {
    EXPECT_EQ(Begin(Lines({SRecord('0', 0, "STM8QD5C"), SRecord('1', 0x8000, "\x01"), kEnd})), -1);
    EXPECT_EQ(m_loader->GetState(), eTranState_Stop);
    EXPECT_EQ(Begin(Lines({SRecord('0', 0, ""), SRecord('1', 0x8000, "\x01"), kEnd})), 1);
    EXPECT_EQ(m_loader->GetState(), eTranState_Start);
    EXPECT_EQ(Begin(Lines({SRecord('1', 0x8000, "\x01"), kEnd})), 1);
    EXPECT_EQ(Begin(Lines({SRecord('0', 0, "HX900 STM8QD5C"), kEnd})), -1);
}

TEST_F(LineFileLoaderTest, EndOfTheLinesEndsTheTransferState) {
    const std::string record = SRecord('1', 0x8000, Pattern(16));  // count 0x13: 42 characters
    const std::string text = Lines({record, kEnd});
    ASSERT_EQ(Begin(text), 1);
    m_loader->Rewind();
    m_loader->SetState(eTranState_Data);
    EXPECT_EQ(m_loader->TotalCount(), text.size());
    std::uint8_t block[128];
    EXPECT_EQ(m_loader->BlockAddress(), 0u);
    ASSERT_EQ(m_loader->NextBlock(block, sizeof block), 42u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 42), record);
    EXPECT_EQ(m_loader->NextBlock(block, sizeof block), kEnd.size());
    EXPECT_EQ(m_loader->GetState(), eTranState_Data);
    EXPECT_EQ(m_loader->NextBlock(block, sizeof block), 0u);
    EXPECT_EQ(m_loader->GetState(), eTranState_End);
    EXPECT_EQ(m_loader->DoneCount(), text.size());
}

TEST_F(LineFileLoaderTest, UnsendableFileGivesZeroAndKeepsTheState) {
    EXPECT_EQ(Begin(Lines({SRecord('1', 0x8000, Pattern(70)), kEnd})), 0);
    EXPECT_EQ(m_loader->GetState(), eTranState_Stop);
}

}  // namespace
