// The update flag reader (and the record file reader under it) over a random
// file. Its verdict is compared with the layout the store documents: a flag
// is read exactly when the header carries the flag's tag and version, a CRC
// other than 0, a data length of 1 to 256 that the file holds, and that data
// matches the CRC; the flag is then the first data byte and is otherwise left
// alone.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "firmware/crc32.h"
#include "firmware/record_file_store.h"
#include "firmware/update_flag.h"
#include "fuzz/input_file.h"

namespace {

using fuzz_support::Check;

// Header offsets of a record file.
constexpr std::size_t kDataLengthOffset = 132;
constexpr std::size_t kVersionOffset = 136;
constexpr std::size_t kTagOffset = 160;
constexpr std::size_t kCrcOffset = 224;
constexpr std::uint8_t kUntouchedFlag = 0xA5;
constexpr std::uint32_t kWideCapacity = 4096;  // a reader that is not the flag's

std::uint32_t GetUint32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The record's data as the store should accept it under the given checks;
// false when the file is not such a record.
bool ExpectRecord(const std::uint8_t* data, std::size_t size, bool checkTagAndVersion,
                  std::uint32_t capacity) {
    if (size < kRecordHeaderBytes) {
        return false;
    }
    if (checkTagAndVersion) {
        const auto* tag = reinterpret_cast<const char*>(data + kTagOffset);
        if (std::string_view(tag, strnlen(tag, kRecordTagBytes)) != kUpdateFlagTag) {
            return false;
        }
        std::u16string version;
        for (std::size_t unit = 0; unit < kRecordVersionUnits; ++unit) {
            const auto code = static_cast<char16_t>(data[kVersionOffset + 2 * unit] |
                                                    data[kVersionOffset + 2 * unit + 1] << 8);
            if (code == 0) {
                break;
            }
            version += code;
        }
        if (version != kUpdateFlagVersion) {
            return false;
        }
    }
    const std::uint32_t crc = GetUint32(data + kCrcOffset);
    const std::uint32_t dataLength = GetUint32(data + kDataLengthOffset);
    if (crc == 0 || dataLength == 0 || dataLength > capacity ||
        dataLength > size - kRecordHeaderBytes) {
        return false;
    }
    return Crc32Update(data + kRecordHeaderBytes, dataLength, 0) == crc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz_support::WriteInputFile(kUpdateFlagFileName, data, size);

    std::uint8_t flag = kUntouchedFlag;
    const int result = ReadUpdateFlag(flag);
    const bool expected = ExpectRecord(data, size, true, kUpdateFlagCapacity);
    Check(result == (expected ? 0 : -1), "ReadUpdateFlag accepts exactly the good flag files");
    Check(expected ? flag == data[kRecordHeaderBytes] : flag == kUntouchedFlag,
          "the flag is the first data byte, or untouched");

    // The general reader with no tag or version check and a larger capacity.
    RecordFileHeader header;
    static std::array<std::uint8_t, kWideCapacity> wide;
    const int wideResult =
        ReadRecordFile(path, header, nullptr, nullptr, wide.data(), kWideCapacity);
    const bool wideExpected = ExpectRecord(data, size, false, kWideCapacity);
    Check(wideResult == (wideExpected ? 0 : -1), "ReadRecordFile accepts exactly the good records");
    if (wideExpected) {
        Check(header.dataLength == GetUint32(data + kDataLengthOffset) &&
                  std::memcmp(wide.data(), data + kRecordHeaderBytes, header.dataLength) == 0,
              "the data read is the file's");
    }
    return 0;
}
