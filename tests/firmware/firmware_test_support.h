// Helpers of the firmware tests: S-record lines with correct checksums, and a
// fixture that points "the executable" at a scratch directory and captures
// the debug lines.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/scratch_directory.h"

namespace firmware_test {

// One S-record line (no line end) of the given type ('0'..'9') with a correct
// count and checksum; the address takes the type's width.
std::string SRecord(char type, std::uint32_t address, const std::vector<std::uint8_t>& data);
std::string SRecord(char type, std::uint32_t address, std::string_view data);
// The tag record "S1 at 0x9FE0": three 0x00 bytes, then the tag's characters.
std::string TagRecord(std::string_view tag);
// size bytes of 0, 1, 2, ... (mod 251): recognisable, never all zero.
std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed = 1);
// Lines joined with "\r\n" after each.
std::string Lines(const std::vector<std::string>& lines);
// S1 records of `chunk` bytes covering data from address on.
std::vector<std::string> DataRecords(std::uint32_t address, const std::vector<std::uint8_t>& data,
                                     std::size_t chunk = 16, char type = '1');

// Every test gets a fresh directory that the platform layer takes for the
// executable's own, and a record of the debug lines written.
class CFirmwareDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a file into the executable's directory.
    std::string WriteFile(std::string_view name, std::string_view contents) const;
    const std::string& Directory() const { return m_directory.Path(); }
    // The captured debug text.
    std::string DebugText() const { return m_debugText; }
    int CountInDebug(std::string_view text) const;

private:
    testing_support::CScratchDirectory m_directory;
    std::string m_debugText;
};

}  // namespace firmware_test
