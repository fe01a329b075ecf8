// Platform identification: the processor/project table read from the
// registry, its defaults, and the reads that must fail on an oversized value.
#include "engine/platform_identification.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <ostream>
#include <string>

#include "tests/support/scoped_sysroot.h"

namespace {

struct PlatformCase {
    const char* cpuType;
    unsigned projectType;
    int code;
};

void PrintTo(const PlatformCase& entry, std::ostream* out) {
    *out << '"' << entry.cpuType << "\" / " << entry.projectType << " -> " << entry.code;
}

class PlatformCodeTableTest : public ::testing::TestWithParam<PlatformCase> {
protected:
    testing_support::CScopedSysroot m_sysroot;
};

TEST_P(PlatformCodeTableTest, GivesTheCodeOfTheFirstMatchingRow) {
    const PlatformCase& entry = GetParam();
    m_sysroot.WriteUnitRegistry(entry.cpuType, entry.projectType, "V2.0");
    EXPECT_EQ(GetPlatformCode(), entry.code);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PlatformCodeTableTest,
    ::testing::Values(PlatformCase{"S3C6410", 18, 0}, PlatformCase{"S5PC100", 18, 1},
                      PlatformCase{"S5P6450", 18, 2}, PlatformCase{"S3C6410", 19, 3},
                      PlatformCase{"S3C6410", 17, 3}, PlatformCase{"S5PC100", 19, 4},
                      PlatformCase{"S5PC100", 17, 4}, PlatformCase{"S5P6450", 19, 5},
                      PlatformCase{"S5P6450", 17, 5}, PlatformCase{"S5P6450", 16, 6},
                      PlatformCase{"MSTAR2521", 16, 7}, PlatformCase{"MSTAR2521", 19, 8},
                      PlatformCase{"MSTAR2521", 17, 8}, PlatformCase{"MSTAR786", 19, 9},
                      PlatformCase{"MSTAR786", 17, 9}, PlatformCase{"MSTAR786", 18, 13},
                      PlatformCase{"S5P6450", 20, 10}, PlatformCase{"MSTAR2521", 18, 11},
                      PlatformCase{"MSTAR2531", 19, 12}, PlatformCase{"MSTAR2531", 17, 12}));

INSTANTIATE_TEST_SUITE_P(
    Unlisted, PlatformCodeTableTest,
    ::testing::Values(PlatformCase{"S5P6450", 21, 0}, PlatformCase{"MSTAR786", 16, 0},
                      PlatformCase{"MSTAR2531", 18, 0}, PlatformCase{"S3C6410", 20, 0},
                      PlatformCase{"mstar2521", 19, 0},   // letter case counts
                      PlatformCase{"MSTAR2521 ", 19, 0},  // the whole text must match
                      PlatformCase{"MSTAR252", 19, 0},    // ... not a prefix of it
                      PlatformCase{"MSTAR25211", 19, 0}, PlatformCase{"", 19, 0},
                      PlatformCase{"X86", 18, 0}));

class PlatformRegistryTest : public ::testing::Test {
protected:
    void WriteKey(const std::string& values) const {
        m_sysroot.WriteRegistry("[HKEY_LOCAL_MACHINE\\SoftWare\\Tovren\\Os]\r\n" + values);
    }
    testing_support::CScopedSysroot m_sysroot;
};

TEST_F(PlatformRegistryTest, NoRegistryAtAllGivesCodeZero) {
    EXPECT_EQ(GetPlatformCode(), 0);
}

TEST_F(PlatformRegistryTest, MissingValuesTakeTheirDefaults) {
    WriteKey("\"PROJECTTYPE\"=dword:00000013\r\n");  // 19 with the default S3C6410
    EXPECT_EQ(GetPlatformCode(), 3);
    WriteKey("\"CPU_TYPE\"=\"S5PC100\"\r\n");  // project 18 by default
    EXPECT_EQ(GetPlatformCode(), 1);
}

TEST_F(PlatformRegistryTest, OversizedValuesCountAsMissing) {
    // 300 characters and the zero: 602 bytes, above the 520-byte limit.
    WriteKey("\"CPU_TYPE\"=\"" + std::string(300, 'M') +
             "\"\r\n\"PROJECTTYPE\"=dword:00000011\r\n");
    EXPECT_EQ(GetPlatformCode(), 3);  // S3C6410 with project 17
    // Eight bytes do not fit the 4-byte project number: 18 stays.
    WriteKey("\"CPU_TYPE\"=\"MSTAR786\"\r\n\"PROJECTTYPE\"=hex:13,00,00,00,00,00,00,00\r\n");
    EXPECT_EQ(GetPlatformCode(), 13);
}

TEST_F(PlatformRegistryTest, StoredBytesAreTakenAsTheyAre) {
    // A one-byte project number replaces the low byte of the preset 18.
    WriteKey("\"CPU_TYPE\"=\"MSTAR2521\"\r\n\"PROJECTTYPE\"=hex:13\r\n");
    EXPECT_EQ(GetPlatformCode(), 8);
    std::uint32_t project = 0x12345678;
    ASSERT_TRUE(ReadProjectType(project));
    EXPECT_EQ(project, 0x12345613u);
}

TEST_F(PlatformRegistryTest, CpuTypeIsReadAsSixteenBitUnits) {
    m_sysroot.WriteUnitRegistry("MSTAR2531", 19);
    std::array<char16_t, 130> buffer{};
    buffer.fill(u'#');
    ASSERT_TRUE(ReadCpuType(buffer.data(), 259));
    EXPECT_EQ(std::u16string(buffer.data()), u"MSTAR2531");
    EXPECT_EQ(buffer[10], u'#');  // nothing beyond the stored 20 bytes
}

struct HwVersionCase {
    const char* stored;  // nullptr: no value
    bool readable;
};

TEST_F(PlatformRegistryTest, HwVersionFitsSixteenBytesOrFails) {
    const HwVersionCase cases[] = {
        {"V1.0", true},
        {"V123456", true},    // 7 characters and the zero: 16 bytes
        {"V1234567", false},  // 8 characters and the zero: 18 bytes
        {nullptr, false},
    };
    for (const HwVersionCase& entry : cases) {
        WriteKey(entry.stored != nullptr
                     ? "\"HW_VERSION\"=\"" + std::string(entry.stored) + "\"\r\n"
                     : std::string("\"OTHER\"=\"x\"\r\n"));
        std::array<char16_t, 8> buffer;
        buffer.fill(u'#');
        const char* name = entry.stored != nullptr ? entry.stored : "(none)";
        EXPECT_EQ(ReadHwVersion(buffer.data(), 16), entry.readable) << name;
        if (entry.readable) {
            const std::size_t length = std::strlen(entry.stored);
            EXPECT_EQ(std::u16string(buffer.data(), length),
                      std::u16string(entry.stored, entry.stored + length))
                << name;
        } else {
            EXPECT_EQ(buffer[0], u'#') << name << ": the buffer must stay untouched";
            EXPECT_EQ(buffer[7], u'#') << name;
        }
    }
}

}  // namespace
