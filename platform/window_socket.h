// Windows of other programs, reached over Unix datagram sockets.
//
// A window that other programs must find binds a datagram socket at
// <root>/run/windows/<class>@<title>. Finding a window means finding a socket
// there that accepts a datagram. A registered message posted to it is one
// datagram of ASCII text "<message name> <wParam> <lParam>", e.g.
// "WM_MCU_COM_OP 4 0". Nothing is answered.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace platform {

inline constexpr const char* kWindowSocketDirectory = "/run/windows";  // below the root

std::string WindowSocketPath(std::string_view className, std::string_view title);

// A handle for PostMessage and IsWindow, or kNoWindow when no socket at the
// path accepts a datagram (none there, a stale one, or a path too long).
WindowHandle FindWindow(std::string_view className, std::string_view title);

// The socket path behind a handle from FindWindow; "" for any other handle.
std::string ExternalWindowPath(WindowHandle window);

// True while a datagram socket at path accepts datagrams (something has it bound).
bool WindowSocketAccepts(const std::string& path);

// Sends one datagram "<name> <wParam> <lParam>" to the socket at path without
// blocking; false when it cannot be delivered (no receiver, a full queue, a
// name that is not one printable word, a path too long for a socket address).
bool SendWindowDatagram(const std::string& path, std::string_view messageName, WParam wParam,
                        LParam lParam);

struct ExternalMessage {
    std::string name;
    WParam wParam = 0;
    LParam lParam = 0;
};

// Parses "<name> <wParam> <lParam>" (decimal numbers, lParam may be negative;
// blanks around the fields and a line end, as "echo" adds, are allowed);
// nothing for any other text.
std::optional<ExternalMessage> ParseWindowDatagram(std::string_view text);

// The receiving side, for our stand-in programs: binds the socket (creating
// the directories, replacing a stale socket but never a live one or another
// kind of file), unlinks it on Close and destruction. Used by one thread.
class CWindowSocket {
public:
    CWindowSocket() = default;
    ~CWindowSocket();
    CWindowSocket(const CWindowSocket&) = delete;
    CWindowSocket& operator=(const CWindowSocket&) = delete;

    bool Bind(std::string_view className, std::string_view title);
    void Close();
    int Descriptor() const { return m_socket; }
    const std::string& Path() const { return m_path; }

    // Waits up to timeoutMs of real time for one datagram; nothing on time-out
    // or on a datagram that does not parse (it is consumed).
    std::optional<ExternalMessage> Receive(std::uint32_t timeoutMs);

private:
    int m_socket = -1;
    std::string m_path;
    // The bound file's identity, so that Close removes only our own file.
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;
};

}  // namespace platform
