#include "platform/process.h"

#include <dirent.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <thread>

#include "platform/last_error.h"

namespace platform {

namespace {

constexpr const char* kProcDirectory = "/proc";

// realpath of path, or "" when it cannot be resolved (a missing file, a
// process whose executable was deleted, a process we may not look into).
// errno tells why in the latter case.
std::string ResolvedPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) {
        return {};
    }
    return std::string(resolved.get());
}

// The process id that an entry of /proc names, or 0 for any other entry.
ProcessId ProcessIdFromName(const char* name) {
    long value = 0;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return 0;
        }
        value = value * 10 + (*c - '0');
        if (value > INT_MAX) {
            return 0;
        }
    }
    return static_cast<ProcessId>(value);
}

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

std::optional<ProcessId> FindResolved(const std::string& wanted) {
    std::unique_ptr<DIR, DirectoryCloser> proc(::opendir(kProcDirectory));
    if (!proc) {
        SetLastError(static_cast<std::uint32_t>(errno));
        return std::nullopt;
    }
    while (const dirent* entry = ::readdir(proc.get())) {
        const ProcessId process = ProcessIdFromName(entry->d_name);
        if (process <= 0) {
            continue;
        }
        const std::string link = std::string(kProcDirectory) + "/" + entry->d_name + "/exe";
        // Only an exact match counts: the same resolved path, letter case included.
        if (ResolvedPath(link) == wanted) {
            return process;
        }
    }
    SetLastError(ESRCH);
    return std::nullopt;
}

}  // namespace

std::optional<ProcessId> FindProcessByExecutable(const std::string& executablePath) {
    try {
        errno = 0;
        const std::string wanted = ResolvedPath(executablePath);
        if (wanted.empty()) {
            SetLastError(errno != 0 ? static_cast<std::uint32_t>(errno) : ENOENT);
            return std::nullopt;
        }
        return FindResolved(wanted);
    } catch (const std::bad_alloc&) {
        SetLastError(ENOMEM);
        return std::nullopt;
    }
}

bool TerminateProcess(ProcessId process) {
    // kill() reads 0 and negative ids as process groups (-1: every process we
    // may signal); a bad id must never reach it.
    if (process <= 0) {
        SetLastError(EINVAL);
        return false;
    }
    if (::kill(process, SIGKILL) != 0) {
        SetLastError(static_cast<std::uint32_t>(errno));
        return false;
    }
    return true;
}

namespace {

// True while the process runs: it exists and is not a zombie (a zombie has
// closed its files already).
bool ProcessRuns(ProcessId process) {
    std::ifstream stat("/proc/" + std::to_string(process) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return false;
    }
    // "<pid> (<comm>) <state> ...": the command may hold blanks and ')'.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size()) {
        return false;
    }
    const char state = line[close + 2];
    return state != 'Z' && state != 'X';
}

}  // namespace

bool WaitForProcessEnd(ProcessId process, std::uint32_t timeoutMs) {
    constexpr auto kPollInterval = std::chrono::milliseconds(5);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (process > 0 && ProcessRuns(process)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

}  // namespace platform
