// The simulator's end of the serial line: the master side of a
// pseudo-terminal that it creates (its slave optionally linked where the
// updater looks for its device), or a given serial device.
//
// Threads: one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CSimulatorPort {
public:
    // A write that finds no room on the line gives up after this long.
    static constexpr std::uint32_t kWriteTimeoutMs = 1000;
    static constexpr std::uint32_t kDefaultDeviceBaud = 115200;

    CSimulatorPort() = default;
    ~CSimulatorPort();
    CSimulatorPort(const CSimulatorPort&) = delete;
    CSimulatorPort& operator=(const CSimulatorPort&) = delete;

    // Creates a pseudo-terminal in raw mode and, when linkPath is not empty,
    // a symbolic link to its slave there (replacing an older symbolic link,
    // never another kind of file). False with error filled on failure.
    bool OpenPseudoTerminal(const std::string& linkPath, std::string& error);
    // Opens the device exclusively, raw, at baud (kDefaultDeviceBaud when 0).
    bool OpenDevice(const std::string& path, std::uint32_t baud, std::string& error);

    bool IsOpen() const { return m_descriptor >= 0; }
    int Descriptor() const { return m_descriptor; }
    // What the updater opens: the link, else the slave, else the device.
    const std::string& PathForUpdater() const { return m_pathForUpdater; }

    // Reads what is waiting, without blocking: the byte count, 0 when nothing
    // is there or nobody holds the other side (IsHungUp then tells), -1 on
    // any other error.
    long Read(std::uint8_t* buffer, std::size_t size);
    // True after a read found the other side closed; cleared by the next read
    // that gets data.
    bool IsHungUp() const { return m_hungUp; }
    // Writes all bytes, waiting up to kWriteTimeoutMs for room. Bytes written
    // while nobody holds a pseudo-terminal's slave are lost, as on a line
    // with nothing plugged in. False when the bytes could not all go out.
    bool Write(const std::vector<std::uint8_t>& bytes);

    // Closes the line and removes the link if it still points at our slave.
    void Close();

private:
    int m_descriptor = -1;
    bool m_ownsDevice = false;  // opened through the platform's serial device layer
    bool m_hungUp = false;
    std::string m_slavePath;
    std::string m_linkPath;
    std::string m_pathForUpdater;
};
