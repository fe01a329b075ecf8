// A program started by a test. The object always ends it: its destruction
// kills a child that is still running and reaps it, also when a test fails
// half-way.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tools_test {

class CChildProcess {
public:
    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Starts program with args (argv[0] is the program path). Standard output
    // goes to stdoutPath when it is not empty. The environment is the test's.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const std::string& stdoutPath = {});

    pid_t Pid() const { return m_pid; }
    bool Signal(int signal) const;
    // The wait status once the child ended, or nothing when it is still
    // running after limit (real time).
    std::optional<int> WaitForExit(std::chrono::milliseconds limit);

private:
    pid_t m_pid = -1;
};

// Waits (real time) until path names a non-empty file.
bool WaitForFile(const std::string& path, std::chrono::milliseconds limit);
// A whole file as text; empty when it cannot be read.
std::string ReadText(const std::string& path);

}  // namespace tools_test
