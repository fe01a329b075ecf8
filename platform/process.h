// Processes: find one by the path of its executable, terminate it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

using ProcessId = int;

// The first process (in /proc order) whose /proc/<pid>/exe resolves to the
// same file as executablePath (both resolved with realpath). The path is a
// Linux path; map a Windows path with MapWindowsPath first.
std::optional<ProcessId> FindProcessByExecutable(const std::string& executablePath);

// Sends SIGKILL. Linux lets no exit code be chosen for a killed process.
bool TerminateProcess(ProcessId process);

// Waits (real time, at most timeoutMs) until the process has let go of its
// files: it is gone, or only a zombie waiting to be reaped is left. True when
// it got there in time.
bool WaitForProcessEnd(ProcessId process, std::uint32_t timeoutMs);

}  // namespace platform
