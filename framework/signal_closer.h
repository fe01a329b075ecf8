// Turns SIGTERM, SIGINT and SIGHUP into a call on the user-interface thread:
// the handler only writes the signal's number into a pipe (a self-pipe, the
// one thing a signal handler may safely do), and a socket notifier on the
// pipe's reading end calls the callback from Qt's event loop, modal loops
// included. The previous handlers come back when the object goes.
//
// Threads: made, used and destroyed on the user-interface thread; at most one
// object exists at a time. The handler runs on whichever thread the signal
// hits and touches only the pipe.
#pragma once

#include <signal.h>

#include <array>
#include <functional>
#include <memory>

class QSocketNotifier;

class CSignalCloser {
public:
    using Callback = std::function<void(int signalNumber)>;

    static constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};

    explicit CSignalCloser(Callback callback);
    ~CSignalCloser();
    CSignalCloser(const CSignalCloser&) = delete;
    CSignalCloser& operator=(const CSignalCloser&) = delete;

    // False when the pipe or a handler could not be set up (another object
    // exists, or the system refused): then signals keep their old effect.
    bool IsInstalled() const { return m_installed; }

private:
    void OnReadable();

    Callback m_callback;
    int m_readEnd = -1;
    bool m_installed = false;
    std::array<struct sigaction, kSignals.size()> m_previous{};
    std::unique_ptr<QSocketNotifier> m_notifier;
};
