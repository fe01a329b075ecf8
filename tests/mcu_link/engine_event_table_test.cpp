#include "mcu_link/engine_event_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

constexpr ButtonState kOn = ButtonState::kOn;
constexpr ButtonState kOff = ButtonState::kOff;
constexpr ButtonState kSame = ButtonState::kUnchanged;

struct EngineCase {
    std::uint32_t code;
    const char* text;  // "" leaves the message area alone
    ButtonState start;
    ButtonState exit;
    ButtonState keyUpdate;
};

class EngineEventTable : public testing::TestWithParam<EngineCase> {};

TEST_P(EngineEventTable, GivesTheTextAndButtonStates) {
    const EngineCase& c = GetParam();
    const EngineEventRow* row = FindEngineEventRow(c.code);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(static_cast<std::uint32_t>(row->code), c.code);
    EXPECT_EQ(row->text, c.text);
    EXPECT_EQ(row->start, c.start);
    EXPECT_EQ(row->exit, c.exit);
    EXPECT_EQ(row->keyUpdate, c.keyUpdate);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, EngineEventTable,
    testing::Values(
        EngineCase{0,
                   "Find a valid file: %s\r\n1:Please click 'McuStart' button to update\r\n2:if "
                   "update successfully, machine should be reboot",
                   kOn, kOn, kOn},
        EngineCase{1,
                   "Mcu is updating now, do not power off and ensure that the SD card is "
                   "plugged in",
                   kOff, kOff, kOff},
        EngineCase{2, "Mcu update successfully! Please restart the machine", kOff, kOn, kOn},
        EngineCase{3, "Sorry! Update unsuccessfully!Maybe serial communication problem", kOff, kOn,
                   kOn},
        EngineCase{4,
                   "Sorry! Can not find the updated file or the file is damaged.please put *.s19 "
                   "in current path",
                   kOff, kOff, kOn},
        EngineCase{5, "Sorry! Init unsuccessfully!The serial port may be busy", kOff, kOn, kOff},
        EngineCase{7, "", kSame, kSame, kSame},
        EngineCase{8, "Data is being inited...", kSame, kSame, kSame},
        EngineCase{9, "Data is being inited %d %c", kSame, kSame, kSame},
        EngineCase{10, "", kSame, kSame, kSame}, EngineCase{12, "", kSame, kSame, kSame}),
    [](const testing::TestParamInfo<EngineCase>& info) {
        return "Code" + std::to_string(info.param.code);
    });

TEST(EngineEventTableUnknown, CodesWithoutARowAreIgnored) {
    for (std::uint32_t code : {6u, 11u, 13u, 100u, std::numeric_limits<std::uint32_t>::max()}) {
        EXPECT_EQ(FindEngineEventRow(code), nullptr) << "code " << code;
    }
}

struct KeyCase {
    std::uint32_t code;
    const char* text;
    ButtonState start;
    ButtonState exit;
};

class KeyEventTable : public testing::TestWithParam<KeyCase> {};

TEST_P(KeyEventTable, GivesTheTextAndButtonStates) {
    const KeyCase& c = GetParam();
    const KeyEventRow* row = FindKeyEventRow(c.code);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(static_cast<std::uint32_t>(row->code), c.code);
    EXPECT_EQ(row->text, c.text);
    EXPECT_EQ(row->start, c.start);
    EXPECT_EQ(row->exit, c.exit);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, KeyEventTable,
    testing::Values(
        KeyCase{0, "Find a valid file: %s\r\nPlease click 'Start' button to update", kOn, kOn},
        KeyCase{1, "Mcu Key update successfully!", kOn, kOn},
        KeyCase{2,
                "Sorry! Can not find the updated file or the file is damaged.\r\nplease put "
                "*.key in current path",
                kOff, kOn},
        KeyCase{3, "Sorry! Update unsuccessfully!Maybe serial communication problem", kOn, kOn},
        KeyCase{4, "Key Config File is Being Upated...", kOff, kOff}),
    [](const testing::TestParamInfo<KeyCase>& info) {
        return "Code" + std::to_string(info.param.code);
    });

TEST(KeyEventTableUnknown, CodesWithoutARowAreIgnored) {
    for (std::uint32_t code : {5u, 6u, 12u, std::numeric_limits<std::uint32_t>::max()}) {
        EXPECT_EQ(FindKeyEventRow(code), nullptr) << "code " << code;
    }
}

TEST(EventTextFormat, FileNamesGoInLiterally) {
    EXPECT_EQ(FormatFirmwareFoundText("HX900_64K.s19"),
              "Find a valid file: HX900_64K.s19\r\n1:Please click 'McuStart' button to "
              "update\r\n2:if update successfully, machine should be reboot");
    EXPECT_EQ(FormatKeyFileFoundText("a%sb%d.key"),
              "Find a valid file: a%sb%d.key\r\nPlease click 'Start' button to update");
    EXPECT_EQ(FormatKeyFileFoundText(""),
              "Find a valid file: \r\nPlease click 'Start' button to update");
}

TEST(EventTextFormat, PercentagesAreShownAsTheyCome) {
    EXPECT_EQ(FormatPercentText(0), "0 %");
    EXPECT_EQ(FormatPercentText(100), "100 %");
    EXPECT_EQ(FormatPercentText(-3), "-3 %");
    EXPECT_EQ(FormatParseProgressText(42), "Data is being inited 42 %");
}

}  // namespace
