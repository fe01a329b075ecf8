// Decoding single S-records: hexadecimal pairs, fields, checksums, and the
// malformed counts and cut texts that must never be read beyond.
#include "firmware/mcu_record_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "firmware/crc32.h"
#include "tests/firmware/firmware_test_support.h"

namespace {

using firmware_test::SRecord;

struct HexPairCase {
    const char* pair;
    std::uint8_t value;
};

TEST(ReadHexPairTest, ReadsLikeATwoCharacterCScan) {
    const HexPairCase cases[] = {
        {"00", 0x00},  {"FF", 0xFF}, {"a5", 0xA5},
        {"7f", 0x7F},  {" A", 0x0A},  // blank before the digit is skipped
        {"\tF", 0x0F},                // any C blank
        {"A ", 0x0A},                 // the scan stops at the blank
        {"1G", 0x01},                 // ... and at a non-digit
        {"G1", 0x00},                 // no digit at all
        {"  ", 0x00},  {"-1", 0x00}, {"\r\n", 0x00},
    };
    for (const HexPairCase& entry : cases) {
        EXPECT_EQ(ReadHexPair(entry.pair), entry.value) << "pair \"" << entry.pair << "\"";
    }
}

TEST(ParseRecordTest, DecodesTheFieldsOfEachAddressWidth) {
    struct Case {
        char type;
        std::uint32_t address;
    };
    for (const Case& entry : {Case{'1', 0xA000}, Case{'2', 0x01A0F0}, Case{'3', 0x1234A000}}) {
        const std::string text = SRecord(entry.type, entry.address, "\x01\x02\xFE");
        McuRecordInfo record;
        ASSERT_EQ(ParseRecord(record, text), RecordDecodeResult::kDecoded) << text;
        EXPECT_EQ(record.startChar, 'S');
        EXPECT_EQ(record.type, entry.type - '0');
        EXPECT_EQ(record.address, entry.address);
        EXPECT_EQ(RecordDataLength(record), 3);
        EXPECT_EQ(record.data[0], 0x01);
        EXPECT_EQ(record.data[2], 0xFE);
        EXPECT_EQ(RecordTextLength(record.count), text.size());
    }
}

TEST(ParseRecordTest, CountRecordsCarryNoAddress) {
    McuRecordInfo record;
    // S5 0003 records; the count records 4 and 6 take their bytes as data.
    ASSERT_EQ(ParseRecord(record, SRecord('5', 3, "")), RecordDecodeResult::kDecoded);
    EXPECT_EQ(record.address, 3u);
    EXPECT_EQ(RecordDataLength(record), 0);
    ASSERT_EQ(ParseRecord(record, SRecord('6', 0, std::vector<std::uint8_t>{0, 0, 3})),
              RecordDecodeResult::kDecoded);
    EXPECT_EQ(record.address, 0u);
    EXPECT_EQ(RecordDataLength(record), 3);
}

TEST(ParseRecordTest, ChecksumOffByOneFails) {
    std::string text = SRecord('1', 0xA000, "\x10\x20");
    text.back() = text.back() == '0' ? '1' : static_cast<char>(text.back() - 1);
    McuRecordInfo record;
    EXPECT_EQ(ParseRecord(record, text), RecordDecodeResult::kChecksumMismatch);
}

TEST(ParseRecordTest, ChecksumCountsTheFourAddressBytes) {
    // Address bytes 0x12 0x34 0x56 0x78, no data: sum 0x05+0x12+0x34+0x56+0x78 = 0x119.
    McuRecordInfo record;
    EXPECT_EQ(ParseRecord(record, "S30512345678E6"), RecordDecodeResult::kDecoded);
}

TEST(ParseRecordTest, RefusesCountsWithoutRoomForTheChecksum) {
    McuRecordInfo record;
    // S1 needs count >= 3 (two address bytes and the checksum).
    EXPECT_EQ(ParseRecord(record, "S102A0005D"), RecordDecodeResult::kCountTooSmall);
    EXPECT_EQ(ParseRecord(record, "S400FF"), RecordDecodeResult::kCountTooSmall);
}

TEST(ParseRecordTest, RefusesOneHundredTwentyEightDataBytes) {
    McuRecordInfo record;
    const std::string longest = SRecord('1', 0xA000, std::string(127, 'x'));
    EXPECT_EQ(ParseRecord(record, longest), RecordDecodeResult::kDecoded);
    const std::string tooLong = SRecord('1', 0xA000, std::string(128, 'x'));
    EXPECT_EQ(ParseRecord(record, tooLong), RecordDecodeResult::kDataTooLong);
}

TEST(ParseRecordTest, TextCutInsideTheRecordIsNotReadBeyond) {
    const std::string whole = SRecord('2', 0x00A000, std::string(40, 'y'));
    for (std::size_t length :
         {std::size_t{2}, std::size_t{3}, std::size_t{4}, whole.size() / 2, whole.size() - 1}) {
        // An exact heap copy, so that AddressSanitizer sees any read past it.
        auto copy = std::make_unique<char[]>(length);
        std::memcpy(copy.get(), whole.data(), length);
        McuRecordInfo record;
        EXPECT_EQ(ParseRecord(record, std::string_view(copy.get(), length)),
                  RecordDecodeResult::kTruncated)
            << "length " << length;
    }
}

TEST(Crc32Test, IsTheCrcOfZipAndPng) {
    EXPECT_EQ(Crc32Update("123456789", 9, 0), 0xCBF43926u);
    EXPECT_EQ(Crc32Update("", 0, 0), 0u);
    const std::uint8_t one = 1;
    EXPECT_EQ(Crc32Update(&one, 1, 0), 0xA505DF1Bu);
}

TEST(Crc32Test, Chains) {
    EXPECT_EQ(Crc32Update("6789", 4, Crc32Update("12345", 5, 0)), 0xCBF43926u);
}

}  // namespace
