#include "firmware/mcu_line_file_frame.h"

#include <cstring>
#include <new>
#include <string_view>

#include "platform/debug_output.h"

namespace {

constexpr std::uint32_t kCountOffset = 2;         // characters from 'S' to the count pair
constexpr std::uint32_t kCountEnd = 4;            // characters from 'S' past the count pair
constexpr std::uint32_t kHeaderDataOffset = 8;    // 'S', '0', count, two-byte address
constexpr std::uint32_t kHeaderNonDataBytes = 3;  // address and checksum bytes in the count
constexpr char kFirstTerminationType = '7';       // S7, S8, S9 end a file
constexpr char kLastTerminationType = '9';

}  // namespace

CMcuLineFileFrame::CMcuLineFileFrame() = default;

CMcuLineFileFrame::~CMcuLineFileFrame() = default;

bool CMcuLineFileFrame::Load() {
    if (LoadFile() == 0) {
        return false;
    }
    if (!ValidateRecordTexts()) {
        return false;
    }
    ReadHeaderTag();
    m_loaded = true;
    return true;
}

std::uint32_t CMcuLineFileFrame::ReadBlock(std::uint8_t* buffer, std::uint32_t max) {
    if (!m_loaded || buffer == nullptr) {
        return 0;
    }
    const char* text = ImageChars();
    std::uint32_t position = m_readPosition;
    if (position >= m_dataLength) {
        return 0;
    }
    m_fileLength = 0;
    while (position < m_dataLength && text[position] != 'S') {
        ++position;
    }
    m_readPosition = position;
    if (position >= m_dataLength) {
        return 0;
    }
    // The load checked every record; this guards a caller with a smaller buffer.
    if (m_dataLength - position < kCountEnd) {
        platform::DebugPrintf("CMcuLineFileFrame::ReadBlock record at %u: no count\n",
                              static_cast<unsigned>(position));
        return 0;
    }
    const std::uint32_t length = RecordTextLength(ReadHexPair(text + position + kCountOffset));
    if (length > max || length > m_dataLength - position) {
        platform::DebugPrintf(
            "CMcuLineFileFrame::ReadBlock record at %u: %u characters do not fit %u\n",
            static_cast<unsigned>(position), static_cast<unsigned>(length),
            static_cast<unsigned>(max));
        return 0;
    }
    std::memcpy(buffer, text + position, length);
    m_fileLength = length;
    m_readPosition = position + length;
    return length;
}

std::string CMcuLineFileFrame::GetPlatform() const {
    return std::string(m_headerTag, strnlen(m_headerTag, sizeof m_headerTag));
}

int CMcuLineFileFrame::LoadFile() {
    if (m_found == 0) {
        platform::DebugPrintf("CMcuLineFileFrame::LoadFile no firmware file was found\n");
        return 0;
    }
    if (!OpenFile()) {
        return 0;
    }
    const bool read = ReadFileData();
    CloseFile();
    return read ? 1 : 0;
}

bool CMcuLineFileFrame::ReadFileData() {
    if (m_image) {
        platform::DebugPrintf("CMcuLineFileFrame::ReadFileData %s is loaded already\n",
                              m_fileName.c_str());
        return false;
    }
    const std::uint32_t length = GetFileLength();
    if (length == 0 || length == kNoFileLength) {
        platform::DebugPrintf("CMcuLineFileFrame::ReadFileData %s: unusable length %u\n",
                              m_fileName.c_str(), static_cast<unsigned>(length));
        return false;
    }
    m_image.reset(new (std::nothrow) std::uint8_t[length]());
    if (!m_image) {
        platform::DebugPrintf("CMcuLineFileFrame::ReadFileData no memory for %u bytes\n",
                              static_cast<unsigned>(length));
        return false;
    }
    m_fileLength = length;
    m_dataLength = length;
    m_bufferLength = length;
    if (std::fread(m_image.get(), length, 1, m_file) != 1) {
        platform::DebugPrintf("CMcuLineFileFrame::ReadFileData short read of %u bytes\n",
                              static_cast<unsigned>(length));
        return false;
    }
    return true;
}

// Walks the records the way ReadBlock will hand them out, so that a file that
// cannot be sent whole is refused before the first frame goes out.
bool CMcuLineFileFrame::ValidateRecordTexts() const {
    const std::string_view text(ImageChars(), m_bufferLength);
    std::uint32_t position = 0;
    char lastType = 0;
    for (;;) {
        while (position < text.size() && text[position] != 'S') {
            ++position;
        }
        if (position >= text.size()) {
            break;
        }
        if (text.size() - position < kCountEnd) {
            platform::DebugPrintf(
                "CMcuLineFileFrame::Load record at %u: the file ends inside its count\n",
                static_cast<unsigned>(position));
            return false;
        }
        const std::uint32_t length = RecordTextLength(ReadHexPair(&text[position + kCountOffset]));
        if (length > kMaxRecordTextChars) {
            platform::DebugPrintf(
                "CMcuLineFileFrame::Load record at %u: %u characters, more than the %u a block "
                "holds\n",
                static_cast<unsigned>(position), static_cast<unsigned>(length),
                static_cast<unsigned>(kMaxRecordTextChars));
            return false;
        }
        if (length > text.size() - position) {
            platform::DebugPrintf(
                "CMcuLineFileFrame::Load record at %u: %u characters run past the end (%u)\n",
                static_cast<unsigned>(position), static_cast<unsigned>(length),
                static_cast<unsigned>(text.size()));
            return false;
        }
        lastType = text[position + 1];
        position += length;
    }
    if (lastType < kFirstTerminationType || lastType > kLastTerminationType) {
        // A file cut short (a truncated copy) must not be sent in part.
        platform::DebugPrintf(
            "CMcuLineFileFrame::Load the file does not end with a termination "
            "record\n");
        return false;
    }
    return true;
}

void CMcuLineFileFrame::ReadHeaderTag() {
    const std::string_view text(ImageChars(), m_bufferLength);
    if (text.size() < kHeaderDataOffset || text[0] != 'S' || text[1] != '0') {
        return;
    }
    const std::uint8_t count = ReadHexPair(&text[kCountOffset]);
    if (count < kHeaderNonDataBytes) {
        return;
    }
    // The load checked that the record fits the file and a block, so its data
    // fits the text and the tag (at most 59 bytes).
    const std::uint32_t dataLength = count - kHeaderNonDataBytes;
    McuRecordInfo& record = *m_record;
    for (std::uint32_t index = 0; index < dataLength; ++index) {
        record.data[index] = ReadHexPair(&text[kHeaderDataOffset + 2 * index]);
    }
    std::memcpy(m_headerTag, record.data, dataLength);
}
