#include "engine/key_update_engine.h"

#include <algorithm>
#include <fstream>

#include "engine/answer_timer.h"
#include "engine/event_messages.h"
#include "engine/frame_trace.h"
#include "engine/serial_port.h"
#include "mcu_link/engine_events.h"
#include "mcu_link/xor_frame_codec.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/files.h"
#include "platform/window_messages.h"

namespace {

constexpr std::uint8_t kFrameCommand = 0x41;     // 'A'
constexpr std::uint8_t kFrameSubCommand = 0x4F;  // 'O'
constexpr std::uint8_t kKeyDataCode = 0x4C;      // 'L', followed by the key data
constexpr std::uint8_t kReadBackCode = 0x4D;     // 'M', asks for the read-back
constexpr const char* kKeyPattern = "*.key";

}  // namespace

CKeyUpdateEngine::CKeyUpdateEngine(platform::WindowHandle window)
    : m_window(window), m_answerTimer(std::make_unique<CAnswerTimer>(window)) {}

CKeyUpdateEngine::~CKeyUpdateEngine() {
    m_answerTimer->Stop();
}

void CKeyUpdateEngine::PostKeyEvent(std::uint32_t code) {
    if (m_window != platform::kNoWindow) {
        platform::PostMessage(m_window, KeyEventMessage(), code, 0);
    }
}

std::uint16_t CKeyUpdateEngine::PayloadLength() const {
    return m_loaded ? static_cast<std::uint16_t>(m_fileSize - (kKeyDataOffset - 1)) : 0;
}

void CKeyUpdateEngine::Prepare(platform::DeviceHandle port) {
    m_port = port;
    const std::string directory = platform::GetModuleDirectory();
    const auto match = platform::FindFirstFile(directory, kKeyPattern);
    m_found = match.has_value();
    if (!m_found) {
        PostKeyEvent(static_cast<std::uint32_t>(KeyEvent::kFileMissing));
        return;
    }
    m_name = *match;
    m_path = directory + m_name;
    PostKeyEvent(static_cast<std::uint32_t>(KeyEvent::kFileFound));
    LoadKeyFile();
    m_payload[0] = kKeyDataCode;
}

void CKeyUpdateEngine::LoadKeyFile() {
    m_loaded = false;
    m_fileSize = 0;
    std::ifstream file(m_path, std::ios::binary);
    if (!file) {
        // Found but not readable: nothing is posted and the size stays 0.
        platform::DebugPrintf("CKeyUpdateEngine: %s cannot be opened\n", m_path.c_str());
        return;
    }
    const auto size = platform::GetFileSize(m_path);
    if (!size) {
        platform::DebugPrintf("CKeyUpdateEngine: %s has no size\n", m_path.c_str());
        return;
    }
    // Only the low 32 bits of the size count, as on the original file system.
    m_fileSize = static_cast<std::uint32_t>(*size);
    if (m_fileSize > kMaxKeyFileBytes || m_fileSize < kMinKeyFileBytes) {
        platform::DebugPrintf("CKeyUpdateEngine: %s has %u bytes, not %u..%u\n", m_path.c_str(),
                              m_fileSize, kMinKeyFileBytes, kMaxKeyFileBytes);
        PostKeyEvent(static_cast<std::uint32_t>(KeyEvent::kFileMissing));
        return;
    }
    // Only the key bytes are read: the file itself may be far larger than
    // its low 32 bits say.
    const std::size_t keyBytes = m_fileSize - kKeyDataOffset;  // 0..256
    file.seekg(kKeyDataOffset);
    file.read(reinterpret_cast<char*>(m_payload.data() + 1),
              static_cast<std::streamsize>(keyBytes));
    if (!file || static_cast<std::size_t>(file.gcount()) != keyBytes) {
        // Changed or unreadable since it was measured: nothing to send.
        platform::DebugPrintf("CKeyUpdateEngine: %s could not be read\n", m_path.c_str());
        return;
    }
    m_loaded = true;
}

bool CKeyUpdateEngine::WriteFrame(const std::uint8_t* payload, std::uint32_t length) {
    CXorFrameCodec codec;
    codec.PackFrame(kFrameCommand, kFrameSubCommand, length, payload);
    const bool written =
        CSerialPort::WriteHandle(m_port, codec.GetFrameBuf(), codec.GetFrameLen()) != -1;
    TraceSentFrame(codec.GetFrameBuf(), codec.GetFrameLen(), written);
    return written;
}

void CKeyUpdateEngine::SendKey() {
    m_verdict = kVerdictNone;
    PostKeyEvent(static_cast<std::uint32_t>(KeyEvent::kRunning));
    if (m_port == platform::kInvalidDevice || !m_loaded) {
        platform::DebugPrintf("CKeyUpdateEngine::SendKey: %s\n",
                              m_loaded ? "no port" : "no usable key file");
        PostKeyEvent(static_cast<std::uint32_t>(KeyEvent::kFailed));
        return;
    }
    if (!WriteFrame(m_payload.data(), PayloadLength())) {
        PostKeyEvent(static_cast<std::uint32_t>(KeyEvent::kFailed));
        return;
    }
    platform::Sleep(kReadBackRequestDelayMs);
    const std::uint8_t request = kReadBackCode;
    WriteFrame(&request, 1);
    m_answerTimer->Start(kAnswerIntervalMs, kAnswerTicks);
}

int CKeyUpdateEngine::OnTimer(std::uint32_t timerId) {
    if (timerId != CAnswerTimer::kTimerId) {
        return 0;
    }
    if (m_answerTimer->OnTick(CAnswerTimer::kTimerId) == CAnswerTimer::kLimitReached) {
        PostKeyEvent(static_cast<std::uint32_t>(KeyEvent::kFailed));
        return 0;
    }
    if (m_verdict == kVerdictNone) {
        return 0;
    }
    PostKeyEvent(static_cast<std::uint32_t>(m_verdict == kVerdictEqual ? KeyEvent::kVerified
                                                                       : KeyEvent::kFailed));
    m_answerTimer->Stop();
    return 0;
}

bool CKeyUpdateEngine::CompareReadBack(std::uint16_t length, const std::uint8_t* data) {
    // A read-back too short to hold the compared bytes is judged different;
    // nothing past it is read.
    if (data == nullptr || length < kCompareBytes + 1) {
        m_verdict = kVerdictDifferent;
        return false;
    }
    const bool equal = std::equal(data + 1, data + 1 + kCompareBytes, m_payload.begin() + 1);
    m_verdict = equal ? kVerdictEqual : kVerdictDifferent;
    return equal;
}
