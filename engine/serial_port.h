// The serial port through which the head unit talks to its microcontroller.
//
// Threads: Open and Close run on the user-interface thread while no worker
// uses the port. Afterwards the receiver thread reads (and waits on the
// handle), the sender thread writes, and the key engine writes through the
// handle from the user-interface thread. The handle is atomic because those
// threads read it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/types.h"

class CSerialPort {
public:
    // Both queues of the original driver were sized to this; the receiver
    // never reads more than it at once.
    static constexpr std::uint32_t kQueueSizeBytes = 5120;
    // A write may take 10 ms per byte plus 10 ms in all.
    static constexpr std::uint32_t kWriteTimeoutPerByteMs = 10;
    static constexpr std::uint32_t kWriteTimeoutConstantMs = 10;

    CSerialPort() = default;
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // 0 on success, else the system's error code (EBUSY when another program
    // holds the device). Stores the port number and rate in either case.
    std::uint32_t Open(int portNumber, std::uint32_t baudRate);
    void Close();
    // The bytes written, or -1 when there is no device or the write fails.
    int Write(const void* bytes, std::uint32_t count);
    // The bytes read (at most count, what is waiting), or -1.
    int Read(void* buffer, std::uint32_t count);

    platform::DeviceHandle GetHandle() const { return m_device.load(); }
    int GetPortNumber() const { return m_portNumber; }
    std::uint32_t GetBaudRate() const { return m_baudRate; }

    // "COM4:" for ports up to 9, "\$device\COM10" from 10 on.
    static std::string DeviceName(int portNumber);
    // A write with the port's time-out rule on any open device handle; the
    // key engine writes through the updater's handle this way.
    static int WriteHandle(platform::DeviceHandle device, const void* bytes, std::uint32_t count);

private:
    std::atomic<platform::DeviceHandle> m_device{platform::kInvalidDevice};
    int m_portNumber = 0;
    std::uint32_t m_baudRate = 0;
};
