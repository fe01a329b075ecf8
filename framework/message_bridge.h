// Runs the platform layer's messages and window timers inside Qt's event
// loop: a socket notifier watches the calling thread's platform queue
// descriptor and pumps the queue whenever it becomes readable. Because the
// notifier belongs to the thread, not to one loop, the nested loops of modal
// dialogs pump the queue as well. A kWmQuit taken from the queue ends the Qt
// application with its exit code.
//
// Threads: made, used and destroyed on the user-interface thread, after the
// Qt application exists; it pumps that thread's queue only.
#pragma once

#include <memory>

class QSocketNotifier;

class CMessageBridge {
public:
    CMessageBridge();
    ~CMessageBridge();
    CMessageBridge(const CMessageBridge&) = delete;
    CMessageBridge& operator=(const CMessageBridge&) = delete;

    // False when the queue offers no descriptor: then nothing is pumped.
    bool IsConnected() const { return m_notifier != nullptr; }

private:
    void Pump();

    std::unique_ptr<QSocketNotifier> m_notifier;
};
