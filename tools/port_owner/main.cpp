// port_owner: the head unit's port-owner daemon's stand-in. See
// PortOwnerHelpText (--help) for the options.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "tools/port_owner/port_owner.h"
#include "tools/port_owner/port_owner_options.h"

namespace {

constexpr int kStatusClean = 0;
constexpr int kStatusSetupFailed = 2;

std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnStopSignal(int) {
    g_stop.store(true);
}

bool InstallStopSignals() {
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
    PortOwnerOptions options;
    std::string message;
    switch (ParsePortOwnerOptions(args, options, message)) {
        case PortOwnerVerdict::kHelp:
            std::fputs(PortOwnerHelpText().c_str(), stdout);
            return kStatusClean;
        case PortOwnerVerdict::kError:
            std::fprintf(stderr, "port_owner: %s (see --help)\n", message.c_str());
            return kStatusSetupFailed;
        case PortOwnerVerdict::kRun:
            break;
    }
    std::FILE* log = stderr;
    if (!options.logPath.empty() && (log = std::fopen(options.logPath.c_str(), "w")) == nullptr) {
        std::fprintf(stderr, "port_owner: cannot create the log %s\n", options.logPath.c_str());
        return kStatusSetupFailed;
    }
    std::setvbuf(log, nullptr, _IOLBF, BUFSIZ);  // whole lines, readable while we run
    const std::uint64_t startMs = platform::Clock().NowMs();
    const auto writeLine = [log, startMs](std::string_view line) {
        std::fprintf(log, "%8llu %.*s\n",
                     static_cast<unsigned long long>(platform::Clock().NowMs() - startMs),
                     static_cast<int>(line.size()), line.data());
    };
    if (!InstallStopSignals()) {
        std::perror("port_owner: signal set-up");
        return kStatusSetupFailed;
    }

    int status = kStatusClean;
    {
        CPortOwner owner(options, writeLine);
        if (!owner.Start(platform::Clock().NowMs())) {
            status = kStatusSetupFailed;
        } else {
            const std::string text = owner.SocketPath() + "\n";
            if (!options.readyFilePath.empty() &&
                !platform::WriteFileAtomically(
                    options.readyFilePath, std::vector<std::uint8_t>(text.begin(), text.end()))) {
                writeLine("cannot write the ready file " + options.readyFilePath);
            }
            owner.Run(g_stop);
        }
    }
    if (log != stderr) {
        std::fclose(log);
    }
    return status;
}
