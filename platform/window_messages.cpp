#include "platform/window_messages.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/message_queue.h"
#include "platform/window_socket.h"

namespace platform {

namespace {

// ---- Registered message names ----

struct MessageNames {
    std::mutex mutex;
    std::vector<std::string> names;  // index = id - kFirstRegisteredMessage
    std::unordered_map<std::string, MessageId> idByFoldedName;
};

MessageNames& Names() {
    static MessageNames* const names = new MessageNames();
    return *names;
}

// Names compare without regard to letter case, as the original system's do.
std::string FoldCase(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return folded;
}

// ---- Window table ----

struct WindowEntry {
    std::shared_ptr<const WindowProc> proc;
    std::shared_ptr<CMessageQueue> queue;  // the owner thread's queue
    std::thread::id owner;
    bool destroying = false;  // kWmDestroy is being sent
};

// Handles count up and are never reused, so a stale handle stays invalid.
constexpr WindowHandle kFirstWindowHandle = 1;

struct WindowTable {
    std::mutex mutex;  // taken before a queue's mutex, never after
    std::unordered_map<WindowHandle, WindowEntry> windows;
    WindowHandle nextHandle = kFirstWindowHandle;
};

// Never destroyed: threads may post while the process exits.
WindowTable& Table() {
    static WindowTable* const table = new WindowTable();
    return *table;
}

std::atomic<WindowHandle> g_foregroundWindow{kNoWindow};

void RemoveThreadWindows(const CMessageQueue* queue);

// The calling thread's queue, made on first use. When the thread ends, the
// windows it still owns go with it: nobody could dispatch their messages.
struct ThreadQueue {
    std::shared_ptr<CMessageQueue> queue;
    ~ThreadQueue() {
        if (queue) {
            RemoveThreadWindows(queue.get());
        }
    }
};

thread_local ThreadQueue t_threadQueue;

const std::shared_ptr<CMessageQueue>& CurrentQueuePointer() {
    if (!t_threadQueue.queue) {
        t_threadQueue.queue = std::make_shared<CMessageQueue>();
    }
    return t_threadQueue.queue;
}

CMessageQueue& CurrentQueue() {
    return *CurrentQueuePointer();
}

void RemoveThreadWindows(const CMessageQueue* queue) {
    std::vector<WindowEntry> removed;  // destroyed after the lock is released
    {
        WindowTable& table = Table();
        std::lock_guard lock(table.mutex);
        for (auto it = table.windows.begin(); it != table.windows.end();) {
            if (it->second.queue.get() == queue) {
                removed.push_back(std::move(it->second));
                it = table.windows.erase(it);
            } else {
                ++it;
            }
        }
    }
}

bool IsExternal(WindowHandle window) {
    return !ExternalWindowPath(window).empty();
}

// The window's handler when the calling thread owns the window; null otherwise.
std::shared_ptr<const WindowProc> OwnedProc(WindowHandle window) {
    WindowTable& table = Table();
    std::lock_guard lock(table.mutex);
    const auto found = table.windows.find(window);
    if (found == table.windows.end() || found->second.owner != std::this_thread::get_id()) {
        return nullptr;
    }
    return found->second.proc;
}

// Runs the handler without any lock held: it may post, set timers, create or
// destroy windows and pump recursively. A message for a window that is gone
// is dropped.
void Dispatch(WindowHandle window, MessageId message, WParam wParam, LParam lParam) {
    if (const auto proc = OwnedProc(window)) {
        (*proc)(window, message, wParam, lParam);
    }
}

}  // namespace

MessageId RegisterWindowMessage(std::string_view name) {
    if (name.empty()) {
        return 0;
    }
    MessageNames& names = Names();
    std::string folded = FoldCase(name);
    std::lock_guard lock(names.mutex);
    if (const auto found = names.idByFoldedName.find(folded); found != names.idByFoldedName.end()) {
        return found->second;
    }
    const std::size_t capacity = kLastRegisteredMessage - kFirstRegisteredMessage + 1;
    if (names.names.size() >= capacity) {
        return 0;
    }
    const auto id = static_cast<MessageId>(kFirstRegisteredMessage + names.names.size());
    names.names.emplace_back(name);
    names.idByFoldedName.emplace(std::move(folded), id);
    return id;
}

std::string GetRegisteredMessageName(MessageId id) {
    MessageNames& names = Names();
    std::lock_guard lock(names.mutex);
    if (id < kFirstRegisteredMessage || id - kFirstRegisteredMessage >= names.names.size()) {
        return {};
    }
    return names.names[id - kFirstRegisteredMessage];
}

WindowHandle CreateWindow(WindowProc proc) {
    if (!proc) {
        return kNoWindow;
    }
    WindowEntry entry;
    entry.proc = std::make_shared<const WindowProc>(std::move(proc));
    entry.queue = CurrentQueuePointer();
    entry.owner = std::this_thread::get_id();
    WindowTable& table = Table();
    std::lock_guard lock(table.mutex);
    const WindowHandle window = table.nextHandle++;
    table.windows.emplace(window, std::move(entry));
    return window;
}

bool DestroyWindow(WindowHandle window) {
    std::shared_ptr<const WindowProc> proc;
    WindowTable& table = Table();
    {
        std::lock_guard lock(table.mutex);
        const auto found = table.windows.find(window);
        if (found == table.windows.end() || found->second.owner != std::this_thread::get_id() ||
            found->second.destroying) {
            return false;
        }
        found->second.destroying = true;
        proc = found->second.proc;
    }
    (*proc)(window, kWmDestroy, 0, 0);

    WindowEntry removed;  // destroyed after the lock is released
    {
        std::lock_guard lock(table.mutex);
        const auto found = table.windows.find(window);
        if (found == table.windows.end()) {
            return false;  // removed meanwhile; not expected, since re-entry is refused above
        }
        removed = std::move(found->second);
        table.windows.erase(found);
    }
    // Posts and timers need the table entry, so nothing new arrives for the
    // window after this.
    removed.queue->RemoveWindow(window);
    WindowHandle expected = window;
    g_foregroundWindow.compare_exchange_strong(expected, kNoWindow);
    return true;
}

bool IsWindow(WindowHandle window) {
    const std::string externalPath = ExternalWindowPath(window);
    if (!externalPath.empty()) {
        return WindowSocketAccepts(externalPath);
    }
    WindowTable& table = Table();
    std::lock_guard lock(table.mutex);
    return table.windows.contains(window);
}

bool PostMessage(WindowHandle window, MessageId message, WParam wParam, LParam lParam) {
    const std::string externalPath = ExternalWindowPath(window);
    if (!externalPath.empty()) {
        // Only registered messages have a name another program understands.
        const std::string name = GetRegisteredMessageName(message);
        return !name.empty() && SendWindowDatagram(externalPath, name, wParam, lParam);
    }
    WindowTable& table = Table();
    std::lock_guard lock(table.mutex);
    const auto found = table.windows.find(window);
    if (found == table.windows.end()) {
        return false;
    }
    found->second.queue->Post({window, message, wParam, lParam});
    return true;
}

LResult SendMessage(WindowHandle window, MessageId message, WParam wParam, LParam lParam) {
    const auto proc = OwnedProc(window);
    return proc ? (*proc)(window, message, wParam, lParam) : 0;
}

void SetForegroundWindow(WindowHandle window) {
    if (!IsExternal(window) && IsWindow(window)) {
        g_foregroundWindow.store(window);
    }
}

WindowHandle GetForegroundWindow() {
    const WindowHandle window = g_foregroundWindow.load();
    return window != kNoWindow && IsWindow(window) ? window : kNoWindow;
}

TimerId SetTimer(WindowHandle window, TimerId id, std::uint32_t periodMs) {
    if (id == 0) {
        return 0;
    }
    WindowTable& table = Table();
    std::lock_guard lock(table.mutex);
    const auto found = table.windows.find(window);
    if (found == table.windows.end()) {
        return 0;
    }
    found->second.queue->SetTimer(window, id, periodMs, Clock().NowMs());
    return id;
}

bool KillTimer(WindowHandle window, TimerId id) {
    WindowTable& table = Table();
    std::lock_guard lock(table.mutex);
    const auto found = table.windows.find(window);
    return found != table.windows.end() && found->second.queue->KillTimer(window, id);
}

void PostQuitMessage(int exitCode) {
    CurrentQueue().Post({kNoWindow, kWmQuit, static_cast<WParam>(exitCode), 0});
}

bool PumpMessages(int* exitCode) {
    CMessageQueue& queue = CurrentQueue();
    queue.ClearWakeup();

    // Messages posted while this batch runs (also by its handlers) wait for
    // the next one, so a handler that keeps posting cannot starve the caller.
    const std::uint64_t lastSequence = queue.LastSequence();
    while (const auto message = queue.TakeMessage(lastSequence)) {
        if (message->window == kNoWindow) {
            if (message->message == kWmQuit) {
                if (exitCode != nullptr) {
                    *exitCode = static_cast<int>(message->wParam);
                }
                queue.SignalIfNotEmpty();
                return false;
            }
            continue;  // no other thread message exists
        }
        Dispatch(message->window, message->message, message->wParam, message->lParam);
    }

    // Timer ticks come after the posted messages, as in the original system.
    const std::uint64_t nowMs = Clock().NowMs();
    while (const auto due = queue.TakeDueTimer(nowMs)) {
        Dispatch(due->first, kWmTimer, due->second, 0);
    }
    return true;
}

bool WaitForMessages(std::uint32_t timeoutMs) {
    CMessageQueue& queue = CurrentQueue();
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        // Cleared before looking, so that work arriving after the look wakes the wait.
        queue.ClearWakeup();
        if (queue.HasWorkDue(Clock().NowMs())) {
            return true;
        }
        std::uint32_t remainingMs = kInfinite;
        if (timeoutMs != kInfinite) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count();
            if (elapsed >= timeoutMs) {
                return false;
            }
            remainingMs = timeoutMs - static_cast<std::uint32_t>(elapsed);
        }
        queue.WaitForWakeup(remainingMs);
    }
}

int RunMessageLoop() {
    int exitCode = 0;
    while (PumpMessages(&exitCode)) {
        WaitForMessages(kInfinite);
    }
    return exitCode;
}

int MessageQueueDescriptor() {
    return CurrentQueue().Descriptor();
}

}  // namespace platform
