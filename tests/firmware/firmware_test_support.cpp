#include "tests/firmware/firmware_test_support.h"

#include <algorithm>
#include <cstdio>

#include "firmware/mcu_file_frame.h"
#include "firmware/record_file_store.h"
#include "platform/debug_output.h"
#include "platform/files.h"

namespace firmware_test {

namespace {

int AddressBytes(char type) {
    switch (type) {
        case '2':
        case '8':
            return 3;
        case '3':
        case '7':
            return 4;
        case '4':
        case '6':
            return 0;
        default:
            return 2;
    }
}

}  // namespace

std::string SRecord(char type, std::uint32_t address, const std::vector<std::uint8_t>& data) {
    const int addressBytes = AddressBytes(type);
    std::vector<std::uint8_t> bytes;
    bytes.push_back(static_cast<std::uint8_t>(addressBytes + data.size() + 1));
    for (int index = addressBytes - 1; index >= 0; --index) {
        bytes.push_back(static_cast<std::uint8_t>(address >> (8 * index)));
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (std::uint8_t byte : bytes) {
        sum += byte;
    }
    bytes.push_back(static_cast<std::uint8_t>(~sum));
    std::string line = {'S', type};
    char pair[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", byte);
        line += pair;
    }
    return line;
}

std::string SRecord(char type, std::uint32_t address, std::string_view data) {
    return SRecord(type, address, std::vector<std::uint8_t>(data.begin(), data.end()));
}

std::string TagRecord(std::string_view tag) {
    // Three zero bytes, then the tag. Built by reserve and push_back: GCC 12
    // at -O2 takes an insert into the three-byte vector for an overflow.
    std::vector<std::uint8_t> data;
    data.reserve(3 + tag.size());
    data.assign(3, 0);
    for (const char character : tag) {
        data.push_back(static_cast<std::uint8_t>(character));
    }
    return SRecord('1', CMcuFileFrame::kPlatformTagAddress, data);
}

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t index = 0; index < size; ++index) {
        data[index] = static_cast<std::uint8_t>((index + seed) % 251 + 1);
    }
    return data;
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

std::vector<std::string> DataRecords(std::uint32_t address, const std::vector<std::uint8_t>& data,
                                     std::size_t chunk, char type) {
    std::vector<std::string> lines;
    for (std::size_t offset = 0; offset < data.size(); offset += chunk) {
        const std::size_t end = std::min(data.size(), offset + chunk);
        lines.push_back(SRecord(type, address + static_cast<std::uint32_t>(offset),
                                std::vector<std::uint8_t>(data.begin() + static_cast<long>(offset),
                                                          data.begin() + static_cast<long>(end))));
    }
    return lines;
}

void CFirmwareDirectoryTest::SetUp() {
    ASSERT_FALSE(m_directory.Path().empty());
    platform::SetModuleFileNameForTesting(m_directory / "Kestrovan");
    platform::SetDebugHook([this](std::string_view text) { m_debugText += text; });
    CMcuFileFrame::ResetParseProgressForTesting();
    ResetAppConfigDirForTesting();
}

void CFirmwareDirectoryTest::TearDown() {
    platform::SetDebugHook({});
    platform::SetModuleFileNameForTesting("");
    ResetAppConfigDirForTesting();
}

std::string CFirmwareDirectoryTest::WriteFile(std::string_view name,
                                              std::string_view contents) const {
    return m_directory.WriteFile(name, contents);
}

int CFirmwareDirectoryTest::CountInDebug(std::string_view text) const {
    int count = 0;
    for (std::size_t at = m_debugText.find(text); at != std::string::npos;
         at = m_debugText.find(text, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace firmware_test
