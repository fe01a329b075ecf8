// The microcontroller's boot loader as the updater sees it: takes the bytes
// read from the line, finds the frames in them, checks them, and returns what
// to write back (and when). It does no input or output itself, so a test
// drives it byte for byte; CSimulatorSession carries its actions out on a
// real line.
//
// Threads: one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "mcu_link/sum_frame_codec.h"
#include "mcu_link/xor_frame_codec.h"
#include "tools/bootloader_sim/simulator_options.h"

// One thing to do on the line, after waiting delayUs (microseconds) from the
// previous one.
struct SimulatorAction {
    enum class Kind : std::uint8_t {
        kWrite,   // write bytes
        kHangUp,  // close the line
    };
    Kind kind = Kind::kWrite;
    std::uint32_t delayUs = 0;
    std::vector<std::uint8_t> bytes;
    std::string note;  // what the bytes are, for the log ("answer", "noise", ...)
};

class CBootloaderSimulator {
public:
    static constexpr std::uint32_t kImageBaseAddress = 0xA000;  // family A image start
    static constexpr std::uint32_t kBlockImageBytes = 128;      // image bytes per family A block
    // The key area the read-back returns whole: the key data, zeros behind it.
    static constexpr std::uint32_t kKeyAreaBytes = 256;
    // Images larger than this are refused (a corrupt address must not make
    // the simulator allocate gigabytes).
    static constexpr std::uint32_t kMaxImageBytes = 16u << 20;
    // The pause between the pieces of a split answer, so that they arrive in
    // separate reads.
    static constexpr std::uint32_t kSplitPauseMs = 3;
    static constexpr std::uint32_t kMaxNoiseBytes = 16;

    // Receives each log line (without time stamp or line end). Lines start
    // with "<- " (a frame received), "-- " (a note) or "!! " (a violation).
    using LogSink = std::function<void(std::string_view line)>;

    explicit CBootloaderSimulator(SimulatorOptions options, LogSink log = {});

    // Takes bytes read from the line and returns the actions they call for,
    // in order. After a kHangUp action nothing more is taken.
    std::vector<SimulatorAction> Receive(const std::uint8_t* bytes, std::size_t count);

    std::uint32_t FramesReceived() const { return m_framesReceived; }
    // Transfers answered with success (end answered), plus key read-backs.
    std::uint32_t TransfersServed() const { return m_transfersServed; }
    const std::vector<std::string>& Violations() const { return m_violations; }
    bool HasHungUp() const { return m_hungUp; }

    // Family A: the image from 0xA000 up to the highest byte written.
    // Family B: the image decoded from the S1/S2/S3 records, from the lowest
    // address up to the highest byte written. Bytes never written are 0xFF.
    std::vector<std::uint8_t> Image() const;
    // Family B: the text of every record taken, in order.
    const std::vector<std::string>& Lines() const { return m_lines; }
    // Family A: the key data of the last 'L' frame (at most kKeyAreaBytes).
    const std::vector<std::uint8_t>& KeyData() const { return m_keyData; }

private:
    using Bytes = std::vector<std::uint8_t>;

    std::uint32_t RecvCount() const;
    void TakeFrames(std::vector<SimulatorAction>& actions);
    void OnGoodFrame(const Bytes& consumed, std::vector<SimulatorAction>& actions);
    void OnBadFrame(const Bytes& consumed);

    void HandleFamilyA(std::uint8_t command, std::uint8_t subCommand, const Bytes& payload,
                       std::uint32_t frameBytes, std::vector<SimulatorAction>& actions);
    void HandleDataBlockA(const Bytes& payload, std::uint32_t frameBytes,
                          std::vector<SimulatorAction>& actions);
    void HandleFamilyB(std::uint8_t command, std::uint8_t subCommand, const Bytes& payload,
                       std::uint32_t frameBytes, std::vector<SimulatorAction>& actions);
    void HandleLineB(const Bytes& payload, std::uint32_t frameBytes,
                     std::vector<SimulatorAction>& actions);

    // Frames the answer payload and turns it into actions, with every
    // misbehaviour that applies to it. dataBlock adds the flash write time.
    void Answer(const Bytes& payload, std::uint32_t receivedFrameBytes, bool dataBlock,
                std::vector<SimulatorAction>& actions);
    // True (and the count taken) while the table holds arrivals for index.
    static bool TakeMisbehaviour(std::map<std::uint32_t, std::uint32_t>& left, std::uint32_t index);
    bool StoreImageBytes(std::uint32_t address, const std::uint8_t* bytes, std::size_t count);
    void CompleteTransfer();

    void Note(const std::string& text);
    void Violation(const std::string& text);
    double NextUnit();

    SimulatorOptions m_options;
    LogSink m_log;
    std::mt19937 m_random;

    CXorFrameCodec m_xorCodec;
    CSumFrameCodec m_sumCodec;
    CMcuFrameCodec& m_codec;  // the family's codec
    Bytes m_pending;          // a copy of the bytes the codec holds, for the log

    std::uint32_t m_framesReceived = 0;
    std::uint32_t m_transfersServed = 0;
    std::vector<std::string> m_violations;
    bool m_hungUp = false;
    bool m_lastAnswerLost = false;  // the previous answer was dropped or corrupted

    bool m_transferActive = false;
    bool m_transferCompleted = false;                 // a transfer ended and no new one began
    std::uint32_t m_blocksTaken = 0;                  // data blocks accepted in this transfer
    std::optional<std::uint32_t> m_lastBlockAddress;  // family A
    std::map<std::uint32_t, std::uint32_t> m_refusalsLeft;
    std::map<std::uint32_t, std::uint32_t> m_wrongAddressesLeft;

    // The image: bytes from m_imageBase, 0xFF where nothing was written.
    std::uint32_t m_imageBase = kImageBaseAddress;
    Bytes m_image;

    std::vector<std::string> m_lines;  // family B
    std::optional<std::string> m_lastLine;

    Bytes m_keyData;  // family A
};
