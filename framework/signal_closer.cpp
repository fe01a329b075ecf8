#include "framework/signal_closer.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <utility>

#include "platform/debug_output.h"

namespace {

// The pipe's writing end for the handler; -1 while no object is installed.
std::atomic<int> g_writeEnd{-1};

void OnSignal(int signalNumber) {
    const int savedErrno = errno;
    const int writeEnd = g_writeEnd.load();
    if (writeEnd >= 0) {
        const auto byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds requests enough.
        [[maybe_unused]] const ssize_t written = write(writeEnd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

CSignalCloser::CSignalCloser(Callback callback) : m_callback(std::move(callback)) {
    if (g_writeEnd.load() >= 0) {
        platform::DebugPrintf("CSignalCloser: another one is installed\n");
        return;
    }
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        platform::DebugPrintf("CSignalCloser: pipe failed, errno %d\n", errno);
        return;
    }
    m_readEnd = ends[0];
    g_writeEnd.store(ends[1]);
    m_notifier = std::make_unique<QSocketNotifier>(m_readEnd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { OnReadable(); });

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_installed = true;
    for (std::size_t index = 0; index < kSignals.size(); ++index) {
        if (sigaction(kSignals[index], &action, &m_previous[index]) != 0) {
            platform::DebugPrintf("CSignalCloser: sigaction(%d) failed, errno %d\n",
                                  kSignals[index], errno);
            m_installed = false;
        }
    }
}

CSignalCloser::~CSignalCloser() {
    if (m_readEnd < 0) {
        return;
    }
    for (std::size_t index = 0; index < kSignals.size(); ++index) {
        sigaction(kSignals[index], &m_previous[index], nullptr);
    }
    m_notifier.reset();
    const int writeEnd = g_writeEnd.exchange(-1);
    close(writeEnd);
    close(m_readEnd);
}

void CSignalCloser::OnReadable() {
    unsigned char received[16];
    for (;;) {
        const ssize_t count = read(m_readEnd, received, sizeof received);
        if (count <= 0) {
            return;  // drained (EAGAIN) or closed
        }
        for (ssize_t index = 0; index < count; ++index) {
            if (m_callback) {
                m_callback(received[index]);
            }
        }
    }
}
