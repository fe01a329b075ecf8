// Whole firmware updates against the boot-loader simulator, paced like the
// real line: family A at 115200 baud, family B on "V1" hardware at 19200
// baud, both with 2 ms of flash writing per data block (family B: per line).
// Reports how close the transfer comes to the time the line and the flash
// need (efficiency) and how much processor time the updater spends on it.
//
//   efficiency  = (wire time of every byte both ways at 10 bits a byte, plus
//                  the flash time) / measured transfer time
//   sim_pacing  = the delays the simulator itself adds (it rounds each wire
//                 time up to whole milliseconds) / measured transfer time:
//                 what is left is the updater's own latency
//   cpu_share   = processor time of this process (all threads, getrusage)
//                 / wall time of the transfer
// A second run without any pacing gives the round trip of one exchange
// (updater, pseudo-terminal and simulator together): the latency that the
// paced run adds to each block.
//
// The images are small (family A 4 KiB, family B 1 KiB: 32 lines of 32 bytes)
// unless asked for otherwise, so that the short run in CTest stays short. A
// full run with a 64 KiB family A image (about 8 s) and a 16 KiB family B
// image (512 lines, about 27 s at 19200 baud; 64 KiB would take almost 2
// minutes):
//   build/<dir>/benchmarks/updater_transfer_benchmark --image-kib=64 --lines-kib=16
// or set KESTROVAN_UPDATER_BENCH_IMAGE_KIB and KESTROVAN_UPDATER_BENCH_LINES_KIB.
// The simulator program is found next to the build's benchmarks folder
// (tools/bootloader_sim/bootloader_sim), or at the path in
// KESTROVAN_BOOTLOADER_SIM.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/event_messages.h"
#include "engine/firmware_updater.h"
#include "engine/updater_holder.h"
#include "mcu_link/engine_events.h"
#include "platform/debug_output.h"
#include "platform/event.h"
#include "platform/files.h"
#include "platform/system_root.h"
#include "platform/window_messages.h"

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;

constexpr std::string_view kImageFlag = "--image-kib=";
constexpr std::string_view kLinesFlag = "--lines-kib=";
constexpr const char* kImageVariable = "KESTROVAN_UPDATER_BENCH_IMAGE_KIB";
constexpr const char* kLinesVariable = "KESTROVAN_UPDATER_BENCH_LINES_KIB";
constexpr const char* kSimulatorVariable = "KESTROVAN_BOOTLOADER_SIM";
constexpr std::uint32_t kDefaultImageKib = 4;
constexpr std::uint32_t kDefaultLinesKib = 1;
constexpr std::uint32_t kMaxImageKib = 1024;

constexpr std::uint32_t kBaudRate = 115200;
constexpr std::uint32_t kSlowBaudRate = 19200;  // family B on "V1" hardware
constexpr std::uint32_t kFlashWriteMs = 2;
constexpr std::uint32_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit

constexpr std::uint32_t kImageBase = 0xA000;
constexpr std::uint32_t kTagAddress = 0x9FE0;
constexpr std::size_t kRecordBytes = 32;
constexpr std::size_t kBlockBytes = 128;
// Frames of both families: 8 bytes around the payload.
constexpr std::size_t kFrameOverheadBytes = 8;
constexpr std::size_t kStartEndPayloadBytes = 5;  // 'a'/'c' and "STM8"
constexpr std::size_t kDataPayloadBytes = 133;    // 'b', address, 128 bytes
constexpr std::size_t kStartAnswerPayloadBytes = 2;
constexpr std::size_t kDataAnswerPayloadBytes = 6;
constexpr std::size_t kEndAnswerPayloadBytes = 1;
// Family B: S2 lines of 32 data bytes from this address; every block is 'Y'
// and a step byte, every answer 0x84 and a verdict (the frame also takes 8
// bytes around its payload).
constexpr std::uint32_t kLineBase = 0x28000;
constexpr std::size_t kLineRecordBytes = 32;
constexpr std::size_t kLineBlockHeadBytes = 2;
constexpr std::size_t kLineAnswerPayloadBytes = 2;

std::uint32_t g_imageKib = kDefaultImageKib;
std::uint32_t g_linesKib = kDefaultLinesKib;

// ---- Files and programs ----

std::string SRecordLine(char type, std::uint32_t address, const Bytes& data) {
    const int addressBytes = type == '2' || type == '8' ? 3 : 2;
    // Count, address, data, checksum; reserved at once, which also keeps the
    // compiler's overflow check from misreading the growth of a short vector.
    Bytes bytes;
    bytes.reserve(1 + addressBytes + data.size() + 1);
    bytes.push_back(static_cast<std::uint8_t>(addressBytes + data.size() + 1));
    for (int k = addressBytes - 1; k >= 0; --k) {
        bytes.push_back(static_cast<std::uint8_t>(address >> (8 * k)));
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (const std::uint8_t byte : bytes) {
        sum += byte;
    }
    bytes.push_back(static_cast<std::uint8_t>(~sum));
    std::string line = {'S', type};
    char pair[3];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", byte);
        line += pair;
    }
    return line + "\r\n";
}

// Family A: the platform tag record and the image in S2 records from 0xA000.
std::string FirmwareText(const Bytes& image) {
    const std::string tag = "STM8QD5C";
    Bytes tagData(3, 0);
    tagData.insert(tagData.end(), tag.begin(), tag.end());
    std::string text = SRecordLine('1', kTagAddress, tagData);
    for (std::size_t offset = 0; offset < image.size(); offset += kRecordBytes) {
        const std::size_t end = std::min(image.size(), offset + kRecordBytes);
        text += SRecordLine('2', kImageBase + static_cast<std::uint32_t>(offset),
                            Bytes(image.begin() + static_cast<long>(offset),
                                  image.begin() + static_cast<long>(end)));
    }
    return text + SRecordLine('8', kImageBase, {});
}

// Family B: a header record, the image in S2 lines, the termination record.
// lines receives each line as it goes out, without its line end.
std::string LineFirmwareText(const Bytes& image, std::vector<std::string>& lines) {
    lines = {SRecordLine('0', 0, {'A', 'P', 'P'})};
    for (std::size_t offset = 0; offset < image.size(); offset += kLineRecordBytes) {
        const std::size_t end = std::min(image.size(), offset + kLineRecordBytes);
        lines.push_back(SRecordLine('2', kLineBase + static_cast<std::uint32_t>(offset),
                                    Bytes(image.begin() + static_cast<long>(offset),
                                          image.begin() + static_cast<long>(end))));
    }
    lines.push_back(SRecordLine('8', kLineBase, {}));
    std::string text;
    for (std::string& line : lines) {
        text += line;
        line.resize(line.size() - 2);  // the line end is not sent
    }
    return text;
}

Bytes MakeImage(std::size_t bytes) {
    Bytes image(bytes);
    for (std::size_t k = 0; k < image.size(); ++k) {
        image[k] = static_cast<std::uint8_t>(k * 7 + k / 251);
    }
    return image;
}

bool WriteFile(const std::string& path, std::string_view contents) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream file(path, std::ios::binary);
    file.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    return static_cast<bool>(file);
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

std::string SimulatorProgram() {
    if (const char* path = std::getenv(kSimulatorVariable); path != nullptr && *path != 0) {
        return path;
    }
    // <build>/benchmarks/updater_transfer_benchmark -> <build>/tools/bootloader_sim/bootloader_sim
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return (self.parent_path().parent_path() / "tools/bootloader_sim/bootloader_sim").string();
}

class CScratchRoot {
public:
    CScratchRoot() {
        char pattern[] = "/tmp/kestrovan-bench-XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            m_path = pattern;
        }
    }
    ~CScratchRoot() {
        std::error_code ignored;
        if (!m_path.empty()) {
            std::filesystem::remove_all(m_path, ignored);
        }
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

class CSimulator {
public:
    ~CSimulator() { Stop(); }
    bool Start(const std::vector<std::string>& args, const std::string& readyFile) {
        std::vector<std::string> words = {SimulatorProgram()};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
            return false;
        }
        const auto deadline = SteadyClock::now() + std::chrono::seconds(10);
        std::error_code error;
        while (std::filesystem::file_size(readyFile, error) == 0 || error) {
            if (SteadyClock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            error.clear();
        }
        return true;
    }
    // Ends the simulator (it writes its image on the way out); its exit status.
    int Stop() {
        if (m_pid <= 0) {
            return -1;
        }
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
};

// ---- Timing model ----

double WireMs(std::size_t bytes, std::uint32_t baud) {
    return static_cast<double>(bytes * kBitsPerByte) * 1000.0 / baud;
}

// The simulator's own rounding: each wire time up to whole microseconds.
double SimulatorWireMs(std::size_t bytes, std::uint32_t baud) {
    const std::uint64_t bits = static_cast<std::uint64_t>(bytes) * kBitsPerByte * 1'000'000;
    return static_cast<double>((bits + baud - 1) / baud) / 1000.0;
}

struct TransferModel {
    double idealMs = 0;      // wire time of every byte plus the flash time
    double simulatorMs = 0;  // the delays the simulator adds
};

// One kind of exchange: a frame sent, its answer, how often, and whether
// the boot loader writes flash before it answers.
struct Exchange {
    std::size_t sentPayload;
    std::size_t answerPayload;
    std::size_t count;
    bool flash;
};

TransferModel Model(const std::vector<Exchange>& exchanges, std::uint32_t baud) {
    TransferModel model;
    for (const Exchange& exchange : exchanges) {
        const std::size_t sent = exchange.sentPayload + kFrameOverheadBytes;
        const std::size_t answer = exchange.answerPayload + kFrameOverheadBytes;
        const double flash = exchange.flash ? kFlashWriteMs : 0;
        const auto count = static_cast<double>(exchange.count);
        model.idealMs += count * (WireMs(sent, baud) + WireMs(answer, baud) + flash);
        model.simulatorMs +=
            count * (SimulatorWireMs(sent, baud) + SimulatorWireMs(answer, baud) + flash);
    }
    return model;
}

TransferModel BlockModel(std::size_t blocks) {
    return Model({{kStartEndPayloadBytes, kStartAnswerPayloadBytes, 1, false},
                  {kDataPayloadBytes, kDataAnswerPayloadBytes, blocks, true},
                  {kStartEndPayloadBytes, kEndAnswerPayloadBytes, 1, false}},
                 kBaudRate);
}

TransferModel LineModel(const std::vector<std::string>& lines) {
    std::vector<Exchange> exchanges = {{kLineBlockHeadBytes, kLineAnswerPayloadBytes, 1, false}};
    for (const std::string& line : lines) {
        exchanges.push_back({kLineBlockHeadBytes + line.size(), kLineAnswerPayloadBytes, 1, true});
    }
    exchanges.push_back({kLineBlockHeadBytes, kLineAnswerPayloadBytes, 1, false});
    return Model(exchanges, kSlowBaudRate);
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// ---- The run ----

// The main window's part: initialise on request, run the start routine on
// event 12 (timing the transfer from there), pass answer-timer ticks on, and
// note the end.
struct TransferWindow {
    CUpdaterHolder* holder = nullptr;
    std::uint32_t outcome = 0;  // 2 or 3 (or 4, 5) once the update ended
    SteadyClock::time_point begun;
    SteadyClock::time_point ended;
    double cpuAtBegin = 0;
    double cpuAtEnd = 0;

    platform::LResult OnMessage(platform::MessageId message, platform::WParam wParam) {
        if (message == platform::kWmTimer) {
            holder->OnTimer(static_cast<std::uint32_t>(wParam));
            return 0;
        }
        if (message != EngineEventMessage()) {
            return 0;
        }
        switch (static_cast<EngineEvent>(wParam)) {
            case EngineEvent::kBeginTransfer:
                holder->Start();  // the file is parsed here, before the clock starts
                begun = SteadyClock::now();
                cpuAtBegin = CpuSeconds();
                break;
            case EngineEvent::kUpdateSucceeded:
            case EngineEvent::kUpdateFailed:
            case EngineEvent::kFileMissing:
            case EngineEvent::kPortUnavailable:
                if (outcome == 0) {
                    ended = SteadyClock::now();
                    cpuAtEnd = CpuSeconds();
                    outcome = static_cast<std::uint32_t>(wParam);
                }
                break;
            default:
                break;
        }
        return 0;
    }
};

// What differs between the families' runs.
struct TransferSetup {
    std::string registryValues;  // the unit's values, in registry export lines
    std::string firmware;        // the firmware file's text
    std::vector<std::string> simulatorArgs;
    Bytes expectedImage;  // what the simulator must write out
    std::size_t imageBytes = 0;
    std::size_t exchanges = 0;  // start, every block (line), end
    TransferModel model;
};

// One transfer per iteration, timed from the start routine to the end.
// paced: the simulator answers after the wire and flash times; otherwise at once.
void RunTransfers(benchmark::State& state, const TransferSetup& setup, bool paced) {
    platform::SetDebugHook([](std::string_view) {});  // the engine's diagnostics are not timed

    double efficiencySum = 0;
    double pacingSum = 0;
    double cpuShareSum = 0;
    double transferMsSum = 0;
    for (auto _ : state) {
        CScratchRoot root;
        setenv(platform::kSysrootVariable, root.Path().c_str(), 1);
        WriteFile(root.Path() + "/etc/registry.reg",
                  "Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\SoftWare\\Tovren\\Os]\r\n" +
                      setup.registryValues);
        WriteFile(root.Path() + "/app/app.s19", setup.firmware);
        platform::SetModuleFileNameForTesting(root.Path() + "/app/Kestrovan.exe");
        CFirmwareUpdater::ResetProcessValuesForTesting();

        CSimulator simulator;
        const std::string imageOut = root.Path() + "/image.bin";
        std::vector<std::string> args = {"--link",         root.Path() + "/dev/ttyS3",
                                         "--ready-file",   root.Path() + "/sim.ready",
                                         "--log",          root.Path() + "/sim.log",
                                         "--image-out",    imageOut,
                                         "--time-limit-s", "600"};
        args.insert(args.end(), setup.simulatorArgs.begin(), setup.simulatorArgs.end());
        if (!paced) {
            // The pacing options come last; without pacing they are left out.
            args.resize(args.size() - 4);
        }
        if (!simulator.Start(args, root.Path() + "/sim.ready")) {
            state.SkipWithError("the boot-loader simulator did not start");
            break;
        }

        TransferWindow transfer;
        const platform::WindowHandle window =
            platform::CreateWindow([&transfer](platform::WindowHandle, platform::MessageId message,
                                               platform::WParam wParam, platform::LParam) {
                return transfer.OnMessage(message, wParam);
            });
        transfer.holder = CUpdaterHolder::Create(window);
        transfer.holder->Initialise();  // what the window's start-up event runs
        // The window's thread sleeps until a message or a tick is due.
        while (platform::PumpMessages() && transfer.outcome == 0) {
            platform::WaitForMessages(platform::kInfinite);
        }
        transfer.holder->Stop();
        transfer.holder->Destroy();
        platform::DestroyWindow(window);
        const int simulatorStatus = simulator.Stop();

        if (transfer.outcome != static_cast<std::uint32_t>(EngineEvent::kUpdateSucceeded)) {
            state.SkipWithError("the transfer did not succeed");
            break;
        }
        if (simulatorStatus != 0 || ReadBytes(imageOut) != setup.expectedImage) {
            state.SkipWithError("the simulator saw violations or a wrong image");
            break;
        }
        const double transferMs =
            std::chrono::duration<double, std::milli>(transfer.ended - transfer.begun).count();
        state.SetIterationTime(transferMs / 1000.0);
        transferMsSum += transferMs;
        efficiencySum += setup.model.idealMs / transferMs;
        pacingSum += setup.model.simulatorMs / transferMs;
        cpuShareSum += (transfer.cpuAtEnd - transfer.cpuAtBegin) * 1000.0 / transferMs;
    }
    platform::SetModuleFileNameForTesting("");
    unsetenv(platform::kSysrootVariable);
    platform::SetDebugHook({});

    const auto runs = static_cast<double>(state.iterations());
    if (runs == 0 || transferMsSum == 0) {
        return;
    }
    state.counters["image_bytes"] = static_cast<double>(setup.imageBytes);
    state.counters["transfer_ms"] = transferMsSum / runs;
    state.counters["cpu_share"] = cpuShareSum / runs;
    if (!paced) {
        state.counters["round_trip_us"] =
            transferMsSum / runs * 1000.0 / static_cast<double>(setup.exchanges);
        return;
    }
    state.counters["ideal_ms"] = setup.model.idealMs;
    state.counters["sim_paced_ms"] = setup.model.simulatorMs;
    state.counters["efficiency"] = efficiencySum / runs;
    state.counters["sim_pacing"] = pacingSum / runs;
}

// Family A ("MSTAR786"): 128-byte blocks at 115200 baud.
void BM_FamilyATransfer(benchmark::State& state, bool paced) {
    TransferSetup setup;
    setup.imageBytes = std::size_t{g_imageKib} * 1024;
    const std::size_t blocks = (setup.imageBytes + kBlockBytes - 1) / kBlockBytes;
    const Bytes image = MakeImage(setup.imageBytes);
    setup.registryValues = "\"CPU_TYPE\"=\"MSTAR786\"\r\n\"PROJECTTYPE\"=dword:00000012\r\n";
    setup.firmware = FirmwareText(image);
    setup.simulatorArgs = {"--family",         "a",
                           "--baud",           std::to_string(kBaudRate),
                           "--flash-write-ms", std::to_string(kFlashWriteMs)};
    setup.expectedImage = image;
    setup.expectedImage.resize(blocks * kBlockBytes, 0);
    setup.exchanges = blocks + 2;
    setup.model = BlockModel(blocks);
    RunTransfers(state, setup, paced);
}

// Family B on "V1" hardware: one S-record line per frame at 19200 baud.
void BM_FamilyBSlowTransfer(benchmark::State& state, bool paced) {
    TransferSetup setup;
    setup.imageBytes = std::size_t{g_linesKib} * 1024;
    const Bytes image = MakeImage(setup.imageBytes);
    std::vector<std::string> lines;
    setup.registryValues =
        "\"CPU_TYPE\"=\"S5P6450\"\r\n\"PROJECTTYPE\"=dword:00000012\r\n"
        "\"HW_VERSION\"=\"V1.0\"\r\n";
    setup.firmware = LineFirmwareText(image, lines);
    setup.simulatorArgs = {"--family",         "b",
                           "--baud",           std::to_string(kSlowBaudRate),
                           "--flash-write-ms", std::to_string(kFlashWriteMs)};
    setup.expectedImage = image;
    setup.exchanges = lines.size() + 2;
    setup.model = LineModel(lines);
    RunTransfers(state, setup, paced);
}

// One transfer per run: each takes seconds for a full image.
BENCHMARK_CAPTURE(BM_FamilyATransfer, paced, true)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FamilyATransfer, unpaced, false)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FamilyBSlowTransfer, paced, true)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FamilyBSlowTransfer, unpaced, false)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (const char* kib = std::getenv(kImageVariable); kib != nullptr && *kib != 0) {
        g_imageKib = static_cast<std::uint32_t>(std::strtoul(kib, nullptr, 10));
    }
    if (const char* kib = std::getenv(kLinesVariable); kib != nullptr && *kib != 0) {
        g_linesKib = static_cast<std::uint32_t>(std::strtoul(kib, nullptr, 10));
    }
    // Our own flag is taken out before the benchmark library reads the rest.
    int kept = 1;
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument(argv[index]);
        if (argument.substr(0, kImageFlag.size()) == kImageFlag) {
            g_imageKib = static_cast<std::uint32_t>(
                std::strtoul(argv[index] + kImageFlag.size(), nullptr, 10));
        } else if (argument.substr(0, kLinesFlag.size()) == kLinesFlag) {
            g_linesKib = static_cast<std::uint32_t>(
                std::strtoul(argv[index] + kLinesFlag.size(), nullptr, 10));
        } else {
            argv[kept++] = argv[index];
        }
    }
    argc = kept;
    if (g_imageKib == 0 || g_imageKib > kMaxImageKib || g_linesKib == 0 ||
        g_linesKib > kMaxImageKib) {
        std::fprintf(stderr, "updater_transfer_benchmark: the images must be 1 to %u KiB\n",
                     kMaxImageKib);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
