// A whole family A firmware update against the boot-loader simulator, paced
// like the real line: 115200 baud and 2 ms of flash writing per data block.
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
// The image is small (4 KiB) unless asked for otherwise, so that the short
// run in CTest stays short. A full run with a 64 KiB image (about 8 s):
//   KESTROVAN_UPDATER_BENCH_IMAGE_KIB=64 build/<dir>/benchmarks/updater_transfer_benchmark
// or pass --image-kib=64. The simulator program is found next to the build's
// benchmarks folder (tools/bootloader_sim/bootloader_sim), or at the path in
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
constexpr const char* kImageVariable = "KESTROVAN_UPDATER_BENCH_IMAGE_KIB";
constexpr const char* kSimulatorVariable = "KESTROVAN_BOOTLOADER_SIM";
constexpr std::uint32_t kDefaultImageKib = 4;
constexpr std::uint32_t kMaxImageKib = 1024;

constexpr std::uint32_t kBaudRate = 115200;
constexpr std::uint32_t kFlashWriteMs = 2;
constexpr std::uint32_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit

constexpr std::uint32_t kImageBase = 0xA000;
constexpr std::uint32_t kTagAddress = 0x9FE0;
constexpr std::size_t kRecordBytes = 32;
constexpr std::size_t kBlockBytes = 128;
// Family A frames: 8 bytes around the payload.
constexpr std::size_t kFrameOverheadBytes = 8;
constexpr std::size_t kStartEndPayloadBytes = 5;  // 'a'/'c' and "STM8"
constexpr std::size_t kDataPayloadBytes = 133;    // 'b', address, 128 bytes
constexpr std::size_t kStartAnswerPayloadBytes = 2;
constexpr std::size_t kDataAnswerPayloadBytes = 6;
constexpr std::size_t kEndAnswerPayloadBytes = 1;

std::uint32_t g_imageKib = kDefaultImageKib;

// ---- Files and programs ----

std::string SRecordLine(char type, std::uint32_t address, const Bytes& data) {
    const int addressBytes = type == '2' || type == '8' ? 3 : 2;
    Bytes bytes{static_cast<std::uint8_t>(addressBytes + data.size() + 1)};
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

double WireMs(std::size_t bytes) {
    return static_cast<double>(bytes * kBitsPerByte) * 1000.0 / kBaudRate;
}

// The simulator's own rounding: each wire time up to whole microseconds.
double SimulatorWireMs(std::size_t bytes) {
    const std::uint64_t bits = static_cast<std::uint64_t>(bytes) * kBitsPerByte * 1'000'000;
    return static_cast<double>((bits + kBaudRate - 1) / kBaudRate) / 1000.0;
}

struct TransferModel {
    double idealMs = 0;      // wire time of every byte plus the flash time
    double simulatorMs = 0;  // the delays the simulator adds
};

TransferModel Model(std::size_t blocks) {
    struct Exchange {
        std::size_t sent;
        std::size_t answer;
        std::size_t count;
        bool flash;
    };
    const Exchange exchanges[] = {
        {kStartEndPayloadBytes, kStartAnswerPayloadBytes, 1, false},
        {kDataPayloadBytes, kDataAnswerPayloadBytes, blocks, true},
        {kStartEndPayloadBytes, kEndAnswerPayloadBytes, 1, false},
    };
    TransferModel model;
    for (const Exchange& exchange : exchanges) {
        const std::size_t sent = exchange.sent + kFrameOverheadBytes;
        const std::size_t answer = exchange.answer + kFrameOverheadBytes;
        const double flash = exchange.flash ? kFlashWriteMs : 0;
        const auto count = static_cast<double>(exchange.count);
        model.idealMs += count * (WireMs(sent) + WireMs(answer) + flash);
        model.simulatorMs += count * (SimulatorWireMs(sent) + SimulatorWireMs(answer) + flash);
    }
    return model;
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

// paced: the simulator answers after the wire and flash times; otherwise at once.
void BM_FamilyATransfer(benchmark::State& state, bool paced) {
    const std::size_t imageBytes = std::size_t{g_imageKib} * 1024;
    const std::size_t blocks = (imageBytes + kBlockBytes - 1) / kBlockBytes;
    Bytes image(imageBytes);
    for (std::size_t k = 0; k < image.size(); ++k) {
        image[k] = static_cast<std::uint8_t>(k * 7 + k / 251);
    }
    const TransferModel model = Model(blocks);
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
                  "[HKEY_LOCAL_MACHINE\\SoftWare\\Tovren\\Os]\r\n"
                  "\"CPU_TYPE\"=\"MSTAR786\"\r\n\"PROJECTTYPE\"=dword:00000012\r\n");
        WriteFile(root.Path() + "/app/app.s19", FirmwareText(image));
        platform::SetModuleFileNameForTesting(root.Path() + "/app/Kestrovan.exe");
        CFirmwareUpdater::ResetProcessValuesForTesting();

        CSimulator simulator;
        const std::string imageOut = root.Path() + "/image.bin";
        std::vector<std::string> args = {"--family",       "a",
                                         "--link",         root.Path() + "/dev/ttyS3",
                                         "--ready-file",   root.Path() + "/sim.ready",
                                         "--log",          root.Path() + "/sim.log",
                                         "--image-out",    imageOut,
                                         "--time-limit-s", "120"};
        if (paced) {
            args.insert(args.end(), {"--baud", std::to_string(kBaudRate), "--flash-write-ms",
                                     std::to_string(kFlashWriteMs)});
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
        Bytes expected = image;
        expected.resize(blocks * kBlockBytes, 0);
        if (simulatorStatus != 0 || ReadBytes(imageOut) != expected) {
            state.SkipWithError("the simulator saw violations or a wrong image");
            break;
        }
        const double transferMs =
            std::chrono::duration<double, std::milli>(transfer.ended - transfer.begun).count();
        state.SetIterationTime(transferMs / 1000.0);
        transferMsSum += transferMs;
        efficiencySum += model.idealMs / transferMs;
        pacingSum += model.simulatorMs / transferMs;
        cpuShareSum += (transfer.cpuAtEnd - transfer.cpuAtBegin) * 1000.0 / transferMs;
    }
    platform::SetModuleFileNameForTesting("");
    unsetenv(platform::kSysrootVariable);
    platform::SetDebugHook({});

    const auto runs = static_cast<double>(state.iterations());
    if (runs == 0 || transferMsSum == 0) {
        return;
    }
    state.counters["image_bytes"] = static_cast<double>(imageBytes);
    state.counters["transfer_ms"] = transferMsSum / runs;
    state.counters["cpu_share"] = cpuShareSum / runs;
    if (!paced) {
        // Start, every block, end: one exchange each.
        state.counters["round_trip_us"] =
            transferMsSum / runs * 1000.0 / static_cast<double>(blocks + 2);
        return;
    }
    state.counters["ideal_ms"] = model.idealMs;
    state.counters["sim_paced_ms"] = model.simulatorMs;
    state.counters["efficiency"] = efficiencySum / runs;
    state.counters["sim_pacing"] = pacingSum / runs;
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

}  // namespace

int main(int argc, char** argv) {
    if (const char* kib = std::getenv(kImageVariable); kib != nullptr && *kib != 0) {
        g_imageKib = static_cast<std::uint32_t>(std::strtoul(kib, nullptr, 10));
    }
    // Our own flag is taken out before the benchmark library reads the rest.
    int kept = 1;
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument(argv[index]);
        if (argument.substr(0, kImageFlag.size()) == kImageFlag) {
            g_imageKib = static_cast<std::uint32_t>(
                std::strtoul(argv[index] + kImageFlag.size(), nullptr, 10));
        } else {
            argv[kept++] = argv[index];
        }
    }
    argc = kept;
    if (g_imageKib == 0 || g_imageKib > kMaxImageKib) {
        std::fprintf(stderr, "updater_transfer_benchmark: the image must be 1 to %u KiB\n",
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
