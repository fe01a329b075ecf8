#include "tools/bootloader_sim/simulator_options.h"

#include <charconv>
#include <cstddef>
#include <string_view>

namespace {

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data(), last, value);
    return !text.empty() && error == std::errc() && end == last;
}

bool ParseRate(std::string_view text, double& rate) {
    return ParseNumber(text, rate) && rate >= 0.0 && rate <= 1.0;
}

// "INDEX:TIMES", or "INDEX" alone when timesOptional (TIMES is then 1).
bool ParseBlockMisbehaviour(std::string_view text, bool timesOptional, BlockMisbehaviour& block) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        block.times = 1;
        return timesOptional && ParseNumber(text, block.index);
    }
    return ParseNumber(text.substr(0, colon), block.index) &&
           ParseNumber(text.substr(colon + 1), block.times) && block.times > 0;
}

}  // namespace

OptionsVerdict ParseSimulatorOptions(const std::vector<std::string>& args,
                                     SimulatorOptions& options, std::string& message) {
    const auto fail = [&message](std::string text) {
        message = std::move(text);
        return OptionsVerdict::kError;
    };
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& option = args[k];
        if (option == "--help" || option == "-h") {
            return OptionsVerdict::kHelp;
        }
        // Flags without a value.
        if (option == "--no-version") {
            options.sendVersion = false;
            continue;
        }
        if (option == "--noise") {
            options.noise = true;
            continue;
        }
        if (option == "--split") {
            options.split = true;
            continue;
        }
        // Everything else takes one value.
        if (k + 1 >= args.size()) {
            return fail(option.rfind("--", 0) == 0 ? option + " needs a value"
                                                   : "unknown argument " + option);
        }
        const std::string& value = args[++k];
        const auto bad = [&]() { return fail("bad value for " + option + ": " + value); };
        if (option == "--family") {
            if (value == "a" || value == "A") {
                options.family = SimulatorFamily::kA;
            } else if (value == "b" || value == "B") {
                options.family = SimulatorFamily::kB;
            } else {
                return bad();
            }
        } else if (option == "--link") {
            options.linkPath = value;
        } else if (option == "--device") {
            options.devicePath = value;
        } else if (option == "--version") {
            if (value.size() > SimulatorOptions::kMaxVersionBytes) {
                return bad();
            }
            options.versionText = value;
            options.sendVersion = true;
        } else if (option == "--image-out") {
            options.imageOutPath = value;
        } else if (option == "--lines-out") {
            options.linesOutPath = value;
        } else if (option == "--log") {
            options.logPath = value;
        } else if (option == "--ready-file") {
            options.readyFilePath = value;
        } else if (option == "--transfers") {
            std::uint32_t count = 0;
            if (!ParseNumber(value, count) || count == 0) {
                return bad();
            }
            options.transfers = count;
        } else if (option == "--time-limit-s") {
            if (!ParseNumber(value, options.timeLimitS) || options.timeLimitS <= 0) {
                return bad();
            }
        } else if (option == "--linger-ms") {
            if (!ParseNumber(value, options.lingerMs)) {
                return bad();
            }
        } else if (option == "--silent-after" || option == "--hangup-after") {
            std::uint32_t count = 0;
            // Frames count from 1: a hang-up "after frame 0" names no frame.
            if (!ParseNumber(value, count) || (count == 0 && option == "--hangup-after")) {
                return bad();
            }
            (option == "--silent-after" ? options.silentAfter : options.hangupAfter) = count;
        } else if (option == "--refuse-block") {
            BlockMisbehaviour block;
            if (!ParseBlockMisbehaviour(value, false, block)) {
                return bad();
            }
            options.refuseBlocks.push_back(block);
        } else if (option == "--wrong-address") {
            BlockMisbehaviour block;
            if (!ParseBlockMisbehaviour(value, true, block)) {
                return bad();
            }
            options.wrongAddresses.push_back(block);
        } else if (option == "--corrupt-rate") {
            if (!ParseRate(value, options.corruptRate)) {
                return bad();
            }
        } else if (option == "--drop-rate") {
            if (!ParseRate(value, options.dropRate)) {
                return bad();
            }
        } else if (option == "--seed") {
            if (!ParseNumber(value, options.seed)) {
                return bad();
            }
        } else if (option == "--answer-delay-ms") {
            if (!ParseNumber(value, options.answerDelayMs)) {
                return bad();
            }
        } else if (option == "--baud") {
            if (!ParseNumber(value, options.baud) || options.baud == 0) {
                return bad();
            }
        } else if (option == "--flash-write-ms") {
            if (!ParseNumber(value, options.flashWriteMs)) {
                return bad();
            }
        } else {
            return fail("unknown option " + option);
        }
    }
    if (!options.linkPath.empty() && !options.devicePath.empty()) {
        return fail("--link and --device exclude each other");
    }
    if (options.family == SimulatorFamily::kB) {
        // Family B answers name no block, so there is no address to get wrong.
        if (!options.wrongAddresses.empty()) {
            return fail("--wrong-address needs --family a: family B answers carry no address");
        }
    } else if (!options.linesOutPath.empty()) {
        return fail("--lines-out needs --family b: family A blocks carry no lines");
    }
    return OptionsVerdict::kRun;
}

std::string SimulatorHelpText() {
    return R"(Usage: bootloader_sim [OPTION]...
Plays the microcontroller's boot loader on a serial line: answers the hello,
start, data and end frames of a firmware transfer (and, in family A, the key
frames), checks what it receives and writes the received image to a file.

Where it listens (default: a pseudo-terminal of its own, without a link):
  --link PATH            create a pseudo-terminal and link its slave at PATH
                         (e.g. <root>/dev/ttyS3); the link is removed at exit
  --device PATH          use this serial device instead (the line is set to
                         --baud, or 115200)
  --ready-file FILE      once the line is ready, write the path the updater
                         should open (the link, else the slave or device) to
                         FILE, followed by a line end

What it plays:
  --family a|b           a: format A frames, 'a'/'b'/'c' blocks, key frames
                         'L'/'M' (default); b: format B frames, 'Y' blocks
                         with one S-record line each
  --version TEXT         family A: the version answered to the hello
                         (default HX90020130105), sent as 'V' TEXT and a zero
  --no-version           family A: do not answer the hello

What it writes:
  --image-out FILE       family A: the image from 0xA000 up to the highest byte
                         written; family B: the image decoded from the S1/S2/S3
                         records, from their lowest address. Gaps are 0xFF.
                         Written after each transfer and at exit.
  --lines-out FILE       family B: each record received, one per line, in order
  --log FILE             every frame received and sent, in hex, one line each,
                         with the milliseconds since start and a direction
                         ("<-" received, "->" sent, "--" note, "!!" violation);
                         default: standard error. Violations also go to
                         standard error.

When it ends (also on SIGTERM, SIGINT, SIGHUP; the link is removed and the
files are written):
  --transfers N          after N transfers answered with success (a key
                         read-back counts as one), once the line has been
                         quiet for the linger time
  --linger-ms MS         quiet time before ending after the last transfer
                         (default 300), to answer repeats of the last frame
  --time-limit-s S       after S seconds (fractions allowed)

Misbehaviour (block INDEX counts the data blocks of a transfer from 0):
  --silent-after N       answer the first N frames, then nothing at all
  --hangup-after N       close the line when the Nth frame arrives (it is not
                         answered) and end
  --refuse-block INDEX:TIMES
                         refuse data block INDEX the first TIMES times it
                         arrives ('b' address flag 0 / 0x84 0x01); repeatable
  --wrong-address INDEX[:TIMES]
                         family A: acknowledge data block INDEX with the
                         address of the next block the first TIMES (default 1)
                         times it arrives; repeatable
  --corrupt-rate R       corrupt each answer with probability R (0..1): one
                         byte of its payload or checksum is inverted
  --drop-rate R          leave each answer out with probability R (0..1)
  --seed S               seed of the random choices (default 1)
  --noise                write 1..16 random bytes before each answer; they never
                         hold a start mark byte of the family
  --split                write each answer in 2 or 3 pieces, a little apart
  --answer-delay-ms MS   wait MS before each answer
  --baud B               before each answer, wait the wire time at B baud (10
                         bits a byte) of the frame received and of the answer
  --flash-write-ms MS    wait MS more before answering a data block

  --help                 this text

Exit status: 0 when all went well; 1 when violations were seen (the summary
line gives their count); 2 for a bad command line, or a line that cannot be
set up or fails; 3 when --transfers was given and the run ended (time limit,
signal, hang-up) before that many transfers were served.
)";
}
