#include "tests/support/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>

namespace testing_support {

CPseudoTerminal::CPseudoTerminal() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        return;
    }
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        CloseMaster();
        return;
    }
    m_slavePath = ptsname(m_master);
}

CPseudoTerminal::~CPseudoTerminal() { CloseMaster(); }

void CPseudoTerminal::CloseMaster() {
    if (m_master >= 0) {
        close(m_master);
        m_master = -1;
    }
}

bool CPseudoTerminal::LinkSlaveAt(const std::string& linkPath) const {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(linkPath).parent_path(), error);
    std::filesystem::remove(linkPath, error);
    std::filesystem::create_symlink(m_slavePath, linkPath, error);
    return !error;
}

bool CPseudoTerminal::Send(const std::vector<std::uint8_t>& bytes) const {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t put = write(m_master, bytes.data() + sent, bytes.size() - sent);
        if (put <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(put);
    }
    return true;
}

std::vector<std::uint8_t> CPseudoTerminal::Receive(std::size_t count,
                                                   std::chrono::milliseconds limit) const {
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd in{m_master, POLLIN, 0};
        if (poll(&in, 1, 20) > 0 && (in.revents & POLLIN) != 0) {
            std::uint8_t chunk[512];
            const ssize_t got = read(m_master, chunk, sizeof chunk);
            if (got > 0) {
                bytes.insert(bytes.end(), chunk, chunk + got);
            }
        }
    }
    return bytes;
}

std::vector<std::uint8_t> CPseudoTerminal::ReceiveFor(std::chrono::milliseconds window) const {
    return Receive(static_cast<std::size_t>(-1), window);
}

}  // namespace testing_support
