#include "tools/port_owner/port_owner_options.h"

#include <charconv>
#include <string_view>

namespace {

bool ParseNumber(std::string_view text, std::uint32_t& value) {
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data(), last, value);
    return !text.empty() && error == std::errc() && end == last;
}

}  // namespace

PortOwnerVerdict ParsePortOwnerOptions(const std::vector<std::string>& args,
                                       PortOwnerOptions& options, std::string& message) {
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& option = args[k];
        if (option == "--help" || option == "-h") {
            return PortOwnerVerdict::kHelp;
        }
        if (option == "--never-release") {
            options.neverRelease = true;
            continue;
        }
        if (k + 1 >= args.size()) {
            message = option.rfind("--", 0) == 0 ? option + " needs a value"
                                                 : "unknown argument " + option;
            return PortOwnerVerdict::kError;
        }
        const std::string& value = args[++k];
        bool good = true;
        if (option == "--device") {
            options.devicePath = value;
        } else if (option == "--log") {
            options.logPath = value;
        } else if (option == "--ready-file") {
            options.readyFilePath = value;
        } else if (option == "--baud") {
            good = ParseNumber(value, options.baud) && options.baud != 0;
        } else if (option == "--release-delay-ms") {
            good = ParseNumber(value, options.releaseDelayMs);
        } else if (option == "--retry-for-ms") {
            good = ParseNumber(value, options.retryForMs);
        } else {
            message = "unknown option " + option;
            return PortOwnerVerdict::kError;
        }
        if (!good) {
            message = "bad value for " + option + ": " + value;
            return PortOwnerVerdict::kError;
        }
    }
    return PortOwnerVerdict::kRun;
}

std::string PortOwnerHelpText() {
    return R"(Usage: port_owner [OPTION]...
Stands in for the head unit's port-owner daemon: holds the microcontroller's
serial device, lets go of it on "WM_MCU_COM_OP 4 0" and takes it back on
"WM_MCU_COM_OP 4 1", received as datagrams on its window socket
<root>/run/windows/SERIAL_WINDOW_CLASS_NAME@SERIAL_WINDOW_NAME.
Ends on SIGTERM, SIGINT or SIGHUP, closing the device and removing its socket.

  --device PATH          the device to hold (default: COM4, that is
                         <root>/dev/ttyS3, <root> being $KESTROVAN_SYSROOT or /)
  --baud B               line speed set on the device (default 115200)
  --release-delay-ms MS  wait MS before letting go after a release request
                         (default 0)
  --never-release        log release requests and keep the device
  --retry-for-ms MS      how long an open of a busy or missing device is
                         retried, at start and on a take-back (default 10000)
  --log FILE             one line per request, open and close, with the
                         milliseconds since start (default: standard error)
  --ready-file FILE      once the socket is bound and the first open was
                         tried, write the socket's path to FILE
  --help                 this text

Exit status: 0 after a signal; 2 for a bad command line or a socket that
cannot be bound.
)";
}
