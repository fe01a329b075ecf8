// Helpers of the updater and key engine tests: a clock whose sleeps also let
// a little real time pass, a stand-in for the main window that records every
// engine event, the boot-loader simulator started as a program, a hand-played
// boot loader on a pseudo-terminal, and firmware files of both families.
//
// Everything here runs on the test's thread, except the programs it starts.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mcu_link/mcu_frame_codec.h"
#include "mcu_link/mcu_frame_info.h"
#include "platform/test_clock.h"
#include "platform/types.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/scoped_sysroot.h"
#include "tests/support/scratch_directory.h"

class CFirmwareUpdater;
class CUpdaterHolder;

namespace updater_test {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

enum class Family : std::uint8_t { kA, kB };

// Sleeping on this clock moves it at once, as on CTestClock, and also lets a
// little real time pass, so that another thread or process (the boot loader
// answering the hello, the port owner letting go) can act during a wait that
// counts its sleeps (the version wait, the port hand-off).
class CPacedTestClock : public platform::CTestClock {
public:
    static constexpr std::chrono::milliseconds kDefaultRealPause{10};
    explicit CPacedTestClock(std::chrono::milliseconds realPause = kDefaultRealPause)
        : m_realPause(realPause) {}
    void SleepMs(std::uint32_t ms) override;
    void SetRealPause(std::chrono::milliseconds pause) { m_realPause = pause; }

private:
    std::chrono::milliseconds m_realPause;
};

struct EngineEventRecord {
    std::uint32_t code = 0;
    platform::LParam value = 0;
};

// Stands in for the main window: records every EngineEventMessage, runs the
// updater's Initialise on event 8 and the start routine on event 12, hands
// ticks of timer 1324 to the updater's OnTimer, and passes a key read-back
// (event 10) to onReadBack before freeing it, as the main window does.
class CMainTestWindow {
public:
    CMainTestWindow();
    ~CMainTestWindow();
    CMainTestWindow(const CMainTestWindow&) = delete;
    CMainTestWindow& operator=(const CMainTestWindow&) = delete;

    platform::WindowHandle Handle() const { return m_window; }
    // The engine the window drives: through the holder (as the real window)
    // or straight to an updater.
    void Attach(CUpdaterHolder* holder);
    void Attach(CFirmwareUpdater* updater);

    const std::vector<EngineEventRecord>& Events() const { return m_events; }
    // Codes in order, leaving out progress (7) and parse progress (9).
    std::vector<std::uint32_t> Milestones() const;
    std::vector<int> Values(std::uint32_t code) const;
    std::size_t Count(std::uint32_t code) const;
    bool Has(std::uint32_t code) const { return Count(code) != 0; }
    // Event 2, 3, 4 or 5 was seen: nothing more will happen by itself.
    bool Finished() const;
    int TimerTicks() const { return m_timerTicks; }

    // Receives each key read-back; the record is freed afterwards.
    std::function<void(const McuFrameInfo&)> onReadBack;

private:
    platform::LResult OnMessage(platform::MessageId message, platform::WParam wParam,
                                platform::LParam lParam);

    platform::WindowHandle m_window = platform::kNoWindow;
    CUpdaterHolder* m_holder = nullptr;
    CFirmwareUpdater* m_updater = nullptr;
    std::vector<EngineEventRecord> m_events;
    int m_timerTicks = 0;
};

// Pumps the test thread's queue until done() holds or limit (real time)
// passed; true when done.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s);
// Pumps for a stretch of real time.
void PumpFor(std::chrono::milliseconds span);
// Moves the clock (ticks fall due) and dispatches what is due.
void AdvanceAndPump(platform::CTestClock& clock, std::uint64_t ms);

// A program started by a test, always ended and reaped by the destructor.
class CChildProgram {
public:
    CChildProgram() = default;
    ~CChildProgram();
    CChildProgram(const CChildProgram&) = delete;
    CChildProgram& operator=(const CChildProgram&) = delete;

    bool Start(const std::string& program, const std::vector<std::string>& args);
    bool IsRunning() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    bool Signal(int signal) const;
    // The wait status once it ended within limit (real time).
    std::optional<int> WaitForExit(std::chrono::milliseconds limit);

private:
    pid_t m_pid = -1;
};

// Waits (real time) until path names a non-empty file.
bool WaitForFile(const std::string& path, std::chrono::milliseconds limit);
std::string ReadText(const std::string& path);

// The boot-loader simulator program on a pseudo-terminal linked at
// <root>/dev/ttyS3, logging to <root>/sim.log.
class CSimulatorRun {
public:
    explicit CSimulatorRun(const testing_support::CScopedSysroot& root) : m_root(root) {}

    // Adds the link, ready file, log and a safety time limit to args.
    bool Start(std::vector<std::string> args);
    std::string Path(std::string_view relative) const { return m_root.Directory() / relative; }
    std::string Log() const { return ReadText(Path("sim.log")); }
    // Every frame the simulator received, whole, in order.
    std::vector<Bytes> ReceivedFrames() const;
    std::size_t ReceivedFrameCount() const { return ReceivedFrames().size(); }
    bool WaitForReceivedFrames(std::size_t count, std::chrono::milliseconds limit = 5s) const;
    // Ends the program (SIGTERM, which writes its files) and returns its exit
    // status; -1 when it did not end or ended otherwise.
    int Finish();

private:
    const testing_support::CScopedSysroot& m_root;
    CChildProgram m_program;
};

// Plays the boot loader by hand on the master side of a pseudo-terminal: reads
// the frames the updater writes and writes answers.
class CLinkPeer {
public:
    CLinkPeer(Family family, const testing_support::CPseudoTerminal& pty);
    ~CLinkPeer();

    // The payload of the next frame, when one arrives within limit.
    std::optional<Bytes> NextPayload(std::chrono::milliseconds limit = 3s);
    // Payloads of the frames that arrive within the window.
    std::vector<Bytes> PayloadsWithin(std::chrono::milliseconds window);
    // Every byte received so far, frames and all.
    const Bytes& Received() const { return m_received; }
    bool Answer(const Bytes& payload);

private:
    bool ReadSome(std::chrono::milliseconds limit);

    Family m_family;
    const testing_support::CPseudoTerminal& m_pty;
    std::unique_ptr<CMcuFrameCodec> m_codec;
    Bytes m_received;
};

// Firmware files.
Bytes Pattern(std::size_t size, std::uint32_t seed);
// One S-record line with count and checksum; type '1'/'9' 16-bit, '2'/'8'
// 24-bit, '0' 16-bit address.
std::string SRecordLine(char type, std::uint32_t address, const Bytes& data);
// Family A: optional tag record at 0x9FE0 (three zero bytes, then the tag),
// the image in S2 records from 0xA000, the termination record.
std::string FamilyAFile(const Bytes& image, std::string_view tag = "STM8QD5C");
// Family B: a header record holding headerTag, the image in S1 records from
// 0x1000, the termination record. records receives the lines in order.
std::string FamilyBFile(const Bytes& image, std::vector<std::string>& records,
                        std::string_view headerTag = "APP");
// image padded with zeros to whole 128-byte blocks, as family A sends it.
Bytes PaddedToBlocks(const Bytes& image);

// The frame bytes a codec builds, for comparisons.
Bytes FrameBytes(Family family, std::uint8_t command, std::uint8_t subCommand,
                 const Bytes& payload);
Bytes HelloFrame(Family family);
// The payload of one whole frame; empty when it is not a good frame.
Bytes PayloadOf(Family family, const Bytes& frame);

// The common ground of the updater tests: a scratch system root (registry,
// devices), a scratch executable directory, the paced clock, the main window,
// and the holder made on demand.
class CUpdaterFixture : public ::testing::Test {
protected:
    CUpdaterFixture();
    void SetUp() override;
    void TearDown() override;

    // Writes a file next to "the executable".
    std::string WriteExeFile(std::string_view name, std::string_view contents) const;
    std::string WriteExeFile(std::string_view name, const Bytes& contents) const;
    std::string ExeDirectory() const { return m_exeDirectory.Path() + "/"; }
    std::string DevicePath() const { return m_root.Directory() / "dev/ttyS3"; }

    // Registries that choose each family.
    void UseFamilyA() const { m_root.WriteUnitRegistry("MSTAR786", 18); }
    void UseFamilyB(std::string_view hwVersion = {}) const {
        m_root.WriteUnitRegistry("S5P6450", 18, hwVersion);
    }
    // Platform code 8: "MSTAR2521" with project type 19 (family A).
    void UsePlatformWithVersion() const { m_root.WriteUnitRegistry("MSTAR2521", 19); }
    void UseFamily(Family family) const { family == Family::kA ? UseFamilyA() : UseFamilyB(); }

    // Creates the holder (and its updater) for the main window.
    CUpdaterHolder& MakeHolder();
    CFirmwareUpdater& Updater();
    // What the main window does when it goes away: Stop, then Destroy.
    void DestroyHolder();
    // Posts event 8 as the main window does after its initialisation.
    void PostStartUp() const;
    // Pumps until the transfer (or the start-up) ended.
    bool WaitUntilFinished(std::chrono::milliseconds limit = 15s) const;
    // Pumps until finished, advancing the clock by one answer time-out
    // whenever neither the events nor sim's log have moved for a while, so
    // that lost answers are repeated. False when it did not finish.
    bool RunWithTimeouts(const CSimulatorRun& sim, std::chrono::milliseconds limit = 20s);

    testing_support::CScopedSysroot m_root;
    testing_support::CScratchDirectory m_exeDirectory;
    CPacedTestClock m_clock;
    CMainTestWindow m_window;
    CUpdaterHolder* m_holder = nullptr;
};

}  // namespace updater_test
