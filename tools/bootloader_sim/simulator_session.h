// One run of the boot-loader simulator on a real line: opens the line, reads
// what the updater sends, hands it to CBootloaderSimulator, carries out the
// answers with their delays, writes the output files, and ends when the
// options or a stop request say so.
//
// Threads: Run on one thread. The stop descriptor may be made readable from
// anywhere (a signal handler writes to a pipe).
#pragma once

#include <cstdint>
#include <string>

#include "tools/bootloader_sim/bootloader_simulator.h"
#include "tools/bootloader_sim/simulator_log.h"
#include "tools/bootloader_sim/simulator_options.h"
#include "tools/bootloader_sim/simulator_port.h"

class CSimulatorSession {
public:
    // Exit statuses of the program.
    static constexpr int kStatusClean = 0;
    static constexpr int kStatusViolations = 1;
    static constexpr int kStatusSetupFailed = 2;
    static constexpr int kStatusTransfersMissing = 3;

    // While the other side of a pseudo-terminal is closed, the line is looked
    // at again this often (it reports a hang-up at once, every time).
    static constexpr std::uint32_t kHungUpRecheckMs = 20;
    // Longest single wait, so that the time limit and the linger are seen.
    static constexpr std::uint32_t kPollSliceMs = 200;

    // stopDescriptor: becomes readable when the run must end (-1: none).
    CSimulatorSession(SimulatorOptions options, CSimulatorLog& log, int stopDescriptor);

    // Runs to the end; the program's exit status.
    int Run();

private:
    enum class EndReason : std::uint8_t {
        kTransfersServed,
        kTimeLimit,
        kStopRequest,
        kHangUp,
        kLineError
    };

    bool OpenLine();
    // Waits up to ms; false when a stop was requested meanwhile.
    bool WaitUnlessStopped(std::uint32_t us);
    void CarryOut(const SimulatorAction& action);
    void WriteOutputs();
    int Finish(EndReason reason);
    static const char* ReasonText(EndReason reason);

    SimulatorOptions m_options;
    CSimulatorLog& m_log;
    int m_stopDescriptor;
    CBootloaderSimulator m_simulator;
    CSimulatorPort m_port;
    bool m_stopRequested = false;
};
