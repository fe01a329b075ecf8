#include "tools/bootloader_sim/simulator_session.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string_view>

#include "platform/files.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunkBytes = 4096;
constexpr double kMsPerSecond = 1000.0;

std::uint64_t MsSince(Clock::time_point start) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        if (k != 0) {
            text += ' ';
        }
        text += kDigits[bytes[k] >> 4];
        text += kDigits[bytes[k] & 0x0F];
    }
    return text;
}

}  // namespace

CSimulatorSession::CSimulatorSession(SimulatorOptions options, CSimulatorLog& log,
                                     int stopDescriptor)
    : m_options(std::move(options)),
      m_log(log),
      m_stopDescriptor(stopDescriptor),
      m_simulator(m_options, [this](std::string_view line) { m_log.Line(line); }) {}

bool CSimulatorSession::OpenLine() {
    std::string error;
    const bool opened = m_options.devicePath.empty()
                            ? m_port.OpenPseudoTerminal(m_options.linkPath, error)
                            : m_port.OpenDevice(m_options.devicePath, m_options.baud, error);
    if (!opened) {
        m_log.Important("-- cannot open the line: " + error);
        return false;
    }
    m_log.Line("-- line ready: " + m_port.PathForUpdater() + " (family " +
               (m_options.family == SimulatorFamily::kA ? "A)" : "B)"));
    if (!m_options.readyFilePath.empty()) {
        const std::string text = m_port.PathForUpdater() + "\n";
        if (!platform::WriteFileAtomically(m_options.readyFilePath,
                                           std::vector<std::uint8_t>(text.begin(), text.end()))) {
            m_log.Important("-- cannot write the ready file " + m_options.readyFilePath);
            return false;
        }
    }
    return true;
}

bool CSimulatorSession::WaitUnlessStopped(std::uint32_t us) {
    const Clock::time_point deadline = Clock::now() + std::chrono::microseconds(us);
    while (!m_stopRequested) {
        const auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return true;
        }
        // With no stop descriptor this is a plain sleep; ppoll keeps the
        // sub-millisecond part of a paced wait.
        const timespec timeout{static_cast<time_t>(left.count() / 1'000'000'000),
                               static_cast<long>(left.count() % 1'000'000'000)};
        pollfd stop{m_stopDescriptor, POLLIN, 0};
        if (ppoll(&stop, 1, &timeout, nullptr) > 0 && (stop.revents & POLLIN) != 0) {
            m_stopRequested = true;
        }
    }
    return false;
}

void CSimulatorSession::CarryOut(const SimulatorAction& action) {
    if (action.delayUs != 0 && !WaitUnlessStopped(action.delayUs)) {
        return;
    }
    if (action.kind == SimulatorAction::Kind::kHangUp) {
        m_log.Line("-- line closed");
        m_port.Close();
        return;
    }
    const bool written = m_port.Write(action.bytes);
    m_log.Line("-> " + Hex(action.bytes) + " (" + action.note + (written ? ")" : ", not written)"));
}

void CSimulatorSession::WriteOutputs() {
    if (!m_options.imageOutPath.empty() &&
        !platform::WriteFileAtomically(m_options.imageOutPath, m_simulator.Image())) {
        m_log.Important("-- cannot write " + m_options.imageOutPath);
    }
    if (!m_options.linesOutPath.empty()) {
        std::vector<std::uint8_t> text;
        for (const std::string& line : m_simulator.Lines()) {
            text.insert(text.end(), line.begin(), line.end());
            text.push_back('\n');
        }
        if (!platform::WriteFileAtomically(m_options.linesOutPath, text)) {
            m_log.Important("-- cannot write " + m_options.linesOutPath);
        }
    }
}

int CSimulatorSession::Run() {
    if (!OpenLine()) {
        m_port.Close();
        return kStatusSetupFailed;
    }
    const Clock::time_point start = Clock::now();
    const auto timeLimitMs = static_cast<std::uint64_t>(m_options.timeLimitS * kMsPerSecond);
    std::uint64_t lastFrameMs = 0;
    std::vector<std::uint8_t> buffer(kReadChunkBytes);

    for (;;) {
        const std::uint64_t nowMs = MsSince(start);
        if (m_stopRequested) {
            return Finish(EndReason::kStopRequest);
        }
        if (timeLimitMs != 0 && nowMs >= timeLimitMs) {
            return Finish(EndReason::kTimeLimit);
        }
        const bool served =
            m_options.transfers && m_simulator.TransfersServed() >= *m_options.transfers;
        if (served && nowMs >= lastFrameMs + m_options.lingerMs) {
            return Finish(EndReason::kTransfersServed);
        }

        std::uint64_t waitMs = kPollSliceMs;
        if (timeLimitMs != 0) {
            waitMs = std::min(waitMs, timeLimitMs - nowMs);
        }
        if (served) {
            waitMs = std::min(waitMs, lastFrameMs + m_options.lingerMs - nowMs);
        }
        // A closed far side reports a hang-up at once: look again a little later.
        const bool hungUp = m_port.IsHungUp();
        if (hungUp) {
            waitMs = std::min<std::uint64_t>(waitMs, kHungUpRecheckMs);
        }
        // A negative descriptor is left out by poll.
        pollfd descriptors[2] = {{m_stopDescriptor, POLLIN, 0},
                                 {hungUp ? -1 : m_port.Descriptor(), POLLIN, 0}};
        const int ready = poll(descriptors, 2, static_cast<int>(waitMs));
        if (ready < 0 && errno != EINTR) {
            m_log.Important("-- poll failed");
            return Finish(EndReason::kLineError);
        }
        if (ready > 0 && (descriptors[0].revents & POLLIN) != 0) {
            m_stopRequested = true;
            continue;
        }
        if (!hungUp && ready <= 0) {
            continue;
        }
        // Data, a hang-up, or time to look again after one.
        const long got = m_port.Read(buffer.data(), buffer.size());
        if (got < 0) {
            m_log.Important("-- read failed");
            return Finish(EndReason::kLineError);
        }
        if (got == 0) {
            continue;
        }
        const std::uint32_t framesBefore = m_simulator.FramesReceived();
        const std::uint32_t servedBefore = m_simulator.TransfersServed();
        const std::vector<SimulatorAction> actions =
            m_simulator.Receive(buffer.data(), static_cast<std::size_t>(got));
        for (const SimulatorAction& action : actions) {
            CarryOut(action);
            if (m_stopRequested) {
                break;
            }
        }
        if (m_simulator.FramesReceived() != framesBefore) {
            lastFrameMs = MsSince(start);
        }
        if (m_simulator.TransfersServed() != servedBefore) {
            WriteOutputs();
        }
        if (m_simulator.HasHungUp()) {
            return Finish(EndReason::kHangUp);
        }
    }
}

const char* CSimulatorSession::ReasonText(EndReason reason) {
    switch (reason) {
        case EndReason::kTransfersServed:
            return "transfers served";
        case EndReason::kTimeLimit:
            return "time limit";
        case EndReason::kStopRequest:
            return "stop request";
        case EndReason::kHangUp:
            return "hang-up";
        case EndReason::kLineError:
            return "line error";
    }
    return "?";
}

int CSimulatorSession::Finish(EndReason reason) {
    WriteOutputs();
    m_port.Close();
    const std::size_t violations = m_simulator.Violations().size();
    char summary[192];
    std::snprintf(summary, sizeof summary,
                  "-- summary: ended by %s; %u frames received, %u transfers served, %zu "
                  "violations",
                  ReasonText(reason), m_simulator.FramesReceived(), m_simulator.TransfersServed(),
                  violations);
    m_log.Important(summary);
    if (reason == EndReason::kLineError) {
        return kStatusSetupFailed;
    }
    if (violations != 0) {
        return kStatusViolations;
    }
    if (m_options.transfers && m_simulator.TransfersServed() < *m_options.transfers) {
        return kStatusTransfersMissing;
    }
    return kStatusClean;
}
