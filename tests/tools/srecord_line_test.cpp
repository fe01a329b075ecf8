#include "tools/bootloader_sim/srecord_line.h"

#include <gtest/gtest.h>

namespace {

struct GoodRecord {
    const char* text;
    char type;
    std::uint32_t address;
    std::vector<std::uint8_t> data;
};

TEST(SRecordLineTest, ReadsEachAddressWidth) {
    const GoodRecord rows[] = {
        {"S00600004844521B", '0', 0x0000, {0x48, 0x44, 0x52}},
        {"S107010001020304ED", '1', 0x0100, {1, 2, 3, 4}},
        {"S20600010801559A", '2', 0x000108, {0x01, 0x55}},
        {"S30700A00000112225", '3', 0x00A00000, {0x11, 0x22}},
        {"S9030000fc", '9', 0, {}},  // the digits may be lower case
    };
    for (const GoodRecord& row : rows) {
        SRecordLine record;
        std::string problem;
        ASSERT_TRUE(ParseSRecordLine(row.text, record, problem)) << row.text << ": " << problem;
        EXPECT_EQ(record.type, row.type) << row.text;
        EXPECT_EQ(record.address, row.address) << row.text;
        EXPECT_EQ(record.data, row.data) << row.text;
    }
}

TEST(SRecordLineTest, RefusesDamagedRecordsSayingWhy) {
    const std::pair<const char*, const char*> rows[] = {
        {"S107010001020304EE", "checksum 0xEE, expected 0xED"},
        {"S107010001020304", "byte count 7, but 6 bytes follow it"},
        {"S10701000102030", "odd number"},
        {"S1070100010203G4ED", "not a hexadecimal digit"},
        {"S4030000FC", "unknown record type"},
        {"X107010001020304ED", "does not begin with 'S'"},
        {"S3030000FC", "too small"},
        {"S1", "no byte count"},
    };
    for (const auto& [text, reason] : rows) {
        SRecordLine record;
        std::string problem;
        EXPECT_FALSE(ParseSRecordLine(text, record, problem)) << text;
        EXPECT_NE(problem.find(reason), std::string::npos) << text << ": " << problem;
    }
}

}  // namespace
