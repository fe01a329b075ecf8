// Reading registry values from the export file and from bytes in memory.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "tests/support/scoped_sysroot.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::string_view kOsKey = "SoftWare\\Tovren\\Os";
constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
constexpr std::string_view kOsKeyLine = "[HKEY_LOCAL_MACHINE\\SoftWare\\Tovren\\Os]\r\n";
constexpr std::uint8_t kUntouched = 0xAA;  // fills buffers that a failed read must not change
constexpr std::uint32_t kLargeLimitBytes = 4096;

// The unit of the platform documentation's example.
constexpr std::string_view kExampleBody =
    "[HKEY_LOCAL_MACHINE\\SoftWare\\Tovren\\Os]\r\n"
    "\"CPU_TYPE\"=\"MSTAR2521\"\r\n"
    "\"PROJECTTYPE\"=dword:00000013\r\n"
    "\"HW_VERSION\"=\"V2.0\"\r\n";

// What a text value is stored as: UTF-16LE and a 16-bit zero.
Bytes Stored(std::u16string_view text) {
    Bytes bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

Bytes Utf16LeWithBom(std::string_view ascii) {
    Bytes bytes = {0xFF, 0xFE};
    for (char c : ascii) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

struct QueryResult {
    bool found = false;
    Bytes bytes;             // the buffer after the call, cut to the reported size on success
    std::uint32_t size = 0;  // *size after the call
    std::uint32_t error = 0;
};

QueryResult QueryExport(std::string_view exportText, std::string_view valueName,
                        std::uint32_t limit = kLargeLimitBytes, std::string_view keyPath = kOsKey,
                        std::string_view hive = platform::kHkeyLocalMachine) {
    QueryResult result;
    result.bytes.assign(limit, kUntouched);
    result.size = limit;
    platform::SetLastError(0);
    result.found = platform::RegistryQueryValueInExport(
        reinterpret_cast<const std::uint8_t*>(exportText.data()), exportText.size(), hive, keyPath,
        valueName, result.bytes.data(), &result.size);
    result.error = platform::GetLastError();
    if (result.found) {
        result.bytes.resize(result.size);
    }
    return result;
}

QueryResult QueryFile(std::string_view valueName, std::uint32_t limit = kLargeLimitBytes,
                      std::string_view keyPath = kOsKey,
                      std::string_view hive = platform::kHkeyLocalMachine) {
    QueryResult result;
    result.bytes.assign(limit, kUntouched);
    result.size = limit;
    platform::SetLastError(0);
    result.found =
        platform::RegistryQueryValue(hive, keyPath, valueName, result.bytes.data(), &result.size);
    result.error = platform::GetLastError();
    if (result.found) {
        result.bytes.resize(result.size);
    }
    return result;
}

void ExpectUntouchedFailure(const QueryResult& result, std::uint32_t limit, std::uint32_t error) {
    EXPECT_FALSE(result.found);
    EXPECT_EQ(result.size, limit);
    EXPECT_EQ(result.bytes, Bytes(limit, kUntouched));
    EXPECT_EQ(result.error, error);
}

// --- The file below the system root -----------------------------------------

TEST(RegistryFile, ReadsTheDocumentedExample) {
    testing_support::CScopedSysroot root;
    root.WriteRegistry(kExampleBody);

    const QueryResult cpu = QueryFile("CPU_TYPE", 520);
    ASSERT_TRUE(cpu.found);
    EXPECT_EQ(cpu.bytes, Stored(u"MSTAR2521"));
    EXPECT_EQ(cpu.size, 20u);

    const QueryResult project = QueryFile("PROJECTTYPE", 4);
    ASSERT_TRUE(project.found);
    EXPECT_EQ(project.bytes, (Bytes{0x13, 0x00, 0x00, 0x00}));

    const QueryResult hardware = QueryFile("HW_VERSION", 16);
    ASSERT_TRUE(hardware.found);
    EXPECT_EQ(hardware.bytes, Stored(u"V2.0"));
}

TEST(RegistryFile, ValueLargerThanTheLimitFailsAndLeavesTheBufferAlone) {
    testing_support::CScopedSysroot root;
    root.WriteRegistry(
        "[HKEY_LOCAL_MACHINE\\SoftWare\\Tovren\\Os]\r\n"
        "\"HW_VERSION\"=\"V1.23456\"\r\n"  // 8 characters and the zero: 18 bytes
        "\"SIXTEEN\"=\"V1.2345\"\r\n");    // 7 characters and the zero: 16 bytes

    ExpectUntouchedFailure(QueryFile("HW_VERSION", 16), 16, ERANGE);
    const QueryResult fits = QueryFile("HW_VERSION", 18);
    ASSERT_TRUE(fits.found);
    EXPECT_EQ(fits.bytes, Stored(u"V1.23456"));

    const QueryResult exact = QueryFile("SIXTEEN", 16);
    ASSERT_TRUE(exact.found);
    EXPECT_EQ(exact.size, 16u);
}

TEST(RegistryFile, DwordNeedsFourBytes) {
    testing_support::CScopedSysroot root;
    root.WriteRegistry(kExampleBody);
    ExpectUntouchedFailure(QueryFile("PROJECTTYPE", 3), 3, ERANGE);
}

TEST(RegistryFile, MissingFileKeyOrValueFails) {
    testing_support::CScopedSysroot root;
    ExpectUntouchedFailure(QueryFile("CPU_TYPE", 520), 520, ENOENT);

    root.WriteRegistry(kExampleBody);
    ExpectUntouchedFailure(QueryFile("CPU_TYPE", 520, "SoftWare\\Tovren"), 520, ENOENT);
    ExpectUntouchedFailure(QueryFile("CPU_TYPE", 520, "SoftWare\\Tovren\\Os\\Sub"), 520, ENOENT);
    ExpectUntouchedFailure(QueryFile("CPU_TYPE", 520, kOsKey, "HKEY_CURRENT_USER"), 520, ENOENT);
    ExpectUntouchedFailure(QueryFile("CPU", 520), 520, ENOENT);
}

TEST(RegistryFile, RegistryPathIsADirectory) {
    testing_support::CScopedSysroot root;
    root.Directory().MakeDirectories("etc/registry.reg");
    ExpectUntouchedFailure(QueryFile("CPU_TYPE", 520), 520, EISDIR);
}

TEST(RegistryFile, Utf16LeFileWithByteOrderMark) {
    testing_support::CScopedSysroot root;
    root.Directory().WriteFile("etc/registry.reg",
                               Utf16LeWithBom(std::string(kHeader) + std::string(kExampleBody)));

    EXPECT_EQ(QueryFile("CPU_TYPE").bytes, Stored(u"MSTAR2521"));
    EXPECT_EQ(QueryFile("PROJECTTYPE").bytes, (Bytes{0x13, 0x00, 0x00, 0x00}));
    EXPECT_EQ(QueryFile("HW_VERSION").bytes, Stored(u"V2.0"));
    ExpectUntouchedFailure(QueryFile("HW_VERSION", 9), 9, ERANGE);
}

TEST(RegistryFile, Utf8FileWithByteOrderMark) {
    testing_support::CScopedSysroot root;
    root.Directory().WriteFile("etc/registry.reg",
                               "\xEF\xBB\xBF" + std::string(kHeader) + std::string(kExampleBody));
    EXPECT_EQ(QueryFile("CPU_TYPE").bytes, Stored(u"MSTAR2521"));
    EXPECT_EQ(QueryFile("PROJECTTYPE").bytes, (Bytes{0x13, 0x00, 0x00, 0x00}));
}

TEST(RegistryFile, RootIsReadAtEveryCall) {
    testing_support::CScopedSysroot first;
    first.WriteUnitRegistry("S5P6450", 20);
    EXPECT_EQ(QueryFile("CPU_TYPE").bytes, Stored(u"S5P6450"));
    {
        testing_support::CScopedSysroot second;
        second.WriteUnitRegistry("MSTAR786", 18);
        EXPECT_EQ(QueryFile("CPU_TYPE").bytes, Stored(u"MSTAR786"));
    }
    EXPECT_EQ(QueryFile("CPU_TYPE").bytes, Stored(u"S5P6450"));
}

// --- Names ------------------------------------------------------------------

struct NameCase {
    std::string_view hive;
    std::string_view keyPath;
    std::string_view valueName;
};

void PrintTo(const NameCase& name, std::ostream* out) {
    *out << name.hive << '\\' << name.keyPath << " : " << name.valueName;
}

class RegistryNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(RegistryNames, CompareWithoutLetterCase) {
    const NameCase& name = GetParam();
    const std::string text = std::string(kHeader) + std::string(kExampleBody);
    const QueryResult result =
        QueryExport(text, name.valueName, kLargeLimitBytes, name.keyPath, name.hive);
    ASSERT_TRUE(result.found);
    EXPECT_EQ(result.bytes, Stored(u"MSTAR2521"));
}

INSTANTIATE_TEST_SUITE_P(
    Variants, RegistryNames,
    ::testing::Values(NameCase{"HKEY_LOCAL_MACHINE", "SoftWare\\Tovren\\Os", "CPU_TYPE"},
                      NameCase{"hkey_local_machine", "software\\tovren\\os", "cpu_type"},
                      NameCase{"HKEY_LOCAL_MACHINE", "SOFTWARE\\TOVREN\\OS", "Cpu_Type"},
                      NameCase{"Hkey_Local_Machine", "SoftWare\\Tovren\\Os\\", "cPU_tYPE"}));

TEST(RegistryNamesAreWhole, PrefixesAndLongerNamesDoNotMatch) {
    const std::string text = std::string(kHeader) + std::string(kExampleBody);
    for (std::string_view name : {"CPU_TYP", "CPU_TYPE_", "CPU_TYPE ", "", "PROJECT"}) {
        EXPECT_FALSE(QueryExport(text, name).found) << name;
    }
}

// --- Value forms ------------------------------------------------------------

struct ValueCase {
    const char* label;
    std::string_view lines;  // below the key line; the value asked for is "V"
    Bytes expected;
};

void PrintTo(const ValueCase& value, std::ostream* out) {
    *out << value.label;
}

class RegistryValueForms : public ::testing::TestWithParam<ValueCase> {};

TEST_P(RegistryValueForms, StoredBytes) {
    const ValueCase& value = GetParam();
    const std::string text =
        std::string(kHeader) + std::string(kOsKeyLine) + std::string(value.lines);
    const QueryResult result = QueryExport(text, "V");
    ASSERT_TRUE(result.found) << value.label;
    EXPECT_EQ(result.bytes, value.expected) << value.label;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegistryValueForms,
    ::testing::Values(
        ValueCase{"text", "\"V\"=\"ab\"", Stored(u"ab")},
        ValueCase{"empty text", "\"V\"=\"\"", Stored(u"")},
        ValueCase{"escaped quote and backslash", "\"V\"=\"C:\\\\x\\\"y\\\"\"",
                  Stored(u"C:\\x\"y\"")},
        ValueCase{"other backslashes stay", "\"V\"=\"a\\nb\"", Stored(u"a\\nb")},
        ValueCase{"text with UTF-8", "\"V\"=\"Gr\xC3\xBC\xC3\x9F\x65\"",
                  Stored(u"Gr\u00FC\u00DFe")},
        ValueCase{"character beyond 16 bits", "\"V\"=\"\xF0\x9F\x98\x80\"", Stored(u"\U0001F600")},
        ValueCase{"invalid UTF-8 byte", "\"V\"=\"a\xFF\x62\"", Stored(u"a\uFFFDb")},
        ValueCase{"overlong UTF-8 form", "\"V\"=\"\xC0\xAF\"", Stored(u"\uFFFD\uFFFD")},
        ValueCase{"dword", "\"V\"=dword:12345678", Bytes{0x78, 0x56, 0x34, 0x12}},
        ValueCase{"dword upper case", "\"V\"=DWORD:0000ABcd", Bytes{0xCD, 0xAB, 0x00, 0x00}},
        ValueCase{"dword short", "\"V\"=dword:7", Bytes{0x07, 0x00, 0x00, 0x00}},
        ValueCase{"hex", "\"V\"=hex:41,00,42,00", Bytes{0x41, 0x00, 0x42, 0x00}},
        ValueCase{"hex empty", "\"V\"=hex:", Bytes{}},
        ValueCase{"hex spaced", "\"V\" = hex: 41 , 0 ,ff", Bytes{0x41, 0x00, 0xFF}},
        ValueCase{"hex continued", "\"V\"=hex:01,02,\\\r\n  03,04,\\\r\n  05\r\n",
                  Bytes{1, 2, 3, 4, 5}},
        ValueCase{"hex continued at the end of the file", "\"V\"=hex:01,02,\\", Bytes{1, 2}},
        ValueCase{"typed hex", "\"V\"=hex(2):25,00,00,00", Bytes{0x25, 0, 0, 0}},
        ValueCase{"typed hex continued", "\"V\"=hex(7):61,00,\\\n 00,00", Bytes{0x61, 0, 0, 0}},
        ValueCase{"later line wins", "\"V\"=dword:1\r\n\"V\"=dword:2", Bytes{2, 0, 0, 0}},
        ValueCase{"name with escaped quote is another name", "\"V\\\"\"=dword:1\r\n\"V\"=dword:3",
                  Bytes{3, 0, 0, 0}},
        ValueCase{"LF line ends and blanks", "  \"V\"\t=\t\"x\"  \n", Stored(u"x")}));

TEST(RegistryValueForms, DefaultValueIsTheEmptyName) {
    const std::string text = std::string(kHeader) + std::string(kOsKeyLine) + "@=\"default\"\r\n";
    EXPECT_EQ(QueryExport(text, "").bytes, Stored(u"default"));
}

TEST(RegistryValueForms, KeyAppearingTwiceKeepsBothParts) {
    const std::string text = std::string(kHeader) + std::string(kOsKeyLine) +
                             "\"A\"=dword:1\r\n[HKEY_LOCAL_MACHINE\\Other]\r\n\"B\"=dword:9\r\n" +
                             std::string(kOsKeyLine) + "\"B\"=dword:2\r\n";
    EXPECT_EQ(QueryExport(text, "A").bytes, (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(QueryExport(text, "B").bytes, (Bytes{2, 0, 0, 0}));
}

TEST(RegistryValueForms, DeletionsRemoveWhatCameBefore) {
    const std::string text =
        std::string(kHeader) + std::string(kOsKeyLine) +
        "\"A\"=dword:1\r\n\"B\"=dword:2\r\n\"A\"=-\r\n"
        "[-HKEY_LOCAL_MACHINE\\SoftWare\\Tovren]\r\n"  // an ancestor of the key
        "[HKEY_LOCAL_MACHINE\\SoftWare\\Tovren\\Os]\r\n\"C\"=dword:3\r\n"
        "[-HKEY_LOCAL_MACHINE\\SoftWare\\Tov]\r\n";  // not an ancestor: a shorter name
    EXPECT_FALSE(QueryExport(text, "A").found);
    EXPECT_FALSE(QueryExport(text, "B").found);
    EXPECT_EQ(QueryExport(text, "C").bytes, (Bytes{3, 0, 0, 0}));
}

TEST(RegistryValueForms, NullArgumentsFail) {
    std::uint8_t buffer[4] = {};
    std::uint32_t size = sizeof buffer;
    const std::string text = std::string(kHeader) + std::string(kExampleBody);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    EXPECT_FALSE(platform::RegistryQueryValueInExport(bytes, text.size(), "HKEY_LOCAL_MACHINE",
                                                      kOsKey, "PROJECTTYPE", nullptr, &size));
    EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(EINVAL));
    EXPECT_FALSE(platform::RegistryQueryValueInExport(bytes, text.size(), "HKEY_LOCAL_MACHINE",
                                                      kOsKey, "PROJECTTYPE", buffer, nullptr));
    EXPECT_FALSE(platform::RegistryQueryValueInExport(nullptr, 0, "HKEY_LOCAL_MACHINE", kOsKey,
                                                      "PROJECTTYPE", buffer, &size));
    EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(ENOENT));
}

// --- Malformed input --------------------------------------------------------

struct MalformedCase {
    const char* label;
    std::string lines;  // placed between good values; must not define "BAD"
};

void PrintTo(const MalformedCase& bad, std::ostream* out) {
    *out << bad.label;
}

class RegistryMalformedLines : public ::testing::TestWithParam<MalformedCase> {};

// The good values before and after a broken line still read, and the broken
// line defines nothing.
TEST_P(RegistryMalformedLines, AreSkipped) {
    const MalformedCase& bad = GetParam();
    const std::string text = std::string(kHeader) + std::string(kOsKeyLine) +
                             "\"BEFORE\"=dword:00000001\r\n" + bad.lines +
                             "\r\n\"AFTER\"=\"ok\"\r\n";
    EXPECT_EQ(QueryExport(text, "BEFORE").bytes, (Bytes{1, 0, 0, 0})) << bad.label;
    EXPECT_EQ(QueryExport(text, "AFTER").bytes, Stored(u"ok")) << bad.label;
    EXPECT_FALSE(QueryExport(text, "BAD").found) << bad.label;
}

std::string LongLine(std::size_t length, char fill) {
    return std::string(length, fill);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegistryMalformedLines,
    ::testing::Values(MalformedCase{"unterminated text", "\"BAD\"=\"abc"},
                      MalformedCase{"unterminated name", "\"BAD=dword:1"},
                      MalformedCase{"escaped closing quote", "\"BAD\"=\"abc\\\""},
                      MalformedCase{"text with trailing garbage", "\"BAD\"=\"abc\" x"},
                      MalformedCase{"name without data", "\"BAD\""},
                      MalformedCase{"name and equals only", "\"BAD\"="},
                      MalformedCase{"unknown type", "\"BAD\"=word:1"},
                      MalformedCase{"bad hex digit", "\"BAD\"=hex:4g,00"},
                      MalformedCase{"three hex digits", "\"BAD\"=hex:123"},
                      MalformedCase{"empty hex item", "\"BAD\"=hex:41,,42"},
                      MalformedCase{"hex without colon", "\"BAD\"=hex 41"},
                      MalformedCase{"typed hex without bracket", "\"BAD\"=hex(2:41"},
                      MalformedCase{"typed hex with bad type", "\"BAD\"=hex(zz):41"},
                      MalformedCase{"dword too long", "\"BAD\"=dword:000000001"},
                      MalformedCase{"dword empty", "\"BAD\"=dword:"},
                      MalformedCase{"dword not hex", "\"BAD\"=dword:0000001x"},
                      MalformedCase{"dword negative", "\"BAD\"=dword:-1"},
                      MalformedCase{"garbage", "#$%^&*()=\"BAD\""},
                      MalformedCase{"lone quote", "\""}, MalformedCase{"lone at sign", "@"},
                      MalformedCase{"NUL bytes in a name", std::string("\"BA\0D\"=dword:5", 14)},
                      MalformedCase{"NUL bytes in a line",
                                    std::string("\0\0\"BAD\"=dword:5\0", 17)},
                      MalformedCase{"NUL in a hex list", std::string("\"BAD\"=hex:41,\0", 14)},
                      MalformedCase{"very long garbage line", LongLine(1 << 20, 'x')},
                      MalformedCase{"very long unterminated name", "\"" + LongLine(1 << 20, 'B')},
                      MalformedCase{"very long hex item", "\"BAD\"=hex:" + LongLine(1 << 20, '4')},
                      MalformedCase{"comment", "; \"BAD\"=dword:5"}));

TEST(RegistryMalformedKeys, KeyLineWithoutBracketEndsThePreviousKey) {
    const std::string text = std::string(kHeader) + std::string(kOsKeyLine) +
                             "\"BEFORE\"=dword:1\r\n"
                             "[HKEY_LOCAL_MACHINE\\Elsewhere\r\n"
                             "\"STRAY\"=dword:2\r\n"  // belongs to no key
                             "[HKEY_LOCAL_MACHINE\\SoftWare\\Tovren\\Os\r\n"
                             "\"STRAY2\"=dword:3\r\n" +
                             std::string(kOsKeyLine) + "\"AFTER\"=dword:4\r\n";
    EXPECT_EQ(QueryExport(text, "BEFORE").bytes, (Bytes{1, 0, 0, 0}));
    EXPECT_FALSE(QueryExport(text, "STRAY").found);
    EXPECT_FALSE(QueryExport(text, "STRAY2").found);
    EXPECT_EQ(QueryExport(text, "AFTER").bytes, (Bytes{4, 0, 0, 0}));
}

TEST(RegistryMalformedKeys, EmptyAndOddKeyLines) {
    for (std::string_view line :
         {"[", "[]", "[-]", "[\\]", "[HKEY_LOCAL_MACHINE]", "[[[]]]", "[\"V\"=dword:1]"}) {
        const std::string text = std::string(kHeader) + std::string(line) +
                                 "\r\n\"V\"=dword:1\r\n" + std::string(kOsKeyLine) +
                                 "\"W\"=dword:2\r\n";
        EXPECT_FALSE(QueryExport(text, "V").found) << line;
        EXPECT_EQ(QueryExport(text, "W").bytes, (Bytes{2, 0, 0, 0})) << line;
    }
}

TEST(RegistryMalformedInput, ManyContinuationLinesStayLinear) {
    // 200000 continuation lines of one hex value: joined, not re-scanned.
    constexpr int kLines = 200000;
    std::string text = std::string(kHeader) + std::string(kOsKeyLine) + "\"V\"=hex:";
    for (int i = 0; i < kLines; ++i) {
        text += "  01,\\\r\n";
    }
    text += "  02\r\n";
    const QueryResult result = QueryExport(text, "V", kLines + 1);
    ASSERT_TRUE(result.found);
    ASSERT_EQ(result.bytes.size(), static_cast<std::size_t>(kLines + 1));
    EXPECT_EQ(result.bytes.back(), 0x02);
}

TEST(RegistryMalformedInput, OddLengthAndSurrogatesInUtf16) {
    Bytes file = Utf16LeWithBom(std::string(kHeader) + std::string(kOsKeyLine) + "\"V\"=\"");
    // A pair for U+1F600, then a lone high surrogate, then a lone low one.
    for (std::uint8_t byte : {0x3D, 0xD8, 0x00, 0xDE, 0x3D, 0xD8, 0x41, 0x00, 0x00, 0xDC}) {
        file.push_back(byte);
    }
    const Bytes rest = Utf16LeWithBom("\"\r\n");
    file.insert(file.end(), rest.begin() + 2, rest.end());
    file.push_back(0x41);  // an odd byte at the end
    const QueryResult result =
        QueryExport(std::string_view(reinterpret_cast<const char*>(file.data()), file.size()), "V");
    ASSERT_TRUE(result.found);
    EXPECT_EQ(result.bytes, Stored(u"\U0001F600\uFFFDA\uFFFD"));
}

// A file of random bytes never crashes the reader, alone or around good lines.
TEST(RegistryMalformedInput, RandomBytes) {
    std::mt19937 generator(20240611);  // fixed seed: the same bytes every run
    std::uniform_int_distribution<int> byteValue(0, 255);
    for (int round = 0; round < 50; ++round) {
        std::string noise(4096, '\0');
        for (char& c : noise) {
            c = static_cast<char>(byteValue(generator));
        }
        EXPECT_FALSE(QueryExport(noise, "CPU_TYPE").found);
        const std::string utf16 = "\xFF\xFE" + noise;
        EXPECT_FALSE(QueryExport(utf16, "CPU_TYPE").found);

        const std::string mixed = noise + "\r\n" + std::string(kExampleBody) + noise;
        EXPECT_EQ(QueryExport(mixed, "CPU_TYPE").bytes, Stored(u"MSTAR2521")) << round;
    }
}

TEST(RegistryMalformedInput, RandomFileBelowTheRoot) {
    testing_support::CScopedSysroot root;
    std::mt19937 generator(7);
    std::uniform_int_distribution<int> byteValue(0, 255);
    std::string noise(65536, '\0');
    for (char& c : noise) {
        c = static_cast<char>(byteValue(generator));
    }
    root.Directory().WriteFile("etc/registry.reg", noise);
    ExpectUntouchedFailure(QueryFile("CPU_TYPE", 520), 520, ENOENT);
}

}  // namespace
