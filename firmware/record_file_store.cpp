#include "firmware/record_file_store.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "firmware/crc32.h"
#include "platform/debug_output.h"
#include "platform/files.h"

namespace {

// Byte offsets of the header fields in the file.
constexpr std::size_t kFormatOffset = 0;
constexpr std::size_t kReservedOffset = 4;
constexpr std::size_t kDataLengthOffset = 132;
constexpr std::size_t kVersionOffset = 136;
constexpr std::size_t kTagOffset = 160;
constexpr std::size_t kCrcOffset = 224;
constexpr const char* kAppConfigDirName = "AppConfig/";

using HeaderBytes = std::array<std::uint8_t, kRecordHeaderBytes>;

// The AppConfig directory, once found or made (one thread at a time).
std::string g_appConfigDir;

void PutUint32(std::uint8_t* bytes, std::uint32_t value) {
    for (int index = 0; index < 4; ++index) {
        bytes[index] = static_cast<std::uint8_t>(value >> (8 * index));
    }
}

std::uint32_t GetUint32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

HeaderBytes SerializeHeader(const RecordFileHeader& header) {
    HeaderBytes bytes{};
    PutUint32(&bytes[kFormatOffset], header.format);
    std::memcpy(&bytes[kReservedOffset], header.reserved, kRecordReservedBytes);
    PutUint32(&bytes[kDataLengthOffset], header.dataLength);
    for (std::size_t index = 0; index < kRecordVersionUnits; ++index) {
        bytes[kVersionOffset + 2 * index] = static_cast<std::uint8_t>(header.version[index]);
        bytes[kVersionOffset + 2 * index + 1] =
            static_cast<std::uint8_t>(header.version[index] >> 8);
    }
    std::memcpy(&bytes[kTagOffset], header.tag, kRecordTagBytes);
    PutUint32(&bytes[kCrcOffset], header.crc);
    return bytes;
}

void DeserializeHeader(const HeaderBytes& bytes, RecordFileHeader& header) {
    header.format = GetUint32(&bytes[kFormatOffset]);
    std::memcpy(header.reserved, &bytes[kReservedOffset], kRecordReservedBytes);
    header.dataLength = GetUint32(&bytes[kDataLengthOffset]);
    for (std::size_t index = 0; index < kRecordVersionUnits; ++index) {
        header.version[index] = static_cast<char16_t>(bytes[kVersionOffset + 2 * index] |
                                                      bytes[kVersionOffset + 2 * index + 1] << 8);
    }
    std::memcpy(header.tag, &bytes[kTagOffset], kRecordTagBytes);
    header.crc = GetUint32(&bytes[kCrcOffset]);
}

bool PathExists(const std::string& path) {
    return platform::DirectoryExists(path) || platform::FileExists(path);
}

// "./name" and ".\name" live in the AppConfig directory; "" when it is missing.
std::string ResolvePath(const std::string& path) {
    if (path.size() >= 2 && path[0] == '.' && (path[1] == '/' || path[1] == '\\')) {
        const std::string directory = GetAppConfigDir();
        return directory.empty() ? std::string() : directory + path.substr(2);
    }
    return path;
}

// The stored text up to its terminator, never beyond the field.
std::string_view StoredTag(const RecordFileHeader& header) {
    return std::string_view(header.tag, strnlen(header.tag, kRecordTagBytes));
}

std::u16string_view StoredVersion(const RecordFileHeader& header) {
    const auto* end = std::find(header.version, header.version + kRecordVersionUnits, u'\0');
    return std::u16string_view(header.version, static_cast<std::size_t>(end - header.version));
}

class CFileCloser {
public:
    explicit CFileCloser(std::FILE* file) : m_file(file) {}
    ~CFileCloser() { std::fclose(m_file); }
    CFileCloser(const CFileCloser&) = delete;
    CFileCloser& operator=(const CFileCloser&) = delete;

private:
    std::FILE* m_file;
};

}  // namespace

void InitRecordHeader(RecordFileHeader& header, std::string_view tag, std::uint32_t dataLength,
                      std::u16string_view version, std::uint32_t format) {
    header = RecordFileHeader{};
    std::copy_n(tag.begin(), std::min<std::size_t>(tag.size(), kRecordTagBytes - 1), header.tag);
    std::copy_n(version.begin(), std::min<std::size_t>(version.size(), kRecordVersionUnits),
                header.version);
    header.dataLength = dataLength;
    header.crc = 0;
    header.format = format;
}

int ReadRecordFile(const std::string& path, RecordFileHeader& header, const char* expectedTag,
                   const char16_t* expectedVersion, std::uint8_t* data, std::uint32_t capacity) {
    if (path.empty()) {
        return -1;
    }
    const std::string resolved = ResolvePath(path);
    if (resolved.empty()) {
        return -1;
    }
    std::FILE* file = std::fopen(resolved.c_str(), "rb");
    if (file == nullptr) {
        return -1;
    }
    const CFileCloser closer(file);

    HeaderBytes bytes{};
    if (std::fread(bytes.data(), bytes.size(), 1, file) != 1 || std::feof(file) != 0 ||
        std::ferror(file) != 0) {
        return -1;
    }
    DeserializeHeader(bytes, header);
    if (expectedTag != nullptr && StoredTag(header) != std::string_view(expectedTag)) {
        return -1;
    }
    if (expectedVersion != nullptr &&
        StoredVersion(header) != std::u16string_view(expectedVersion)) {
        return -1;
    }
    if (header.crc == 0 || header.dataLength > capacity || data == nullptr) {
        return -1;
    }
    // A data length of 0 reads no item, which counts as a short read.
    if (std::fread(data, header.dataLength, 1, file) != 1 || std::ferror(file) != 0) {
        return -1;
    }
    const std::uint32_t crc = Crc32Update(data, header.dataLength, 0);
    if (crc != header.crc) {
        platform::DebugPrintf("ReadRecordFile %s: CRC expected 0x%08X found 0x%08X\n",
                              resolved.c_str(), static_cast<unsigned>(crc),
                              static_cast<unsigned>(header.crc));
        return -1;
    }
    return 0;
}

int WriteRecordFile(const std::string& path, const RecordFileHeader& header,
                    const std::uint8_t* data) {
    if (path.empty()) {
        return -1;
    }
    const std::string resolved = ResolvePath(path);
    if (resolved.empty()) {
        return -1;
    }
    CreateDirectories(resolved);  // the directories may all exist already
    if (header.dataLength == 0 || data == nullptr) {
        return -1;
    }
    RecordFileHeader written = header;
    written.crc = Crc32Update(data, header.dataLength, 0);
    const HeaderBytes headerBytes = SerializeHeader(written);
    std::vector<std::uint8_t> contents(kRecordHeaderBytes + std::size_t{header.dataLength});
    std::memcpy(contents.data(), headerBytes.data(), kRecordHeaderBytes);
    std::memcpy(contents.data() + kRecordHeaderBytes, data, header.dataLength);
    if (!platform::WriteFileAtomically(resolved, contents)) {
        platform::DebugPrintf("WriteRecordFile %s failed\n", resolved.c_str());
        return -1;
    }
    return 0;
}

std::string GetAppConfigDir() {
    if (!g_appConfigDir.empty() && platform::DirectoryExists(g_appConfigDir)) {
        return g_appConfigDir;
    }
    g_appConfigDir.clear();
    std::string directory = platform::GetModuleFileName();
    std::replace(directory.begin(), directory.end(), '\\', '/');
    // Drop the executable's name, then its directory: AppConfig sits beside it.
    const std::size_t nameSlash = directory.rfind('/');
    if (nameSlash == std::string::npos || nameSlash == 0) {
        return g_appConfigDir;
    }
    const std::size_t parentSlash = directory.rfind('/', nameSlash - 1);
    if (parentSlash == std::string::npos) {
        return g_appConfigDir;
    }
    directory.resize(parentSlash + 1);
    directory += kAppConfigDirName;
    if (platform::DirectoryExists(directory) || CreateDirectories(directory) == 0) {
        g_appConfigDir = directory;
    }
    return g_appConfigDir;
}

void ResetAppConfigDirForTesting() {
    g_appConfigDir.clear();
}

int CreateDirectories(const std::string& path) {
    if (PathExists(path)) {
        return -1;
    }
    std::string walked = path;
    std::replace(walked.begin(), walked.end(), '\\', '/');
    bool created = false;
    for (std::size_t index = 1; index < walked.size(); ++index) {
        if (walked[index] != '/') {
            continue;
        }
        const std::string prefix = walked.substr(0, index + 1);
        if (PathExists(prefix)) {
            continue;
        }
        if (!platform::CreateDirectory(prefix)) {
            platform::DebugPrintf("CreateDirectories %s failed\n", prefix.c_str());
            return -1;
        }
        created = true;
    }
    return created ? 0 : -1;
}
