#include "platform/serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>

#include "platform/last_error.h"

namespace platform {
namespace {

// While a hung-up device is waited on, it is looked at again this often for
// data that may still arrive; between the looks the waiter sleeps.
constexpr int kHungUpRecheckMs = 200;

struct DeviceState {
    int wakeFd = -1;                         // eventfd: SetCommMask releases a wait through it
    std::atomic<std::uint32_t> mask{0};
    std::atomic<std::uint32_t> maskChanges{0};  // counts SetCommMask calls
    std::atomic<std::uint32_t> pendingErrors{0};
    std::atomic<bool> hungUp{false};         // the hang-up was reported once already

    ~DeviceState() {
        if (wakeFd >= 0) {
            close(wakeFd);
        }
    }
};

std::mutex g_devicesMutex;
std::map<DeviceHandle, std::shared_ptr<DeviceState>> g_devices;

std::shared_ptr<DeviceState> Lookup(DeviceHandle device) {
    std::lock_guard lock(g_devicesMutex);
    auto it = g_devices.find(device);
    return it == g_devices.end() ? nullptr : it->second;
}

bool Fail(int error) {
    SetLastError(static_cast<std::uint32_t>(error));
    return false;
}

speed_t SpeedFor(std::uint32_t baudRate, bool* known) {
    *known = true;
    switch (baudRate) {
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        default: *known = false; return B0;
    }
}

void DrainWakeFd(int wakeFd) {
    std::uint64_t counter = 0;
    while (read(wakeFd, &counter, sizeof counter) == static_cast<ssize_t>(sizeof counter)) {
    }
}

std::uint32_t BytesWaiting(DeviceHandle device) {
    int waiting = 0;
    if (ioctl(device, FIONREAD, &waiting) != 0 || waiting < 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(waiting);
}

}  // namespace

DeviceHandle OpenSerialDevice(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(static_cast<std::uint32_t>(errno));
        return kInvalidDevice;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = (errno == EWOULDBLOCK) ? EBUSY : errno;
        close(fd);
        SetLastError(static_cast<std::uint32_t>(error));
        return kInvalidDevice;
    }
    // Keeps further opens out, except a privileged one; the lock above is what
    // the unit's own programs respect.
    ioctl(fd, TIOCEXCL);

    auto state = std::make_shared<DeviceState>();
    state->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (state->wakeFd < 0) {
        const int error = errno;
        close(fd);
        SetLastError(static_cast<std::uint32_t>(error));
        return kInvalidDevice;
    }
    std::lock_guard lock(g_devicesMutex);
    g_devices[fd] = std::move(state);
    return fd;
}

bool SetSerialLine(DeviceHandle device, std::uint32_t baudRate) {
    bool known = false;
    const speed_t speed = SpeedFor(baudRate, &known);
    if (!known) {
        return Fail(EINVAL);
    }
    termios settings{};
    if (tcgetattr(device, &settings) != 0) {
        return Fail(errno);
    }
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                               ICRNL | IXON | IXOFF | IXANY | INPCK);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    settings.c_cflag |= CS8 | CREAD;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    if (tcsetattr(device, TCSANOW, &settings) != 0) {
        return Fail(errno);
    }
    return true;
}

bool PurgeDevice(DeviceHandle device, std::uint32_t flags) {
    const bool output = (flags & kPurgeTxClear) != 0;
    const bool input = (flags & kPurgeRxClear) != 0;
    if (!output && !input) {
        return true;
    }
    const int queue = (output && input) ? TCIOFLUSH : (output ? TCOFLUSH : TCIFLUSH);
    if (tcflush(device, queue) != 0) {
        return Fail(errno);
    }
    return true;
}

bool SetCommMask(DeviceHandle device, std::uint32_t mask) {
    auto state = Lookup(device);
    if (!state) {
        return Fail(EBADF);
    }
    state->mask.store(mask);
    state->maskChanges.fetch_add(1);
    const std::uint64_t one = 1;
    if (write(state->wakeFd, &one, sizeof one) != static_cast<ssize_t>(sizeof one)) {
        return Fail(errno);
    }
    return true;
}

bool WaitCommEvent(DeviceHandle device, std::uint32_t* events) {
    auto state = Lookup(device);
    if (!state || events == nullptr) {
        return Fail(EBADF);
    }
    *events = 0;
    const std::uint32_t changesAtStart = state->maskChanges.load();
    for (;;) {
        const std::uint32_t mask = state->mask.load();
        if (mask == 0 || state->maskChanges.load() != changesAtStart) {
            return true;  // released, or nothing to wait for
        }
        if (state->hungUp.load()) {
            // Reported once already: sleep on the wake-up descriptor and look
            // at the device now and then, so that the waiter never spins.
            pollfd wake{state->wakeFd, POLLIN, 0};
            const int ready = poll(&wake, 1, kHungUpRecheckMs);
            if (ready > 0) {
                DrainWakeFd(state->wakeFd);
                continue;
            }
            if ((mask & kEvRxChar) != 0 && BytesWaiting(device) > 0) {
                *events = kEvRxChar;
                return true;
            }
            continue;
        }
        pollfd fds[2] = {{device, static_cast<short>((mask & kEvRxChar) ? POLLIN : 0), 0},
                         {state->wakeFd, POLLIN, 0}};
        const int ready = poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Fail(errno);
        }
        if ((fds[1].revents & POLLIN) != 0) {
            DrainWakeFd(state->wakeFd);
            continue;
        }
        if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            state->hungUp.store(true);
            state->pendingErrors.fetch_or(kEvErr);
            if ((mask & kEvErr) != 0) {
                *events = kEvErr;
                return true;
            }
            continue;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            *events = kEvRxChar;
            return true;
        }
    }
}

bool ClearCommError(DeviceHandle device, std::uint32_t* errors, std::uint32_t* bytesWaiting) {
    auto state = Lookup(device);
    if (!state) {
        return Fail(EBADF);
    }
    const std::uint32_t seen = state->pendingErrors.exchange(0);
    if (errors != nullptr) {
        *errors = seen;
    }
    if (bytesWaiting != nullptr) {
        *bytesWaiting = BytesWaiting(device);
    }
    return true;
}

int ReadDevice(DeviceHandle device, void* buffer, std::uint32_t count) {
    if (device == kInvalidDevice || buffer == nullptr) {
        Fail(EBADF);
        return -1;
    }
    for (;;) {
        const ssize_t got = read(device, buffer, count);
        if (got >= 0) {
            return static_cast<int>(got);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN) {
            return 0;
        }
        Fail(errno);
        return -1;
    }
}

int WriteDevice(DeviceHandle device, const void* bytes, std::uint32_t count,
                std::uint32_t timeoutMs) {
    if (device == kInvalidDevice || (bytes == nullptr && count > 0)) {
        Fail(EBADF);
        return -1;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto* cursor = static_cast<const std::uint8_t*>(bytes);
    std::uint32_t written = 0;
    while (written < count) {
        const ssize_t put = write(device, cursor + written, count - written);
        if (put > 0) {
            written += static_cast<std::uint32_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0 && errno != EAGAIN) {
            Fail(errno);
            return -1;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            break;  // the time-out ends the write with what went out
        }
        pollfd out{device, POLLOUT, 0};
        const int ready = poll(&out, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            Fail(errno);
            return -1;
        }
        if (ready > 0 && (out.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            Fail(EIO);
            return -1;
        }
    }
    return static_cast<int>(written);
}

void CloseDevice(DeviceHandle device) {
    if (device == kInvalidDevice) {
        return;
    }
    {
        std::lock_guard lock(g_devicesMutex);
        g_devices.erase(device);
    }
    close(device);
}

}  // namespace platform
