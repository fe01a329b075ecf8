#include "platform/window_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdio>
#include <limits>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/debug_output.h"
#include "platform/event.h"
#include "platform/system_root.h"

namespace platform {

namespace {

// Handles of other programs' windows carry this bit; our own windows count
// up from 1 and never reach it.
constexpr WindowHandle kExternalWindowBit = WindowHandle{1}
                                            << (std::numeric_limits<WindowHandle>::digits - 1);
// A message datagram is a name and two numbers; anything longer is not one.
constexpr std::size_t kMaxDatagramBytes = 256;
constexpr mode_t kDirectoryMode = 0755;

struct ExternalWindows {
    std::mutex mutex;
    std::vector<std::string> paths;  // handle without kExternalWindowBit = index + 1
    std::unordered_map<std::string, WindowHandle> handleByPath;
};

ExternalWindows& External() {
    static ExternalWindows* const windows = new ExternalWindows();
    return *windows;
}

// False when the path does not fit into sun_path with its terminating zero.
bool MakeAddress(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    path.copy(address.sun_path, path.size());
    return true;
}

int OpenDatagramSocket() {
    return socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

bool IsToken(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        // Printable ASCII without the blank, which separates the fields.
        if (c <= ' ' || c > '~') {
            return false;
        }
    }
    return true;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data(), last, value);
    return !text.empty() && error == std::errc() && end == last;
}

// Creates every missing directory above the file at path.
bool MakeParentDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string directory = path.substr(0, slash);
        if (mkdir(directory.c_str(), kDirectoryMode) != 0 && errno != EEXIST) {
            DebugPrintf("window socket: cannot create %s, errno %d\n", directory.c_str(), errno);
            return false;
        }
    }
    return true;
}

// A socket file at path that no program receives on any more.
bool IsStaleSocketFile(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode) &&
           !WindowSocketAccepts(path);
}

}  // namespace

std::string WindowSocketPath(std::string_view className, std::string_view title) {
    std::string relative(kWindowSocketDirectory);
    relative += '/';
    relative.append(className);
    relative += '@';
    relative.append(title);
    return RootedPath(relative);
}

bool WindowSocketAccepts(const std::string& path) {
    sockaddr_un address;
    if (!MakeAddress(path, address)) {
        return false;
    }
    const int probe = OpenDatagramSocket();
    if (probe < 0) {
        return false;
    }
    // Connecting sends nothing; it fails for a missing file, a socket nobody
    // has bound any more (ECONNREFUSED) and anything that is not a datagram socket.
    const bool accepts =
        connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return accepts;
}

WindowHandle FindWindow(std::string_view className, std::string_view title) {
    const std::string path = WindowSocketPath(className, title);
    if (!WindowSocketAccepts(path)) {
        return kNoWindow;
    }
    ExternalWindows& windows = External();
    std::lock_guard lock(windows.mutex);
    // The same window is found under the same handle every time.
    if (const auto found = windows.handleByPath.find(path); found != windows.handleByPath.end()) {
        return found->second;
    }
    windows.paths.push_back(path);
    const WindowHandle window = kExternalWindowBit | windows.paths.size();
    windows.handleByPath.emplace(path, window);
    return window;
}

std::string ExternalWindowPath(WindowHandle window) {
    if ((window & kExternalWindowBit) == 0) {
        return {};
    }
    const WindowHandle number = window & ~kExternalWindowBit;
    ExternalWindows& windows = External();
    std::lock_guard lock(windows.mutex);
    if (number == 0 || number > windows.paths.size()) {
        return {};
    }
    return windows.paths[number - 1];
}

bool SendWindowDatagram(const std::string& path, std::string_view messageName, WParam wParam,
                        LParam lParam) {
    sockaddr_un address;
    if (!IsToken(messageName) || !MakeAddress(path, address)) {
        return false;
    }
    std::string text(messageName);
    text += ' ';
    text += std::to_string(wParam);
    text += ' ';
    text += std::to_string(lParam);

    const int sender = OpenDatagramSocket();
    if (sender < 0) {
        DebugPrintf("window socket: socket() failed, errno %d\n", errno);
        return false;
    }
    // Never blocks: a receiver that is gone or whose queue is full loses the
    // message, as a post to a vanished window is lost.
    const ssize_t sent = sendto(sender, text.data(), text.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), sizeof address);
    close(sender);
    return sent == static_cast<ssize_t>(text.size());
}

std::optional<ExternalMessage> ParseWindowDatagram(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t position = 0;
    while (position < text.size()) {
        if (IsBlank(text[position])) {
            ++position;
            continue;
        }
        std::size_t end = position;
        while (end < text.size() && !IsBlank(text[end])) {
            ++end;
        }
        fields.push_back(text.substr(position, end - position));
        position = end;
    }
    constexpr std::size_t kFieldCount = 3;  // name, wParam, lParam
    if (fields.size() != kFieldCount || !IsToken(fields[0])) {
        return std::nullopt;
    }
    ExternalMessage message;
    message.name = std::string(fields[0]);
    if (!ParseNumber(fields[1], message.wParam) || !ParseNumber(fields[2], message.lParam)) {
        return std::nullopt;
    }
    return message;
}

CWindowSocket::~CWindowSocket() {
    Close();
}

bool CWindowSocket::Bind(std::string_view className, std::string_view title) {
    Close();
    const std::string path = WindowSocketPath(className, title);
    sockaddr_un address;
    if (!MakeAddress(path, address)) {
        DebugPrintf("window socket: path of %zu bytes does not fit a socket address: %s\n",
                    path.size(), path.c_str());
        return false;
    }
    if (!MakeParentDirectories(path)) {
        return false;
    }
    const int socketHandle = OpenDatagramSocket();
    if (socketHandle < 0) {
        DebugPrintf("window socket: socket() failed, errno %d\n", errno);
        return false;
    }
    const auto* socketAddress = reinterpret_cast<const sockaddr*>(&address);
    int result = bind(socketHandle, socketAddress, sizeof address);
    int error = result == 0 ? 0 : errno;
    // A socket file left by a program that ended without removing it is
    // replaced; a live socket or any other kind of file is left alone.
    if (error == EADDRINUSE && IsStaleSocketFile(path) && unlink(path.c_str()) == 0) {
        result = bind(socketHandle, socketAddress, sizeof address);
        error = result == 0 ? 0 : errno;
    }
    struct stat status {};
    if (error == 0 && stat(path.c_str(), &status) != 0) {
        error = errno;
    }
    if (error != 0) {
        DebugPrintf("window socket: cannot bind %s, errno %d\n", path.c_str(), error);
        close(socketHandle);
        return false;
    }
    m_socket = socketHandle;
    m_path = path;
    m_device = status.st_dev;
    m_inode = status.st_ino;
    return true;
}

void CWindowSocket::Close() {
    if (m_socket < 0) {
        return;
    }
    close(m_socket);
    m_socket = -1;
    // Removes the file only while it is still ours, not one bound since by a
    // program that found ours stale.
    struct stat status {};
    if (lstat(m_path.c_str(), &status) == 0 && status.st_dev == m_device &&
        status.st_ino == m_inode) {
        unlink(m_path.c_str());
    }
    m_path.clear();
}

std::optional<ExternalMessage> CWindowSocket::Receive(std::uint32_t timeoutMs) {
    if (m_socket < 0) {
        return std::nullopt;
    }
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        int waitMs = -1;
        if (timeoutMs != kInfinite) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count();
            if (elapsed > timeoutMs) {
                return std::nullopt;
            }
            const auto remaining = static_cast<std::uint64_t>(timeoutMs - elapsed);
            waitMs = remaining > INT_MAX ? INT_MAX : static_cast<int>(remaining);
        }
        pollfd descriptor{m_socket, POLLIN, 0};
        const int ready = poll(&descriptor, 1, waitMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        break;
    }
    char buffer[kMaxDatagramBytes];
    // MSG_TRUNC makes recv report the datagram's full length, so an
    // over-long one is recognised (and dropped) rather than cut.
    const ssize_t length = recv(m_socket, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC);
    if (length < 0 || static_cast<std::size_t>(length) > sizeof buffer) {
        return std::nullopt;
    }
    return ParseWindowDatagram(std::string_view(buffer, static_cast<std::size_t>(length)));
}

}  // namespace platform
