// One whole firmware update against the boot-loader simulator, with a mix of
// faults chosen at random: what to send, how the simulator misbehaves, and
// what came of it. The soak runs hundreds of these in one process.
//
// Everything here runs on the test's thread, except the simulator program.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/test_clock.h"
#include "tests/engine/updater_test_support.h"

namespace soak {

using updater_test::Bytes;
using updater_test::Family;

// How the simulator misbehaves in one transfer. Block indexes count the data
// blocks (family B: the lines) from 0.
struct FaultPlan {
    double corruptRate = 0;
    double dropRate = 0;
    bool noise = false;
    bool split = false;
    std::uint32_t answerDelayMs = 0;
    std::map<std::uint32_t, std::uint32_t> refusals;        // block -> times
    std::map<std::uint32_t, std::uint32_t> wrongAddresses;  // family A: block -> times
    std::uint32_t silentAfter = 0;                          // 0: answers all frames
    std::uint32_t hangupAfter = 0;                          // 0: keeps the line
    std::uint32_t seed = 1;
};

struct TransferPlan {
    std::uint32_t index = 0;
    Family family = Family::kA;
    Bytes image;
    std::size_t recordBytes = 32;  // family B: data bytes per S-record line
    char recordType = '1';         // family B: '1' (16-bit) or '2' (24-bit addresses)
    std::uint32_t base = 0;        // family B: address of the first image byte
    FaultPlan faults;
};

// An answer held back longer than this makes the soak's driver count the
// frame as unanswered and move the clock on by one time-out: the answer then
// arrives after the repeat, late.
constexpr auto kIdleBeforeTick = std::chrono::milliseconds(40);

// Frames of the transfer proper: start, data blocks (lines), end.
std::size_t TransferFrames(const TransferPlan& plan);
// Data blocks (family A) or S-record lines (family B).
std::size_t DataFrames(const TransferPlan& plan);
std::uint32_t RefusalsInARow(const TransferPlan& plan, std::uint32_t block);
// Names of the fault kinds in the plan ("drop", "hang-up", ...); "none" alone
// when there are none.
std::vector<std::string> FaultKinds(const TransferPlan& plan);
std::string Describe(const TransferPlan& plan);

// What the outcome must be: event 2, event 3, or either.
enum class Expected : std::uint8_t { kSuccess, kFailure, kEither };
Expected ExpectedOutcome(const TransferPlan& plan);

// The longest the transfer may take on the test clock: every frame (and every
// repeat an answer asks for) costs at most three answer time-outs.
std::uint64_t ClockBoundMs(const TransferPlan& plan);
// The longest it may take in real time.
std::chrono::milliseconds RealBound(const TransferPlan& plan);

// A random plan; its images are mostly small so that hundreds of transfers
// take minutes.
TransferPlan MakeRandomPlan(std::mt19937& random, std::uint32_t index);

// The firmware file of the plan, and the image the simulator must write out
// when the whole file got through.
std::string FirmwareText(const TransferPlan& plan);
Bytes ExpectedImage(const TransferPlan& plan);
std::vector<std::string> SimulatorArgs(const TransferPlan& plan, const std::string& imageOut);

struct TransferOutcome {
    bool started = false;  // the simulator came up
    bool ended = false;    // event 2 or 3 within the real-time bound
    std::uint32_t finalEvent = 0;
    std::size_t finalEvents = 0;   // events 2 and 3 seen, also after the first
    std::size_t otherEnds = 0;     // events 4 and 5
    std::uint64_t clockMs = 0;     // test clock from event 1 to the end
    int ticks = 0;                 // answer timer ticks handed to the updater
    double realMs = 0;             // from the start-up event to the end
    double cpuShareAfterEnd = -1;  // hang-ups: processor time / real time once ended
    bool imageMatches = false;
    int simulatorStatus = -1;
    std::string simulatorLog;
};

// Runs the plan in a fresh system root: simulator, stand-in main window,
// updater holder; destroys the holder and ends the simulator before it
// returns. The clock must be the platform's clock.
TransferOutcome RunTransfer(const TransferPlan& plan, platform::CTestClock& clock);

// The process's resources.
std::size_t OpenDescriptors();
std::size_t ResidentKib();
double CpuSeconds();

}  // namespace soak
