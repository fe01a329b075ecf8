#include "platform/debug_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace platform {

namespace {

// Most lines fit here; longer ones are formatted a second time on the heap.
constexpr std::size_t kStackLineBytes = 512;

// Guards the hook and serialises the writes, so that lines of several
// threads neither interleave nor reach a hook at the same time.
std::mutex g_outputMutex;
DebugHook g_hook;

void WriteToStandardError(std::string_view text) {
    // One write for the whole line; the loop only finishes a partial write.
    while (!text.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // nowhere left to report it
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

void Emit(std::string_view text) {
    std::lock_guard lock(g_outputMutex);
    if (g_hook) {
        try {
            g_hook(text);
        } catch (...) {
            // A throwing hook must not carry the exception into the caller.
        }
        return;
    }
    WriteToStandardError(text);
}

}  // namespace

void DebugPrintf(const char* format, ...) {
    if (format == nullptr) {
        return;
    }
    // Callers print a line after a failure and then read errno: keep it.
    const int savedErrno = errno;

    char stackBuffer[kStackLineBytes];
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list second;
    va_copy(second, arguments);
    const int needed = std::vsnprintf(stackBuffer, sizeof stackBuffer, format, arguments);
    va_end(arguments);

    if (needed > 0 && static_cast<std::size_t>(needed) < sizeof stackBuffer) {
        Emit(std::string_view(stackBuffer, static_cast<std::size_t>(needed)));
    } else if (needed > 0) {
        std::string line;
        try {
            line.resize(static_cast<std::size_t>(needed));
        } catch (...) {
            line.clear();  // out of memory: the truncated line will do
        }
        if (!line.empty()) {
            std::vsnprintf(line.data(), line.size() + 1, format, second);
            Emit(line);
        } else {
            Emit(std::string_view(stackBuffer, sizeof stackBuffer - 1));
        }
    }
    va_end(second);
    errno = savedErrno;
}

void SetDebugHook(DebugHook hook) {
    std::lock_guard lock(g_outputMutex);
    g_hook = std::move(hook);
}

}  // namespace platform
