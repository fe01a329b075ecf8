#include "tools/bootloader_sim/simulator_port.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "platform/last_error.h"
#include "platform/serial_device.h"

namespace {

std::string ErrnoText(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

}  // namespace

CSimulatorPort::~CSimulatorPort() {
    Close();
}

bool CSimulatorPort::OpenPseudoTerminal(const std::string& linkPath, std::string& error) {
    Close();
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) {
        error = ErrnoText("posix_openpt", errno);
        return false;
    }
    const char* slave = nullptr;
    if (grantpt(master) != 0 || unlockpt(master) != 0 || (slave = ptsname(master)) == nullptr) {
        error = ErrnoText("pseudo-terminal set-up", errno);
        close(master);
        return false;
    }
    // Settings made on the master apply to the slave's line: raw, so that no
    // byte of a frame is echoed, translated or taken as a control character.
    termios settings{};
    if (tcgetattr(master, &settings) != 0) {
        error = ErrnoText("tcgetattr", errno);
        close(master);
        return false;
    }
    cfmakeraw(&settings);
    if (tcsetattr(master, TCSANOW, &settings) != 0) {
        error = ErrnoText("tcsetattr", errno);
        close(master);
        return false;
    }
    m_descriptor = master;
    m_slavePath = slave;
    m_pathForUpdater = m_slavePath;
    if (linkPath.empty()) {
        return true;
    }

    namespace fs = std::filesystem;
    std::error_code failure;
    const fs::path link(linkPath);
    if (link.has_parent_path()) {
        fs::create_directories(link.parent_path(), failure);
    }
    const fs::file_status status = fs::symlink_status(link, failure);
    if (fs::exists(status)) {
        if (!fs::is_symlink(status)) {
            error = linkPath + " exists and is not a symbolic link; left alone";
            Close();
            return false;
        }
        fs::remove(link, failure);  // a link left by an earlier run
    }
    fs::create_symlink(m_slavePath, link, failure);
    if (failure) {
        error = "cannot link " + linkPath + " to " + m_slavePath + ": " + failure.message();
        Close();
        return false;
    }
    m_linkPath = linkPath;
    m_pathForUpdater = linkPath;
    return true;
}

bool CSimulatorPort::OpenDevice(const std::string& path, std::uint32_t baud, std::string& error) {
    Close();
    const platform::DeviceHandle device = platform::OpenSerialDevice(path);
    if (device == platform::kInvalidDevice) {
        error = ErrnoText("cannot open " + path, static_cast<int>(platform::GetLastError()));
        return false;
    }
    if (!platform::SetSerialLine(device, baud != 0 ? baud : kDefaultDeviceBaud)) {
        error = "cannot set the line of " + path + " (unsupported rate?)";
        platform::CloseDevice(device);
        return false;
    }
    platform::PurgeDevice(device, platform::kPurgeRxClear | platform::kPurgeTxClear);
    m_descriptor = device;
    m_ownsDevice = true;
    m_pathForUpdater = path;
    return true;
}

long CSimulatorPort::Read(std::uint8_t* buffer, std::size_t size) {
    if (m_descriptor < 0) {
        return -1;
    }
    for (;;) {
        const ssize_t got = read(m_descriptor, buffer, size);
        if (got > 0) {
            m_hungUp = false;
            return static_cast<long>(got);
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno == EAGAIN) {
            m_hungUp = false;  // the other side is open, it just sent nothing
            return 0;
        }
        // A pseudo-terminal master reads EIO while no slave is open; a device
        // reads 0 once it hung up.
        if (got == 0 || errno == EIO) {
            m_hungUp = true;
            return 0;
        }
        return -1;
    }
}

bool CSimulatorPort::Write(const std::vector<std::uint8_t>& bytes) {
    if (m_descriptor < 0) {
        return false;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t put = write(m_descriptor, bytes.data() + written, bytes.size() - written);
        if (put > 0) {
            written += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0 && errno != EAGAIN) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;  // nobody reads the other side
        }
        pollfd out{m_descriptor, POLLOUT, 0};
        poll(&out, 1, static_cast<int>(left));
    }
    return true;
}

void CSimulatorPort::Close() {
    if (m_descriptor >= 0) {
        if (m_ownsDevice) {
            platform::CloseDevice(m_descriptor);
        } else {
            close(m_descriptor);
        }
    }
    m_descriptor = -1;
    m_ownsDevice = false;
    m_hungUp = false;
    if (!m_linkPath.empty()) {
        namespace fs = std::filesystem;
        std::error_code failure;
        // Only our own link goes: a later run may have replaced it.
        if (fs::is_symlink(fs::symlink_status(m_linkPath, failure)) &&
            fs::read_symlink(m_linkPath, failure) == m_slavePath) {
            fs::remove(m_linkPath, failure);
        }
    }
    m_linkPath.clear();
    m_slavePath.clear();
    m_pathForUpdater.clear();
}
