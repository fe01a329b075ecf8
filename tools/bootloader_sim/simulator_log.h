// The simulator's log: one line per frame, note or violation, each stamped
// with the milliseconds since the log was opened. Goes to a file or to
// standard error; violation lines ("!! ...") and the summary also go to
// standard error when the log is a file.
//
// Threads: one thread at a time.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

class CSimulatorLog {
public:
    CSimulatorLog() = default;
    ~CSimulatorLog();
    CSimulatorLog(const CSimulatorLog&) = delete;
    CSimulatorLog& operator=(const CSimulatorLog&) = delete;

    // An empty path logs to standard error. False when the file cannot be
    // created (the log then goes to standard error).
    bool Open(const std::string& path);

    void Line(std::string_view text);
    // A line that also goes to standard error when the log is a file.
    void Important(std::string_view text);

private:
    void WriteTo(std::FILE* stream, std::string_view text);

    std::FILE* m_file = nullptr;  // null: standard error
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};
