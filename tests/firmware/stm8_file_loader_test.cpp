// The family A loader: which file it takes (the size-class rule of platform
// code 8 with the update flag), the tag rule, and the transfer state it holds.
#include "firmware/stm8_file_loader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware/update_flag.h"
#include "mcu_link/tran_state.h"
#include "platform/files.h"
#include "tests/firmware/firmware_test_support.h"
#include "tests/support/scratch_directory.h"

namespace {

using firmware_test::DataRecords;
using firmware_test::Lines;
using firmware_test::Pattern;
using firmware_test::SRecord;
using firmware_test::TagRecord;

const std::string kEnd = SRecord('9', 0xA000, "");

class Stm8FileLoaderTest : public firmware_test::CFirmwareDirectoryTest {
protected:
    CStm8FileLoader MakeLoader(std::uint8_t platformCode) {
        return CStm8FileLoader([this, platformCode] {
            ++m_platformQueries;
            return platformCode;
        });
    }
    // The name of the file the loader took, "-" for none.
    std::string Prepare(std::uint8_t platformCode, const std::string& version) {
        CStm8FileLoader loader = MakeLoader(platformCode);
        loader.SetMcuVersion(version);
        return loader.PrepareImage() != 0 ? loader.GetFileName() : std::string("-");
    }
    std::string FirstListed() const {
        return platform::FindFiles(Directory() + "/", "*.s19").front();
    }
    int StoredFlag() const {
        std::uint8_t flag = 0;
        return ReadUpdateFlag(flag) == 0 ? flag : -1;
    }
    void WriteAllSizeClasses() {
        WriteFile("a.s19", kEnd);
        WriteFile("HX900_64K.s19", kEnd);
        WriteFile("HX900_128K.s19", kEnd);
    }

    int m_platformQueries = 0;
};

TEST_F(Stm8FileLoaderTest, OtherPlatformsTakeTheFirstFileWhateverTheVersion) {
    WriteFile("a.s19", kEnd);
    WriteFile("HX900_128K.s19", kEnd);
    EXPECT_EQ(Prepare(7, "HX90020130105"), FirstListed());
    EXPECT_EQ(Prepare(9, "IAP"), FirstListed());
    EXPECT_EQ(StoredFlag(), -1);  // no flag file written
}

TEST_F(Stm8FileLoaderTest, VersionDateChoosesTheSizeClassAndIsRemembered) {
    WriteAllSizeClasses();
    EXPECT_EQ(Prepare(8, "HX90020130105"), "HX900_128K.s19");
    EXPECT_EQ(StoredFlag(), 1);
    EXPECT_EQ(Prepare(8, "HX90020121231"), "HX900_64K.s19");
    EXPECT_EQ(StoredFlag(), 0);
    EXPECT_EQ(Prepare(8, ""), "HX900_64K.s19");  // no answer: year 0
    EXPECT_EQ(StoredFlag(), 0);
    EXPECT_EQ(Prepare(8, "V2.1"), "HX900_64K.s19");
}

TEST_F(Stm8FileLoaderTest, MissingSizeClassFileIsNotReplacedByAnother) {
    WriteFile("a.s19", kEnd);
    WriteFile("HX900_64K.s19", kEnd);
    EXPECT_EQ(Prepare(8, "HX90020140301"), "-");
    EXPECT_EQ(StoredFlag(), 1);
}

TEST_F(Stm8FileLoaderTest, IapVersionReadsTheFlagAndLeavesItAlone) {
    WriteAllSizeClasses();
    ASSERT_EQ(WriteUpdateFlag(1), 0);
    const std::vector<std::uint8_t> before = testing_support::ReadFileBytes(GetUpdateFlagPath());
    EXPECT_EQ(Prepare(8, "IAP_BOOT"), "HX900_128K.s19");
    EXPECT_EQ(testing_support::ReadFileBytes(GetUpdateFlagPath()), before);
}

TEST_F(Stm8FileLoaderTest, IapVersionWithoutAFlagTakesTheFirstFile) {
    WriteAllSizeClasses();
    EXPECT_EQ(Prepare(8, "IAP"), FirstListed());
    EXPECT_EQ(StoredFlag(), -1);
}

TEST_F(Stm8FileLoaderTest, PlatformCodeIsAskedEveryTime) {
    WriteFile("a.s19", kEnd);
    CStm8FileLoader loader = MakeLoader(0);
    loader.PrepareImage();
    loader.PrepareImage();
    EXPECT_EQ(m_platformQueries, 2);
}

// ---- Loading and the tag rule --------------------------------------------

struct TagCase {
    const char* tagLine;  // "" for no tag record
    int expected;
};

TEST_F(Stm8FileLoaderTest, TagRuleDecidesBeginLoad) {
    const TagCase cases[] = {
        {"STM8QD5C", 1},  {"xxSTM8QD5C-V2", 1}, {"", -1},
        {"stm8qd5c", -1}, {"STM8QD5", -1},      {"STM8", -1},
    };
    for (const TagCase& entry : cases) {
        std::vector<std::string> lines;
        if (*entry.tagLine != '\0') {
            lines.push_back(TagRecord(entry.tagLine));
        }
        lines.push_back(SRecord('1', 0xA000, "\x01"));
        lines.push_back(kEnd);
        WriteFile("fw.s19", Lines(lines));
        CStm8FileLoader loader = MakeLoader(0);
        ASSERT_NE(loader.PrepareImage(), 0);
        EXPECT_EQ(loader.BeginLoad(), entry.expected) << "tag [" << entry.tagLine << "]";
        EXPECT_EQ(loader.GetState(), entry.expected == 1 ? eTranState_Start : eTranState_Stop);
    }
}

TEST_F(Stm8FileLoaderTest, UnreadableFileGivesZeroAndKeepsTheState) {
    WriteFile("fw.s19", Lines({TagRecord("STM8QD5C"), "S1030000FD", kEnd}));  // bad checksum
    CStm8FileLoader loader = MakeLoader(0);
    ASSERT_NE(loader.PrepareImage(), 0);
    EXPECT_EQ(loader.BeginLoad(), 0);
    EXPECT_EQ(loader.GetState(), eTranState_Stop);
}

TEST_F(Stm8FileLoaderTest, HandsOutTheImageInAddressedBlocks) {
    const std::vector<std::uint8_t> data = Pattern(300);
    WriteFile("fw.s19",
              Lines({TagRecord("STM8QD5C")}) + Lines(DataRecords(0xA000, data, 32)) + kEnd);
    CStm8FileLoader loader = MakeLoader(0);
    ASSERT_NE(loader.PrepareImage(), 0);
    ASSERT_EQ(loader.BeginLoad(), 1);
    loader.Rewind();
    EXPECT_EQ(loader.GetState(), eTranState_Start);
    EXPECT_EQ(loader.TotalCount(), 300u);
    loader.SetState(eTranState_Data);

    std::vector<std::uint8_t> sent;
    std::vector<std::uint32_t> addresses;
    std::uint8_t block[128];
    for (;;) {
        const std::uint32_t address = loader.BlockAddress();
        const std::uint32_t count = loader.NextBlock(block, sizeof block);
        if (count == 0) {
            break;
        }
        addresses.push_back(address);
        sent.insert(sent.end(), block, block + count);
    }
    EXPECT_EQ(sent, data);
    EXPECT_EQ(addresses, (std::vector<std::uint32_t>{0xA000, 0xA080, 0xA100}));
    EXPECT_EQ(loader.DoneCount(), 300u);
    EXPECT_EQ(loader.GetState(), eTranState_Data);  // NextBlock leaves it to the updater
}

TEST_F(Stm8FileLoaderTest, ReadForStateEndsWhenTheStateHasNoBlock) {
    WriteFile("fw.s19", Lines({TagRecord("STM8QD5C"), SRecord('1', 0xA000, Pattern(10)), kEnd}));
    CStm8FileLoader loader = MakeLoader(0);
    ASSERT_NE(loader.PrepareImage(), 0);
    ASSERT_EQ(loader.BeginLoad(), 1);
    std::uint8_t block[128];
    EXPECT_EQ(loader.ReadForState(block, sizeof block), 0u);  // Start: nothing
    EXPECT_EQ(loader.GetState(), eTranState_End);
    loader.SetState(eTranState_Data);
    EXPECT_EQ(loader.ReadForState(block, sizeof block), 10u);
    EXPECT_EQ(loader.GetState(), eTranState_Data);
    loader.SetState(eTranState_Repeat);
    EXPECT_EQ(loader.ReadForState(block, sizeof block), 0u);
    EXPECT_EQ(loader.GetState(), eTranState_End);
}

}  // namespace
