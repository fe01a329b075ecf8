// The firmware updater: identifies the platform and its link protocol family,
// takes the serial port, greets the boot loader, and runs the transfer on two
// threads of its own, reporting every step to the main window as events.
//
// Threads:
// - user-interface thread: constructor, Initialise, BeginTransfer, OnTimer,
//   Stop, GetFileName, GetPortHandle, destructor;
// - receiver thread: ReceiveStep and HandleAnswer;
// - sender thread: SendStep.
// Shared between them, all atomic: the transfer state (inside the loader), the
// stop flag, the last address sent, the current percentage, the version flag,
// the refusal count, the timer-restart, start-in-flight and finished flags,
// the window handle. The version text is the one value guarded by a mutex (a
// string cannot be atomic). Hand-over rule: write the transfer state, then
// signal the wake-up event. The codec's sending half runs on the sender
// thread (and once, for the hello, on the user-interface thread before the
// sender is first woken); its receiving half on the receiver thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engine/update_engine.h"
#include "mcu_link/mcu_frame_info.h"
#include "platform/types.h"

class CAnswerTimer;
class CMcuFileLoader;
class CMcuFrameCodec;
class CMcuSendBlock;
class CReceiverThread;
class CSenderThread;
class CSerialPort;
namespace platform {
class CEvent;
}

class CFirmwareUpdater : public CUpdateEngine {
public:
    enum class Family : std::uint8_t { kB = 0, kA = 1 };

    static constexpr int kPortNumber = 4;
    static constexpr std::uint32_t kBaudRate = 115200;
    static constexpr std::uint32_t kSlowBaudRate = 19200;  // family B on "V1" hardware
    static constexpr std::uint32_t kAnswerTimeoutMs = 1000;
    static constexpr std::int32_t kAnswerTicks = 3;  // the third tick ends the transfer
    static constexpr std::uint8_t kPlatformWithVersion = 8;
    static constexpr std::uint32_t kVersionPollMs = 100;
    static constexpr std::int32_t kVersionPolls = 30;  // over the whole process
    static constexpr std::uint32_t kReadChunkBytes = 512;
    static constexpr std::uint32_t kDataBlockBytes = 128;
    static constexpr std::uint32_t kStopPauseMs = 300;
    // A block refused (or a start declined) this many times in a row ends the
    // transfer with event 3 instead of asking again for ever.
    static constexpr std::uint32_t kRefusalLimit = 10;

    explicit CFirmwareUpdater(platform::WindowHandle window);
    ~CFirmwareUpdater() override;

    void Initialise() override;
    int BeginTransfer() override;
    void Stop() override;
    int OnTimer(std::uint32_t timerId) override;
    void GetFileName(std::string& name) override;
    platform::DeviceHandle GetPortHandle() override;

    void SendStep();
    void ReceiveStep();
    void HandleAnswer(const McuFrameInfo& info);
    // False when the event could not be posted (no window).
    bool PostEvent(std::uint32_t code, platform::LParam value);

    Family GetFamily() const { return m_family; }
    std::uint32_t GetBaudRate() const { return m_baudRate; }
    std::uint8_t GetPlatformCode() const { return m_platformCode; }
    std::string GetVersionText() const;
    bool IsVersionReceived() const { return m_versionReceived.load(); }
    // A worker thread did not end when stopped: nothing it may touch can be
    // freed (see CUpdaterHolder::Destroy).
    bool IsAbandoned() const;

    // The record of a key read-back answer (event 10): a heap McuFrameInfo
    // whose payload is a heap copy. The window frees it with FreeReadBack.
    static McuFrameInfo* MakeReadBack(const std::uint8_t* payload, std::uint16_t length);
    static void FreeReadBack(McuFrameInfo* record);

    // The process-wide values that live for the whole run; tests reset them.
    static void ResetProcessValuesForTesting();

private:
    // The main window; taken from the holder when the updater was made
    // without one.
    platform::WindowHandle ResolveWindow();
    void DecidePlatform();
    bool ComposeDataBlock();
    void UpdateProgress();
    void SetStateAndWake(std::uint8_t state);
    void RefuseAndRepeat(std::uint8_t repeatState);
    // Posts the final event unless one was posted; false when one was.
    bool Finish(std::uint32_t code);
    void HandleAnswerA(const McuFrameInfo& info);
    void HandleAnswerB(const McuFrameInfo& info);
    bool WriteFrame();

    std::unique_ptr<CSerialPort> m_port;
    std::unique_ptr<CMcuFrameCodec> m_codec;
    std::unique_ptr<CMcuFileLoader> m_loader;
    std::unique_ptr<CMcuSendBlock> m_sendBlock;
    std::unique_ptr<CReceiverThread> m_receiver;
    std::unique_ptr<CSenderThread> m_sender;
    std::unique_ptr<CAnswerTimer> m_answerTimer;
    std::unique_ptr<platform::CEvent> m_wakeUp;
    std::atomic<platform::WindowHandle> m_window;
    std::atomic<bool> m_stop{false};
    std::uint8_t m_platformCode = 0;
    std::uint32_t m_projectType = 18;
    std::u16string m_processorType;
    Family m_family = Family::kB;
    std::uint8_t m_frameCommand = 0;
    std::uint8_t m_frameSubCommand = 0;
    std::uint8_t m_portNumber = kPortNumber;
    std::uint32_t m_baudRate = kBaudRate;
    std::atomic<std::int32_t> m_currentPercent{0};
    std::atomic<bool> m_versionReceived{false};
    mutable std::mutex m_versionMutex;
    std::string m_versionText;
    std::atomic<std::uint32_t> m_lastAddressSent{0};
    // Answers that asked for a repeat since the last one that moved on.
    std::atomic<std::uint32_t> m_refusals{0};
    // Set when an answer stopped the timer and asked for a repeat: that
    // repeat must start the timer again.
    std::atomic<bool> m_restartTimerOnRepeat{false};
    // The start block is the frame in flight: only then does an 'a' answer
    // count. A late second 'a' (its frame was repeated after a time-out)
    // would otherwise send the next data block before the one in flight was
    // answered.
    std::atomic<bool> m_startInFlight{false};
    // The transfer's final event (2 or 3) was posted: answers that come late
    // and ticks change nothing any more, so it is posted once.
    std::atomic<bool> m_finished{false};
    // The receiver handled a frame and the codec may hold another one.
    bool m_parseAgain = false;
};
