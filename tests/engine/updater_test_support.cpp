#include "tests/engine/updater_test_support.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/answer_timer.h"
#include "engine/event_messages.h"
#include "engine/firmware_updater.h"
#include "engine/updater_holder.h"
#include "firmware/mcu_file_frame.h"
#include "mcu_link/engine_events.h"
#include "mcu_link/sum_frame_codec.h"
#include "mcu_link/xor_frame_codec.h"
#include "platform/event.h"
#include "platform/files.h"
#include "platform/window_messages.h"

extern char** environ;

namespace updater_test {

namespace {

constexpr std::uint32_t kImageBaseA = 0xA000;
constexpr std::uint32_t kTagAddressA = 0x9FE0;
constexpr std::uint32_t kImageBaseB = 0x1000;
constexpr std::size_t kRecordBytesA = 32;
constexpr std::size_t kRecordBytesB = 16;
constexpr std::size_t kBlockBytes = 128;

// Frame command bytes of each family, for the answers a test plays.
constexpr std::uint8_t kCommandA = 0x41;     // 'A'
constexpr std::uint8_t kSubCommandA = 0x4F;  // 'O'
constexpr std::uint8_t kCommandB = 0x33;     // '3'
constexpr std::uint8_t kSubCommandB = 0x01;

// How long a run may stand still before the clock is moved by one answer
// time-out: long against a round trip on the pseudo-terminal, short against
// the suite's time.
constexpr auto kStallBeforeTick = 50ms;
constexpr std::uint32_t kTimeoutStepMs = 1000;

std::unique_ptr<CMcuFrameCodec> MakeCodec(Family family) {
    if (family == Family::kA) {
        return std::make_unique<CXorFrameCodec>();
    }
    return std::make_unique<CSumFrameCodec>();
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

}  // namespace

void CPacedTestClock::SleepMs(std::uint32_t ms) {
    CTestClock::SleepMs(ms);
    std::this_thread::sleep_for(m_realPause);
}

// ---- Main window stand-in ----

CMainTestWindow::CMainTestWindow() {
    m_window = platform::CreateWindow(
        [this](platform::WindowHandle, platform::MessageId message, platform::WParam wParam,
               platform::LParam lParam) { return OnMessage(message, wParam, lParam); });
}

CMainTestWindow::~CMainTestWindow() {
    platform::DestroyWindow(m_window);
}

void CMainTestWindow::Attach(CUpdaterHolder* holder) {
    m_holder = holder;
    m_updater = nullptr;
}

void CMainTestWindow::Attach(CFirmwareUpdater* updater) {
    m_holder = nullptr;
    m_updater = updater;
}

platform::LResult CMainTestWindow::OnMessage(platform::MessageId message, platform::WParam wParam,
                                             platform::LParam lParam) {
    if (message == platform::kWmTimer && wParam == CAnswerTimer::kTimerId) {
        ++m_timerTicks;
        if (m_holder != nullptr) {
            m_holder->OnTimer(static_cast<std::uint32_t>(wParam));
        } else if (m_updater != nullptr) {
            m_updater->OnTimer(static_cast<std::uint32_t>(wParam));
        }
        return 0;
    }
    if (message != EngineEventMessage()) {
        return 0;
    }
    const auto code = static_cast<std::uint32_t>(wParam);
    m_events.push_back({code, lParam});
    switch (static_cast<EngineEvent>(code)) {
        case EngineEvent::kStartUp:
            if (m_holder != nullptr) {
                m_holder->Initialise();
            } else if (m_updater != nullptr) {
                m_updater->Initialise();
            }
            break;
        case EngineEvent::kBeginTransfer:
            // The start routine.
            if (m_holder != nullptr) {
                m_holder->Start();
            } else if (m_updater != nullptr) {
                platform::PostMessage(m_window, EngineEventMessage(),
                                      static_cast<platform::WParam>(EngineEvent::kTransferRunning),
                                      0);
                m_updater->BeginTransfer();
            }
            break;
        case EngineEvent::kKeyReadBack: {
            auto* record = reinterpret_cast<McuFrameInfo*>(lParam);
            if (record != nullptr && onReadBack) {
                onReadBack(*record);
            }
            CFirmwareUpdater::FreeReadBack(record);
            m_events.back().value = 0;  // freed: not to be looked at again
            break;
        }
        default:
            break;
    }
    return 0;
}

std::vector<std::uint32_t> CMainTestWindow::Milestones() const {
    std::vector<std::uint32_t> codes;
    for (const EngineEventRecord& event : m_events) {
        if (event.code != static_cast<std::uint32_t>(EngineEvent::kProgress) &&
            event.code != static_cast<std::uint32_t>(EngineEvent::kParseProgress)) {
            codes.push_back(event.code);
        }
    }
    return codes;
}

std::vector<int> CMainTestWindow::Values(std::uint32_t code) const {
    std::vector<int> values;
    for (const EngineEventRecord& event : m_events) {
        if (event.code == code) {
            values.push_back(static_cast<int>(event.value));
        }
    }
    return values;
}

std::size_t CMainTestWindow::Count(std::uint32_t code) const {
    std::size_t count = 0;
    for (const EngineEventRecord& event : m_events) {
        count += event.code == code ? 1 : 0;
    }
    return count;
}

bool CMainTestWindow::Finished() const {
    for (const EngineEvent end : {EngineEvent::kUpdateSucceeded, EngineEvent::kUpdateFailed,
                                  EngineEvent::kFileMissing, EngineEvent::kPortUnavailable}) {
        if (Has(static_cast<std::uint32_t>(end))) {
            return true;
        }
    }
    return false;
}

// ---- Pumping ----

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        platform::PumpMessages();
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        platform::WaitForMessages(5);
    }
}

void PumpFor(std::chrono::milliseconds span) {
    PumpUntil([] { return false; }, span);
}

void AdvanceAndPump(platform::CTestClock& clock, std::uint64_t ms) {
    clock.Advance(ms);
    platform::PumpMessages();
    // What the ticks posted comes in the next batch.
    platform::PumpMessages();
}

// ---- Programs ----

CChildProgram::~CChildProgram() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
}

bool CChildProgram::Start(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> words = {program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    return posix_spawn(&m_pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0;
}

bool CChildProgram::Signal(int signal) const {
    return m_pid > 0 && kill(m_pid, signal) == 0;
}

std::optional<int> CChildProgram::WaitForExit(std::chrono::milliseconds limit) {
    if (m_pid <= 0) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return status;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(2ms);
    }
}

bool WaitForFile(const std::string& path, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code error;
        if (std::filesystem::file_size(path, error) > 0 && !error) {
            return true;
        }
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// ---- Simulator ----

bool CSimulatorRun::Start(std::vector<std::string> args) {
    // A safety net: the simulator never outlives a test that hangs.
    args.insert(args.begin(), {"--link", Path("dev/ttyS3"), "--ready-file", Path("sim.ready"),
                               "--log", Path("sim.log"), "--time-limit-s", "60"});
    if (!m_program.Start(KESTROVAN_BOOTLOADER_SIM_PROGRAM, args)) {
        return false;
    }
    return WaitForFile(Path("sim.ready"), 10s);
}

std::vector<Bytes> CSimulatorRun::ReceivedFrames() const {
    std::vector<Bytes> frames;
    std::istringstream log(Log());
    std::string line;
    while (std::getline(log, line)) {
        const std::size_t marker = line.find(" <- ");
        if (marker == std::string::npos) {
            continue;
        }
        std::istringstream hex(line.substr(marker + 4));
        Bytes frame;
        unsigned byte = 0;
        while (hex >> std::hex >> byte) {
            frame.push_back(static_cast<std::uint8_t>(byte));
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

bool CSimulatorRun::WaitForReceivedFrames(std::size_t count,
                                          std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (ReceivedFrameCount() < count) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

int CSimulatorRun::Finish() {
    m_program.Signal(SIGTERM);
    const auto status = m_program.WaitForExit(10s);
    if (!status || !WIFEXITED(*status)) {
        return -1;
    }
    return WEXITSTATUS(*status);
}

// ---- Hand-played boot loader ----

CLinkPeer::CLinkPeer(Family family, const testing_support::CPseudoTerminal& pty)
    : m_family(family), m_pty(pty), m_codec(MakeCodec(family)) {}

CLinkPeer::~CLinkPeer() = default;

bool CLinkPeer::ReadSome(std::chrono::milliseconds limit) {
    pollfd master{m_pty.Master(), POLLIN, 0};
    if (poll(&master, 1, static_cast<int>(limit.count())) <= 0) {
        return false;
    }
    if ((master.revents & POLLIN) == 0) {
        // Nobody holds the slave: nothing can arrive for now.
        std::this_thread::sleep_for(std::min(limit, std::chrono::milliseconds(5)));
        return false;
    }
    std::uint8_t buffer[4096];
    const ssize_t got = read(m_pty.Master(), buffer, sizeof buffer);
    if (got <= 0) {
        return false;
    }
    m_received.insert(m_received.end(), buffer, buffer + got);
    m_codec->PutRecvData(buffer, static_cast<std::uint32_t>(got), true);
    return true;
}

std::optional<Bytes> CLinkPeer::NextPayload(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (m_codec->ParseRecvBuf()) {
            McuFrameInfo info{};
            const std::uint8_t* payload = m_codec->GetRecvFrame(info);
            Bytes bytes(payload, payload + info.payloadLength);
            m_codec->FreeRecvData();
            return bytes;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        ReadSome(left);
    }
}

std::vector<Bytes> CLinkPeer::PayloadsWithin(std::chrono::milliseconds window) {
    const auto deadline = std::chrono::steady_clock::now() + window;
    std::vector<Bytes> payloads;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return payloads;
        }
        if (auto payload = NextPayload(left)) {
            payloads.push_back(std::move(*payload));
        }
    }
}

bool CLinkPeer::Answer(const Bytes& payload) {
    const Bytes frame = FrameBytes(m_family, m_family == Family::kA ? kCommandA : kCommandB,
                                   m_family == Family::kA ? kSubCommandA : kSubCommandB, payload);
    return m_pty.Send(frame);
}

// ---- Firmware files ----

Bytes Pattern(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    std::uint32_t state = seed;
    for (std::uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;  // any fixed sequence will do
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

std::string SRecordLine(char type, std::uint32_t address, const Bytes& data) {
    const int addressBytes = (type == '2' || type == '8') ? 3 : 2;
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
    return line;
}

std::string FamilyAFile(const Bytes& image, std::string_view tag) {
    std::vector<std::string> lines = {SRecordLine('0', 0, {'F', 'W'})};
    if (!tag.empty()) {
        // Three zero bytes, then the tag (reserve first: GCC 12 at -O2 takes
        // an insert into the three-byte vector for an overflow).
        Bytes data;
        data.reserve(3 + tag.size());
        data.assign(3, 0);
        for (const char character : tag) {
            data.push_back(static_cast<std::uint8_t>(character));
        }
        lines.push_back(SRecordLine('1', kTagAddressA, data));
    }
    for (std::size_t offset = 0; offset < image.size(); offset += kRecordBytesA) {
        const std::size_t end = std::min(image.size(), offset + kRecordBytesA);
        lines.push_back(SRecordLine('2', kImageBaseA + static_cast<std::uint32_t>(offset),
                                    Bytes(image.begin() + static_cast<long>(offset),
                                          image.begin() + static_cast<long>(end))));
    }
    lines.push_back(SRecordLine('8', kImageBaseA, {}));
    return JoinLines(lines);
}

std::string FamilyBFile(const Bytes& image, std::vector<std::string>& records,
                        std::string_view headerTag) {
    records = {SRecordLine('0', 0, Bytes(headerTag.begin(), headerTag.end()))};
    for (std::size_t offset = 0; offset < image.size(); offset += kRecordBytesB) {
        const std::size_t end = std::min(image.size(), offset + kRecordBytesB);
        records.push_back(SRecordLine('1', kImageBaseB + static_cast<std::uint32_t>(offset),
                                      Bytes(image.begin() + static_cast<long>(offset),
                                            image.begin() + static_cast<long>(end))));
    }
    records.push_back(SRecordLine('9', kImageBaseB, {}));
    return JoinLines(records);
}

Bytes PaddedToBlocks(const Bytes& image) {
    Bytes padded = image;
    padded.resize((image.size() + kBlockBytes - 1) / kBlockBytes * kBlockBytes, 0);
    return padded;
}

Bytes FrameBytes(Family family, std::uint8_t command, std::uint8_t subCommand,
                 const Bytes& payload) {
    const auto codec = MakeCodec(family);
    codec->PackFrame(command, subCommand, static_cast<std::uint32_t>(payload.size()),
                     payload.data());
    return Bytes(codec->GetFrameBuf(), codec->GetFrameBuf() + codec->GetFrameLen());
}

Bytes HelloFrame(Family family) {
    return family == Family::kA ? FrameBytes(family, kCommandA, kSubCommandA, {'D'})
                                : FrameBytes(family, kCommandB, kSubCommandB, {'D'});
}

Bytes PayloadOf(Family family, const Bytes& frame) {
    const auto codec = MakeCodec(family);
    if (frame.empty() ||
        !codec->PutRecvData(frame.data(), static_cast<std::uint32_t>(frame.size()), true) ||
        !codec->ParseRecvBuf()) {
        return {};
    }
    McuFrameInfo info{};
    const std::uint8_t* payload = codec->GetRecvFrame(info);
    return Bytes(payload, payload + info.payloadLength);
}

// ---- Fixture ----

CUpdaterFixture::CUpdaterFixture() = default;

void CUpdaterFixture::SetUp() {
    platform::SetClock(&m_clock);
    platform::SetModuleFileNameForTesting(m_exeDirectory / "Kestrovan.exe");
    CFirmwareUpdater::ResetProcessValuesForTesting();
    CMcuFileFrame::ResetParseProgressForTesting();
    // The parse progress (event 9) goes to the foreground window.
    platform::SetForegroundWindow(m_window.Handle());
}

void CUpdaterFixture::TearDown() {
    DestroyHolder();
    platform::SetModuleFileNameForTesting("");
    platform::SetClock(nullptr);
}

std::string CUpdaterFixture::WriteExeFile(std::string_view name, std::string_view contents) const {
    return m_exeDirectory.WriteFile(name, contents);
}

std::string CUpdaterFixture::WriteExeFile(std::string_view name, const Bytes& contents) const {
    return m_exeDirectory.WriteFile(name, contents);
}

CUpdaterHolder& CUpdaterFixture::MakeHolder() {
    m_holder = CUpdaterHolder::Create(m_window.Handle());
    m_window.Attach(m_holder);
    return *m_holder;
}

CFirmwareUpdater& CUpdaterFixture::Updater() {
    return *m_holder->GetUpdater();
}

void CUpdaterFixture::DestroyHolder() {
    if (m_holder == nullptr) {
        return;
    }
    m_holder->Stop();
    m_holder->Destroy();
    m_holder = nullptr;
    m_window.Attach(static_cast<CUpdaterHolder*>(nullptr));
}

void CUpdaterFixture::PostStartUp() const {
    platform::PostMessage(m_window.Handle(), EngineEventMessage(),
                          static_cast<platform::WParam>(EngineEvent::kStartUp), 0);
}

bool CUpdaterFixture::WaitUntilFinished(std::chrono::milliseconds limit) const {
    return PumpUntil([this] { return m_window.Finished(); }, limit);
}

bool CUpdaterFixture::RunWithTimeouts(const CSimulatorRun& sim, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::size_t events = 0;
    std::uintmax_t logBytes = 0;
    auto lastChange = std::chrono::steady_clock::now();
    while (!m_window.Finished()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        platform::PumpMessages();
        platform::WaitForMessages(5);
        std::error_code error;
        const std::uintmax_t bytes = std::filesystem::file_size(sim.Path("sim.log"), error);
        if (m_window.Events().size() != events || bytes != logBytes) {
            events = m_window.Events().size();
            logBytes = bytes;
            lastChange = now;
        } else if (now - lastChange >= kStallBeforeTick) {
            AdvanceAndPump(m_clock, kTimeoutStepMs);
            lastChange = now;
        }
    }
    platform::PumpMessages();
    return true;
}

}  // namespace updater_test
