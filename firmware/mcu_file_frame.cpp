#include "firmware/mcu_file_frame.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string_view>

#include "mcu_link/engine_events.h"
#include "platform/debug_output.h"
#include "platform/files.h"
#include "platform/window_messages.h"

namespace {

constexpr std::string_view kHx900Token = "HX900";
constexpr std::string_view k64KToken = "64K";
constexpr std::string_view k128KToken = "128K";
constexpr int kNoProgressSent = -1;
constexpr std::uint64_t kPercent = 100;

// The parse percentage sent last, for the whole run (window thread).
std::atomic<int> g_lastParseProgress{kNoProgressSent};

bool Contains(std::string_view text, std::string_view token) {
    return text.find(token) != std::string_view::npos;
}

bool AcceptsName(bool checkName, int sizeClass, std::string_view name) {
    if (!checkName) {
        return true;
    }
    switch (sizeClass) {
        case CMcuFileFrame::kSizeClassAny:
            return true;
        case CMcuFileFrame::kSizeClass64K:
            return Contains(name, k64KToken) && Contains(name, kHx900Token);
        case CMcuFileFrame::kSizeClass128K:
            return Contains(name, k128KToken) && Contains(name, kHx900Token);
        default:
            return false;
    }
}

}  // namespace

CMcuFileFrame::CMcuFileFrame() : m_record(std::make_unique<McuRecordInfo>()) {}

CMcuFileFrame::~CMcuFileFrame() {
    CloseFileHandle();
}

bool CMcuFileFrame::SearchFile(bool checkName, int sizeClass) {
    m_checkName = checkName;
    m_sizeClass = sizeClass;
    return FindFile() != 0;
}

bool CMcuFileFrame::Load() {
    return LoadFile() != 0;
}

std::uint32_t CMcuFileFrame::ReadRepeat(std::uint8_t* /*buffer*/, std::uint32_t /*max*/) {
    return 0;
}

std::uint32_t CMcuFileFrame::ReadBlock(std::uint8_t* buffer, std::uint32_t max) {
    if (!m_loaded || buffer == nullptr) {
        return 0;
    }
    const std::uint32_t position = m_readPosition;
    const std::uint32_t remaining = m_dataLength > position ? m_dataLength - position : 0;
    const std::uint32_t count = std::min(max, remaining);
    std::memcpy(buffer, m_image.get() + position, count);
    m_readPosition = position + count;
    return count;
}

std::uint32_t CMcuFileFrame::GetBlockAddress() const {
    return m_readPosition + kImageBaseAddress;
}

std::uint32_t CMcuFileFrame::GetDataLength() const {
    return m_dataLength;
}

std::uint32_t CMcuFileFrame::GetReadPos() const {
    return m_readPosition;
}

void CMcuFileFrame::Rewind() {
    m_readPosition = 0;
}

std::string CMcuFileFrame::GetFileName() const {
    return m_fileName;
}

std::string CMcuFileFrame::GetPlatform() const {
    return std::string(m_record->platform, strnlen(m_record->platform, kPlatformTagBytes));
}

int CMcuFileFrame::LoadFile() {
    if (m_found == 0) {
        platform::DebugPrintf("CMcuFileFrame::LoadFile no firmware file was found\n");
        return 0;
    }
    if (!OpenFile()) {
        return 0;
    }
    const bool read = ReadFileData();
    CloseFile();
    if (!read) {
        return 0;
    }
    const int result = ParseRecords();
    if (result != 0) {
        m_text.reset();
        m_loaded = true;
    }
    return result;
}

bool CMcuFileFrame::OpenFile() {
    CloseFileHandle();
    m_file = std::fopen(m_fullPath.c_str(), "rb");
    if (m_file == nullptr) {
        platform::DebugPrintf("CMcuFileFrame::OpenFile %s failed, errno %d\n", m_fullPath.c_str(),
                              errno);
        return false;
    }
    m_textPosition = static_cast<std::uint32_t>(std::ftell(m_file));
    return true;
}

bool CMcuFileFrame::ReadFileData() {
    if (m_image || m_text) {
        platform::DebugPrintf("CMcuFileFrame::ReadFileData %s is loaded already\n",
                              m_fileName.c_str());
        return false;
    }
    const std::uint32_t length = GetFileLength();
    if (length == 0 || length == kNoFileLength) {
        platform::DebugPrintf("CMcuFileFrame::ReadFileData %s: unusable length %u\n",
                              m_fileName.c_str(), static_cast<unsigned>(length));
        return false;
    }
    // () zero-fills both buffers: image bytes no record covers stay 0x00.
    m_text.reset(new (std::nothrow) std::uint8_t[length]());
    m_image.reset(new (std::nothrow) std::uint8_t[length]());
    if (!m_text || !m_image) {
        m_text.reset();
        m_image.reset();
        platform::DebugPrintf("CMcuFileFrame::ReadFileData no memory for %u bytes\n",
                              static_cast<unsigned>(length));
        return false;
    }
    m_fileLength = length;
    m_bufferLength = length;
    if (std::fread(m_text.get(), length, 1, m_file) != 1) {
        platform::DebugPrintf("CMcuFileFrame::ReadFileData short read of %u bytes\n",
                              static_cast<unsigned>(length));
        return false;
    }
    return true;
}

int CMcuFileFrame::CloseFile() {
    CloseFileHandle();
    return 1;
}

void CMcuFileFrame::CloseFileHandle() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

std::uint32_t CMcuFileFrame::GetFileLength() {
    if (m_file == nullptr) {
        return kNoFileLength;
    }
    const long position = std::ftell(m_file);
    if (position < 0 || std::fseek(m_file, 0, SEEK_END) != 0) {
        return kNoFileLength;
    }
    const long end = std::ftell(m_file);
    std::fseek(m_file, position, SEEK_SET);
    if (end < 0 || static_cast<unsigned long>(end) >= kNoFileLength) {
        return kNoFileLength;
    }
    return static_cast<std::uint32_t>(end);
}

int CMcuFileFrame::FindFile() {
    m_found = 0;
    const std::string directory = platform::GetModuleDirectory();
    for (const std::string& name : platform::FindFiles(directory, kFirmwarePattern)) {
        if (AcceptsName(m_checkName, m_sizeClass, name)) {
            m_fileName = name;
            m_fullPath = directory + name;
            m_found = 1;
            return 1;
        }
    }
    return 0;
}

void CMcuFileFrame::ResetParseProgressForTesting() {
    g_lastParseProgress = kNoProgressSent;
}

int CMcuFileFrame::ParseRecords() {
    const std::string_view text(TextChars(), m_bufferLength);
    int result = 0;
    while (m_endOfRecords == 0) {
        if (m_textPosition + 1 >= text.size()) {
            // A file cut short (a truncated copy) must not be sent in part.
            platform::DebugPrintf(
                "CMcuFileFrame::ParseRecords text ends at %u without a termination record\n",
                static_cast<unsigned>(text.size()));
            return 0;
        }
        if (text[m_textPosition] != 'S') {
            ++m_textPosition;
            continue;
        }
        const auto typeChar = static_cast<unsigned char>(text[m_textPosition + 1]);
        if (typeChar > '6') {
            m_endOfRecords = 1;
            break;
        }
        if (typeChar <= '0') {
            // '0': the header record, passed over character by character.
            // Below '0': not a record at all.
            ++m_textPosition;
            continue;
        }
        McuRecordInfo& record = *m_record;
        const RecordDecodeResult decoded = ParseRecord(record, text.substr(m_textPosition));
        if (decoded == RecordDecodeResult::kChecksumMismatch) {
            platform::DebugPrintf(
                "CMcuFileFrame::ParseRecords record at text position %u (S%c, address 0x%06X): "
                "checksum expected 0x%02X found 0x%02X\n",
                static_cast<unsigned>(m_textPosition), static_cast<char>(typeChar),
                static_cast<unsigned>(record.address),
                static_cast<unsigned>(ComputeRecordChecksum(record)),
                static_cast<unsigned>(record.checksum));
            return 0;
        }
        if (decoded != RecordDecodeResult::kDecoded) {
            platform::DebugPrintf(
                "CMcuFileFrame::ParseRecords record at text position %u (S%c, count %u): %s\n",
                static_cast<unsigned>(m_textPosition), static_cast<char>(typeChar),
                static_cast<unsigned>(record.count), RecordDecodeResultName(decoded));
            return 0;
        }
        if (!SaveDataToBuf(record)) {
            return 0;
        }
        result = 1;
        m_textPosition += RecordTextLength(record.count);
        ReportParseProgress();
    }
    if (result == 0) {
        platform::DebugPrintf("CMcuFileFrame::ParseRecords no data record before the end\n");
    }
    return result;
}

bool CMcuFileFrame::SaveDataToBuf(const McuRecordInfo& record) {
    if (!m_image) {
        return true;
    }
    const int dataLength = RecordDataLength(record);
    if (record.address >= kImageBaseAddress) {
        if (dataLength <= 0) {
            return true;  // a count record (S5) or an empty one: nothing to store
        }
        const std::uint64_t offset = record.address - kImageBaseAddress;
        const std::uint64_t end = offset + static_cast<std::uint64_t>(dataLength);
        if (end > m_bufferLength) {
            platform::DebugPrintf(
                "CMcuFileFrame::SaveDataToBuf record at text position %u: address 0x%06X + %d "
                "bytes lies outside the %u-byte image\n",
                static_cast<unsigned>(m_textPosition), static_cast<unsigned>(record.address),
                dataLength, static_cast<unsigned>(m_bufferLength));
            return false;
        }
        std::memcpy(m_image.get() + offset, record.data, static_cast<std::size_t>(dataLength));
        // The image runs to the end of its highest record, so that gaps go out
        // as 0x00 fill and nothing past a gap is lost.
        m_dataLength = std::max(m_dataLength, static_cast<std::uint32_t>(end));
        return true;
    }
    if (record.address == kPlatformTagAddress) {
        int skipped = 0;
        while (skipped < dataLength && record.data[skipped] == 0) {
            ++skipped;
        }
        // dataLength < 128, so the tag keeps its terminating zero.
        std::memcpy(m_record->platform, record.data + skipped,
                    static_cast<std::size_t>(dataLength - skipped));
        platform::DebugPrintf("CMcuFileFrame::SaveDataToBuf Addr[0x009FE0]:platform = [%s]\n",
                              m_record->platform);
    }
    return true;
}

void CMcuFileFrame::ReportParseProgress() {
    if (m_fileLength == 0) {
        return;
    }
    const auto percent = static_cast<int>(std::uint64_t{m_textPosition} * kPercent / m_fileLength);
    if (percent == g_lastParseProgress) {
        return;
    }
    g_lastParseProgress = percent;
    const platform::WindowHandle window = platform::GetForegroundWindow();
    if (window == platform::kNoWindow) {
        return;
    }
    platform::SendMessage(window, platform::RegisterWindowMessage(kEngineEventMessageName),
                          static_cast<platform::WParam>(EngineEvent::kParseProgress), percent);
}
