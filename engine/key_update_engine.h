// Sends the key configuration file ("*.key" next to the executable) to the
// microcontroller through the port the firmware updater opened, asks for it
// to be read back, and judges the read-back. Reports to the key update
// window with key events.
//
// Threads: everything runs on the user-interface thread; the 300 ms pause in
// SendKey blocks it. The engine only writes to the port; the read-back comes
// through the updater's receiver and the windows.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/types.h"

class CAnswerTimer;

class CKeyUpdateEngine {
public:
    // Key file: 1032 bytes the engine does not read, then 0..256 key bytes.
    static constexpr std::uint32_t kKeyDataOffset = 1032;
    static constexpr std::uint32_t kMinKeyFileBytes = 1032;
    static constexpr std::uint32_t kMaxKeyFileBytes = 1288;
    // The frame payload: 'L' and up to 256 key bytes.
    static constexpr std::size_t kPayloadBytes = 257;
    // The read-back is judged on this many bytes after its code byte.
    static constexpr std::size_t kCompareBytes = 119;
    static constexpr std::uint32_t kReadBackRequestDelayMs = 300;
    static constexpr std::uint32_t kAnswerIntervalMs = 300;
    static constexpr std::int32_t kAnswerTicks = 10;

    enum Verdict : int { kVerdictNone = 0, kVerdictEqual = 1, kVerdictDifferent = 2 };

    explicit CKeyUpdateEngine(platform::WindowHandle window);
    ~CKeyUpdateEngine();
    CKeyUpdateEngine(const CKeyUpdateEngine&) = delete;
    CKeyUpdateEngine& operator=(const CKeyUpdateEngine&) = delete;

    // Keeps the port and looks for the key file: key event 0 and the file
    // loaded, or event 2 (none, or its size out of range).
    void Prepare(platform::DeviceHandle port);
    // Event 4, then the key frame, 300 ms later the read-back request, and the
    // answer timer; event 3 at once when nothing usable can be sent.
    void SendKey();
    // One tick of the answer timer: the verdict (event 1 or 3) on the first
    // tick after the comparison, event 3 on the tenth. Always 0.
    int OnTimer(std::uint32_t timerId);
    // data: the read-back answer, beginning with its '_' code byte.
    bool CompareReadBack(std::uint16_t length, const std::uint8_t* data);
    void GetFileName(std::string& name) const { name = m_name; }

    bool IsLoaded() const { return m_loaded; }
    std::uint32_t GetFileSize() const { return m_fileSize; }
    int GetVerdict() const { return m_verdict; }
    // The key frame's payload length: 'L' and the key bytes.
    std::uint16_t PayloadLength() const;

private:
    void LoadKeyFile();
    void PostKeyEvent(std::uint32_t code);
    bool WriteFrame(const std::uint8_t* payload, std::uint32_t length);

    bool m_found = false;
    std::string m_path;
    std::string m_name;
    const platform::WindowHandle m_window;
    std::array<std::uint8_t, kPayloadBytes> m_payload{};
    platform::DeviceHandle m_port = platform::kInvalidDevice;
    std::uint32_t m_fileSize = 0;
    std::unique_ptr<CAnswerTimer> m_answerTimer;
    int m_verdict = kVerdictNone;
    // The key data were read whole from a file of usable size; only then is
    // there anything to send.
    bool m_loaded = false;
};
