// bootloader_sim: plays the microcontroller's boot loader on a serial line.
// See SimulatorHelpText (--help) for the options.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/bootloader_sim/simulator_log.h"
#include "tools/bootloader_sim/simulator_options.h"
#include "tools/bootloader_sim/simulator_session.h"

namespace {

// The write end of the stop pipe; the signal handler writes one byte to it.
int g_stopWriteEnd = -1;

void OnStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = write(g_stopWriteEnd, &byte, 1);
}

bool InstallStopSignals(int& stopReadEnd) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    stopReadEnd = ends[0];
    g_stopWriteEnd = ends[1];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        if (sigaction(signal, &action, nullptr) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    SimulatorOptions options;
    std::string message;
    switch (ParseSimulatorOptions(args, options, message)) {
        case OptionsVerdict::kHelp:
            std::fputs(SimulatorHelpText().c_str(), stdout);
            return CSimulatorSession::kStatusClean;
        case OptionsVerdict::kError:
            std::fprintf(stderr, "bootloader_sim: %s (see --help)\n", message.c_str());
            return CSimulatorSession::kStatusSetupFailed;
        case OptionsVerdict::kRun:
            break;
    }
    CSimulatorLog log;
    if (!log.Open(options.logPath)) {
        std::fprintf(stderr, "bootloader_sim: cannot create the log %s\n", options.logPath.c_str());
        return CSimulatorSession::kStatusSetupFailed;
    }
    int stopReadEnd = -1;
    if (!InstallStopSignals(stopReadEnd)) {
        std::perror("bootloader_sim: signal set-up");
        return CSimulatorSession::kStatusSetupFailed;
    }
    CSimulatorSession session(options, log, stopReadEnd);
    return session.Run();
}
