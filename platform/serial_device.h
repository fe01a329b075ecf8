// Serial devices: the operations the original system offers on a COM port
// handle, on a Linux tty (a real UART, or a pseudo-terminal in tests).
//
// Thread contract: one thread waits and reads (WaitCommEvent, ClearCommError,
// ReadDevice), other threads may write and may call SetCommMask to release a
// pending wait; OpenSerialDevice and CloseDevice run while no other thread
// uses the handle. Every call reports failure by its result and leaves the
// errno value in the last error code.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

// Event mask bits, with the values of the original system.
inline constexpr std::uint32_t kEvRxChar = 0x0001;  // a byte arrived
inline constexpr std::uint32_t kEvErr = 0x0080;     // a line error (also: the device hung up)
// Purge flags.
inline constexpr std::uint32_t kPurgeTxClear = 0x0004;
inline constexpr std::uint32_t kPurgeRxClear = 0x0008;

// Opens the device read-write without making it the controlling terminal
// and takes it exclusively (flock LOCK_EX|LOCK_NB and TIOCEXCL). A device
// that another program holds fails with EBUSY. kInvalidDevice on failure.
DeviceHandle OpenSerialDevice(const std::string& path);

// Raw mode (no echo, no line editing, no translation, no XON/XOFF), the
// given speed, 8 data bits, no parity, one stop bit, receiver on; the other
// settings stay as the device had them. False for an unsupported speed.
bool SetSerialLine(DeviceHandle device, std::uint32_t baudRate);

// Discards what waits in the queues named by flags (kPurge*).
bool PurgeDevice(DeviceHandle device, std::uint32_t flags);

// Sets the events a wait looks for. Any call releases a pending wait, which
// then reports no event: setting 0 is how another thread stops a waiter.
bool SetCommMask(DeviceHandle device, std::uint32_t mask);

// Blocks until an event of the mask occurs or the mask is changed; *events
// receives the events seen (0 after a mask change). A hang-up is reported
// once as kEvErr; later waits then block (checking the device now and then)
// until data arrives or the mask changes, so a waiter never spins.
bool WaitCommEvent(DeviceHandle device, std::uint32_t* events);

// Clears the line error state; *errors receives the errors seen since the
// last call (0 or kEvErr), *bytesWaiting the bytes in the input queue.
bool ClearCommError(DeviceHandle device, std::uint32_t* errors, std::uint32_t* bytesWaiting);

// Reads what is waiting, at most count bytes, without blocking. -1 on error.
int ReadDevice(DeviceHandle device, void* buffer, std::uint32_t count);

// Writes count bytes, waiting at most timeoutMs (real time) for the device
// to take them. Returns the bytes written (short on a time-out), -1 on error.
int WriteDevice(DeviceHandle device, const void* bytes, std::uint32_t count,
                std::uint32_t timeoutMs);

// Closes the device and forgets its state. Nothing for kInvalidDevice.
void CloseDevice(DeviceHandle device);

}  // namespace platform
