// The port-owner stand-in's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PortOwnerOptions {
    static constexpr std::uint32_t kDefaultBaud = 115200;
    static constexpr std::uint32_t kDefaultRetryForMs = 10000;

    std::string devicePath;  // empty: the microcontroller's port, COM4
    std::uint32_t baud = kDefaultBaud;
    std::uint32_t releaseDelayMs = 0;
    bool neverRelease = false;
    // How long a take-back (or the first open) keeps trying a busy device.
    std::uint32_t retryForMs = kDefaultRetryForMs;
    std::string logPath;  // empty: standard error
    std::string readyFilePath;
};

enum class PortOwnerVerdict : std::uint8_t {
    kRun,
    kHelp,   // --help: print the help text and end successfully
    kError,  // message says what is wrong
};

// args holds the arguments without the program name.
PortOwnerVerdict ParsePortOwnerOptions(const std::vector<std::string>& args,
                                       PortOwnerOptions& options, std::string& message);

std::string PortOwnerHelpText();
