#include "firmware/update_flag.h"

#include <array>

#include "firmware/record_file_store.h"
#include "platform/files.h"

namespace {

constexpr std::uint32_t kFormatWord = 0;
constexpr std::uint32_t kFlagDataBytes = 1;

}  // namespace

std::string GetUpdateFlagPath() {
    return platform::GetModuleDirectory() + kUpdateFlagFileName;
}

int ReadUpdateFlag(std::uint8_t& flag) {
    RecordFileHeader header;
    InitRecordHeader(header, kUpdateFlagTag, 0, kUpdateFlagVersion, kFormatWord);
    std::array<std::uint8_t, kUpdateFlagCapacity> data{};
    const int result = ReadRecordFile(GetUpdateFlagPath(), header, kUpdateFlagTag,
                                      kUpdateFlagVersion, data.data(), kUpdateFlagCapacity);
    if (result == 0) {
        flag = data[0];
    }
    return result;
}

int WriteUpdateFlag(std::uint8_t value) {
    RecordFileHeader header;
    InitRecordHeader(header, kUpdateFlagTag, kFlagDataBytes, kUpdateFlagVersion, kFormatWord);
    return WriteRecordFile(GetUpdateFlagPath(), header, &value);
}
