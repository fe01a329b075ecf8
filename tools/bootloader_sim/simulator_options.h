// The boot-loader simulator's command line: what it plays (family, version),
// where (a pseudo-terminal of its own or a given device), what it writes, when
// it ends, and how it misbehaves on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class SimulatorFamily : std::uint8_t {
    kA,  // format A frames, the 'a'/'b'/'c' dialogue, key frames 'L' and 'M'
    kB,  // format B frames, the 'Y' dialogue with one S-record line per block
};

// A data block (by its 0-based index in the transfer) that is answered
// wrongly for its first `times` arrivals.
struct BlockMisbehaviour {
    std::uint32_t index = 0;
    std::uint32_t times = 1;
};

struct SimulatorOptions {
    static constexpr const char* kDefaultVersionText = "HX90020130105";
    static constexpr std::uint32_t kDefaultLingerMs = 300;
    // The version answer must fit one frame with room to spare.
    static constexpr std::size_t kMaxVersionBytes = 200;

    SimulatorFamily family = SimulatorFamily::kA;

    // Where: a pseudo-terminal whose slave is linked at linkPath (no link when
    // empty), or, when devicePath is set, that device instead.
    std::string linkPath;
    std::string devicePath;

    std::string versionText = kDefaultVersionText;
    bool sendVersion = true;

    std::string imageOutPath;
    std::string linesOutPath;  // family B only
    std::string logPath;       // empty: standard error
    std::string readyFilePath;

    // Ending: after this many transfers served (and a quiet linger), after the
    // time limit (0: none), or on SIGTERM / SIGINT.
    std::optional<std::uint32_t> transfers;
    double timeLimitS = 0;
    std::uint32_t lingerMs = kDefaultLingerMs;

    // Misbehaviour.
    std::optional<std::uint32_t> silentAfter;  // frames answered before falling silent
    std::optional<std::uint32_t> hangupAfter;  // the frame on which the line is hung up
    std::vector<BlockMisbehaviour> refuseBlocks;
    std::vector<BlockMisbehaviour> wrongAddresses;  // family A only
    double corruptRate = 0;
    double dropRate = 0;
    std::uint32_t seed = 1;
    bool noise = false;
    bool split = false;
    std::uint32_t answerDelayMs = 0;
    std::uint32_t baud = 0;  // 0: answers are not paced to a line rate
    std::uint32_t flashWriteMs = 0;
};

// Outcome of reading the command line.
enum class OptionsVerdict : std::uint8_t {
    kRun,
    kHelp,   // --help: print the help text and end successfully
    kError,  // message says what is wrong
};

// args holds the arguments without the program name.
OptionsVerdict ParseSimulatorOptions(const std::vector<std::string>& args,
                                     SimulatorOptions& options, std::string& message);

// The --help text, listing every option.
std::string SimulatorHelpText();
