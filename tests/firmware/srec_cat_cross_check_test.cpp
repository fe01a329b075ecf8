// The family A image checked against an independent S-record tool: srec_cat
// (Debian package "srecord") writes random binaries at 0xA000 as S1, S2 and
// S3 files of several line lengths, and converts each file back to a binary;
// our image must equal that binary byte for byte. The test fails when
// srec_cat is missing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "firmware/mcu_file_frame.h"
#include "tests/firmware/firmware_test_support.h"
#include "tests/support/scratch_directory.h"

namespace {

struct SrecCatCase {
    const char* name;
    int addressLength;   // 2: S1, 3: S2, 4: S3
    const char* layout;  // srec_cat option that sets the record length
    std::size_t imageBytes;
    std::size_t gapBytes;  // > 0: a second binary this far behind the first
    bool withTag;          // a tag record at 0x9FE0
};

void PrintTo(const SrecCatCase& entry, std::ostream* out) {
    *out << entry.name;
}

const SrecCatCase kCases[] = {
    {"S1Block16Tagged", 2, "-output-block-size=16", 5000, 0, true},
    {"S1Line46", 2, "-line-length=46", 24000, 0, false},
    {"S2Block32Tagged", 3, "-output-block-size=32", 100000, 0, true},
    {"S2Block100", 3, "-output-block-size=100", 70001, 0, false},
    {"S3Block127", 4, "-output-block-size=127", 40000, 0, true},
    {"S3Line80", 4, "-line-length=80", 65536, 0, false},
    {"S2Block32Gap", 3, "-output-block-size=32", 3000, 5000, true},
    {"S3Block64Gap", 4, "-output-block-size=64", 7777, 123, false},
};

class SrecCatCrossCheckTest : public firmware_test::CFirmwareDirectoryTest,
                              public ::testing::WithParamInterface<SrecCatCase> {
protected:
    void SetUp() override {
        firmware_test::CFirmwareDirectoryTest::SetUp();
        ASSERT_EQ(std::system("command -v srec_cat > /dev/null 2>&1"), 0)
            << "srec_cat is required (Debian package srecord)";
    }

    static void Run(const std::string& command) {
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    testing_support::CScratchDirectory m_work;  // inputs and the reference binary
};

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(generator() >> 24);
    }
    return bytes;
}

TEST_P(SrecCatCrossCheckTest, ImageEqualsSrecCatBinary) {
    const SrecCatCase& entry = GetParam();
    const std::string firstBin = m_work.WriteFile("first.bin", RandomBytes(entry.imageBytes, 1));
    std::string inputs = "'" + firstBin + "' -binary -offset 0xA000";
    if (entry.gapBytes > 0) {
        const std::string secondBin = m_work.WriteFile("second.bin", RandomBytes(999, 2));
        inputs += " '" + secondBin + "' -binary -offset " +
                  std::to_string(0xA000 + entry.imageBytes + entry.gapBytes);
    }
    if (entry.withTag) {
        inputs += " -generate 0x9FE0 0x9FE8 -repeat-string STM8QD5C";
    }
    const std::string firmware = Directory() + "/fw.s19";
    Run("srec_cat " + inputs + " -o '" + firmware +
        "' -motorola -address-length=" + std::to_string(entry.addressLength) + " " + entry.layout +
        " -execution-start-address=0xA000");
    const std::string reference = m_work / "reference.bin";
    Run("srec_cat '" + firmware + "' -crop 0xA000 0xFFFFFFFF -offset -0xA000 -o '" + reference +
        "' -binary");

    CMcuFileFrame frame;
    ASSERT_TRUE(frame.SearchFile(false, CMcuFileFrame::kSizeClass64K));
    ASSERT_TRUE(frame.Load()) << DebugText();
    std::vector<std::uint8_t> image;
    std::uint8_t block[128];
    while (std::uint32_t count = frame.ReadBlock(block, sizeof block)) {
        image.insert(image.end(), block, block + count);
    }
    const std::vector<std::uint8_t> expected = testing_support::ReadFileBytes(reference);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(image.size(), expected.size());
    EXPECT_TRUE(image == expected) << "the images differ";
    EXPECT_EQ(frame.GetPlatform(), entry.withTag ? "STM8QD5C" : "");
}

INSTANTIATE_TEST_SUITE_P(Layouts, SrecCatCrossCheckTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SrecCatCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
