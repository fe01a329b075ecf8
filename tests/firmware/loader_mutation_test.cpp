// Mutation test of both loaders: a few thousand random mutations (fixed seed)
// of a valid firmware file (changed bytes, cut lines, doubled and dropped
// lines, huge and tiny counts, stray 'S', truncations). Every one must end in
// a clean 0 or -1 from BeginLoad or in a correct load: family A hands out
// exactly the image that the records describe (checked against a plain model
// of the format), family B hands out only whole records cut from the file.
// Run under AddressSanitizer, a read or write outside a buffer fails it too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "firmware/line_file_loader.h"
#include "firmware/stm8_file_loader.h"
#include "mcu_link/tran_state.h"
#include "tests/firmware/firmware_test_support.h"

namespace {

using firmware_test::DataRecords;
using firmware_test::Lines;
using firmware_test::Pattern;
using firmware_test::SRecord;
using firmware_test::TagRecord;

constexpr int kMutationsPerFamily = 3000;
constexpr std::uint32_t kSeed = 20240517;

class CMutator {
public:
    explicit CMutator(std::uint32_t seed) : m_generator(seed) {}

    std::string Mutate(std::string text) {
        const int rounds = 1 + static_cast<int>(Below(3));
        for (int round = 0; round < rounds && !text.empty(); ++round) {
            MutateOnce(text);
        }
        return text;
    }

private:
    std::size_t Below(std::size_t bound) { return bound == 0 ? 0 : m_generator() % bound; }

    void MutateOnce(std::string& text) {
        static const std::string kInteresting = "S0123456789ABCDEFaf \t\r\n-+xG";
        static const char* const kCounts[] = {"FF", "80", "7F", "83", "00", "01", "02", "03", " 1"};
        const std::size_t at = Below(text.size());
        const std::size_t lineStart =
            text.rfind('\n', at) == std::string::npos ? 0 : text.rfind('\n', at) + 1;
        const std::size_t lineEnd = std::min(text.find('\n', at), text.size());
        switch (Below(8)) {
            case 0:
                text[at] = static_cast<char>(Below(256));
                break;
            case 1:
                text[at] = kInteresting[Below(kInteresting.size())];
                break;
            case 2:  // cut the rest of a line
                text.erase(at, lineEnd - at);
                break;
            case 3:  // double a line
                text.insert(lineStart, text.substr(lineStart, lineEnd + 1 - lineStart));
                break;
            case 4: {  // a huge or tiny count
                const std::size_t record = text.rfind('S', at);
                if (record != std::string::npos && record + 4 <= text.size()) {
                    text.replace(record + 2, 2, kCounts[Below(std::size(kCounts))]);
                }
                break;
            }
            case 5:
                text.resize(at);
                break;
            case 6:
                text.insert(at, {'S', static_cast<char>(Below(256))});
                break;
            default:  // drop a line
                text.erase(lineStart, lineEnd + 1 - lineStart);
                break;
        }
    }

    std::mt19937 m_generator;
};

// ---- A plain model of the family A format -----------------------------------

struct ModelImage {
    std::vector<std::uint8_t> image;
    std::string tag;
};

std::uint8_t ModelByte(const std::string& text, std::size_t at) {
    std::string digits;
    std::size_t index = 0;
    while (index < 2 && std::isspace(static_cast<unsigned char>(text[at + index]))) {
        ++index;
    }
    for (; index < 2 && std::isxdigit(static_cast<unsigned char>(text[at + index])); ++index) {
        digits += text[at + index];
    }
    return digits.empty() ? 0 : static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16));
}

std::optional<ModelImage> ModelParse(const std::string& text) {
    static const int kAddressBytes[] = {0, 2, 3, 4, 0, 2, 0};
    std::map<std::uint32_t, std::uint8_t> bytes;
    std::uint64_t extent = 0;
    std::string tag(128, '\0');
    bool anyRecord = false;
    std::size_t at = 0;
    for (;;) {
        if (at + 1 >= text.size()) {
            return std::nullopt;  // no termination record
        }
        const auto type = static_cast<unsigned char>(text[at + 1]);
        if (text[at] != 'S' || type <= '0') {
            ++at;
            continue;
        }
        if (type > '6') {
            break;
        }
        const int addressBytes = kAddressBytes[type - '0'];
        if (at + 4 > text.size()) {
            return std::nullopt;
        }
        const int count = ModelByte(text, at + 2);
        const int dataLength = count - addressBytes - 1;
        const std::size_t length = 2 * static_cast<std::size_t>(count) + 4;
        if (dataLength < 0 || dataLength >= 128 || at + length > text.size()) {
            return std::nullopt;
        }
        std::uint32_t address = 0;
        unsigned sum = static_cast<unsigned>(count);
        for (int index = 0; index < addressBytes; ++index) {
            const std::uint8_t byte = ModelByte(text, at + 4 + 2 * index);
            address = address << 8 | byte;
            sum += byte;
        }
        std::vector<std::uint8_t> data;
        for (int index = 0; index < dataLength; ++index) {
            data.push_back(ModelByte(text, at + 4 + 2 * (addressBytes + index)));
            sum += data.back();
        }
        if (ModelByte(text, at + length - 2) != static_cast<std::uint8_t>(~sum)) {
            return std::nullopt;
        }
        if (address >= 0xA000) {
            const std::uint64_t end = std::uint64_t{address} - 0xA000 + data.size();
            if (!data.empty() && end > text.size()) {
                return std::nullopt;  // outside the file-sized image
            }
            for (std::size_t index = 0; index < data.size(); ++index) {
                bytes[static_cast<std::uint32_t>(address - 0xA000 + index)] = data[index];
            }
            if (!data.empty()) {
                extent = std::max(extent, end);
            }
        } else if (address == 0x9FE0) {
            const auto first =
                std::find_if(data.begin(), data.end(), [](auto b) { return b != 0; });
            std::copy(first, data.end(), tag.begin());
        }
        anyRecord = true;
        at += length;
    }
    if (!anyRecord) {
        return std::nullopt;
    }
    ModelImage model;
    model.image.assign(static_cast<std::size_t>(extent), 0);
    for (const auto& [offset, value] : bytes) {
        if (offset < extent) {
            model.image[offset] = value;
        }
    }
    model.tag = tag.c_str();
    return model;
}

class LoaderMutationTest : public firmware_test::CFirmwareDirectoryTest {};

TEST_F(LoaderMutationTest, FamilyAEndsCleanOrLoadsExactlyTheRecords) {
    std::vector<std::string> lines = {SRecord('0', 0, "HDR"), TagRecord("STM8QD5C")};
    for (const std::string& line : DataRecords(0xA000, Pattern(700), 32)) {
        lines.push_back(line);
    }
    lines.push_back(SRecord('2', 0x00A300, Pattern(40, 9)));  // behind a gap
    lines.push_back(SRecord('5', 23, ""));
    lines.push_back(SRecord('9', 0xA000, ""));
    const std::string valid = Lines(lines);
    ASSERT_TRUE(ModelParse(valid).has_value());

    CMutator mutator(kSeed);
    int loads[3] = {0, 0, 0};  // results -1, 0, 1
    for (int round = 0; round < kMutationsPerFamily; ++round) {
        const std::string text = mutator.Mutate(valid);
        WriteFile("fw.s19", text);
        CStm8FileLoader loader([] { return std::uint8_t{0}; });
        ASSERT_NE(loader.PrepareImage(), 0);
        const int result = loader.BeginLoad();
        ASSERT_TRUE(result >= -1 && result <= 1) << result;
        ++loads[result + 1];

        const std::optional<ModelImage> model = ModelParse(text);
        if (!model) {
            ASSERT_EQ(result, 0) << "round " << round << " loaded a malformed file";
            continue;
        }
        const bool tagged = model->tag.find("STM8QD5C") != std::string::npos;
        ASSERT_EQ(result, tagged ? 1 : -1) << "round " << round;
        if (result != 1) {
            continue;
        }
        loader.Rewind();
        std::vector<std::uint8_t> image;
        std::uint8_t block[128];
        while (std::uint32_t count = loader.NextBlock(block, sizeof block)) {
            ASSERT_LE(count, sizeof block);
            image.insert(image.end(), block, block + count);
        }
        ASSERT_TRUE(image == model->image) << "round " << round << ": the image differs";
    }
    // The mutations reach every outcome.
    EXPECT_GT(loads[0], 0);
    EXPECT_GT(loads[1], kMutationsPerFamily / 4);
    EXPECT_GT(loads[2], 50);
}

TEST_F(LoaderMutationTest, FamilyBEndsCleanOrHandsOutWholeRecordsOfTheFile) {
    std::vector<std::string> lines = {SRecord('0', 0, "HDR")};
    for (const std::string& line : DataRecords(0x8000, Pattern(600), 32)) {
        lines.push_back(line);
    }
    lines.push_back(SRecord('9', 0x8000, ""));
    const std::string valid = Lines(lines);

    CMutator mutator(kSeed + 1);
    int loads[3] = {0, 0, 0};
    for (int round = 0; round < kMutationsPerFamily; ++round) {
        const std::string text = mutator.Mutate(valid);
        WriteFile("fw.s19", text);
        CLineFileLoader loader;
        ASSERT_NE(loader.PrepareImage(), 0);
        const int result = loader.BeginLoad();
        ASSERT_TRUE(result >= -1 && result <= 1) << result;
        ++loads[result + 1];
        if (result != 1) {
            continue;
        }
        loader.Rewind();
        loader.SetState(eTranState_Data);
        std::uint8_t block[128];
        std::string last;
        while (std::uint32_t count = loader.NextBlock(block, sizeof block)) {
            ASSERT_LE(count, sizeof block);
            const std::string piece(reinterpret_cast<const char*>(block), count);
            // The piece is the file's own text just before the read position.
            const std::uint32_t end = loader.DoneCount();
            ASSERT_LE(count, end);
            ASSERT_EQ(piece, text.substr(end - count, count)) << "round " << round;
            ASSERT_EQ(piece[0], 'S');
            last = piece;
        }
        EXPECT_EQ(loader.GetState(), eTranState_End);
        EXPECT_EQ(loader.DoneCount(), text.size());
        ASSERT_GE(last.size(), 2u);
        EXPECT_TRUE(last[1] >= '7' && last[1] <= '9') << "round " << round << ": " << last;
    }
    EXPECT_GT(loads[1], kMutationsPerFamily / 4);
    EXPECT_GT(loads[2], 50);
}

}  // namespace
