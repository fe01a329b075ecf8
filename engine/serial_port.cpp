#include "engine/serial_port.h"

#include <cerrno>
#include <cstdio>

#include "platform/debug_output.h"
#include "platform/last_error.h"
#include "platform/serial_device.h"
#include "platform/system_root.h"

namespace {

// The port number from which the original driver wants the long device name.
constexpr int kFirstLongNamePort = 10;

}  // namespace

CSerialPort::~CSerialPort() {
    Close();
}

std::string CSerialPort::DeviceName(int portNumber) {
    char name[32];
    if (portNumber < kFirstLongNamePort) {
        std::snprintf(name, sizeof name, "COM%d:", portNumber);
    } else {
        std::snprintf(name, sizeof name, "\\$device\\COM%d", portNumber);
    }
    return name;
}

std::uint32_t CSerialPort::Open(int portNumber, std::uint32_t baudRate) {
    m_portNumber = portNumber;
    m_baudRate = baudRate;
    const std::string path = platform::MapComDeviceName(DeviceName(portNumber));
    if (path.empty()) {
        platform::SetLastError(ENODEV);
        return ENODEV;
    }
    const platform::DeviceHandle device = platform::OpenSerialDevice(path);
    if (device == platform::kInvalidDevice) {
        const std::uint32_t error = platform::GetLastError();
        return error != 0 ? error : static_cast<std::uint32_t>(EIO);
    }
    // Only the open can fail the call; the settings below are applied as
    // well as the device allows. The kernel sizes the queues itself.
    if (!platform::SetSerialLine(device, baudRate)) {
        platform::DebugPrintf("CSerialPort::Open %s: line settings refused (0x%x)\n", path.c_str(),
                              platform::GetLastError());
    }
    platform::PurgeDevice(device, platform::kPurgeTxClear | platform::kPurgeRxClear);
    platform::SetCommMask(device, platform::kEvRxChar | platform::kEvErr);
    platform::ClearCommError(device, nullptr, nullptr);
    m_device.store(device);
    return 0;
}

void CSerialPort::Close() {
    const platform::DeviceHandle device = m_device.exchange(platform::kInvalidDevice);
    platform::CloseDevice(device);
}

int CSerialPort::WriteHandle(platform::DeviceHandle device, const void* bytes,
                             std::uint32_t count) {
    if (device == platform::kInvalidDevice) {
        platform::SetLastError(EBADF);
        return -1;
    }
    return platform::WriteDevice(device, bytes, count,
                                 kWriteTimeoutPerByteMs * count + kWriteTimeoutConstantMs);
}

int CSerialPort::Write(const void* bytes, std::uint32_t count) {
    return WriteHandle(m_device.load(), bytes, count);
}

int CSerialPort::Read(void* buffer, std::uint32_t count) {
    const platform::DeviceHandle device = m_device.load();
    if (device == platform::kInvalidDevice) {
        platform::SetLastError(EBADF);
        return -1;
    }
    return platform::ReadDevice(device, buffer, count);
}
