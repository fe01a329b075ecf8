// A pseudo-terminal pair for tests: the test plays the far end (the
// microcontroller) on the master side; the code under test opens the slave,
// usually through a link <root>/dev/ttyS3 -> slave.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class CPseudoTerminal {
public:
    CPseudoTerminal();
    ~CPseudoTerminal();
    CPseudoTerminal(const CPseudoTerminal&) = delete;
    CPseudoTerminal& operator=(const CPseudoTerminal&) = delete;

    bool IsOpen() const { return m_master >= 0; }
    int Master() const { return m_master; }
    const std::string& SlavePath() const { return m_slavePath; }
    // Makes <linkPath> a symbolic link to the slave (creating its folders).
    bool LinkSlaveAt(const std::string& linkPath) const;
    void CloseMaster();

    bool Send(const std::vector<std::uint8_t>& bytes) const;
    // Reads until count bytes arrived or the real-time limit passed.
    std::vector<std::uint8_t> Receive(std::size_t count,
                                      std::chrono::milliseconds limit = std::chrono::seconds(2)) const;
    // Everything that arrives within the real-time window.
    std::vector<std::uint8_t> ReceiveFor(std::chrono::milliseconds window) const;

private:
    int m_master = -1;
    std::string m_slavePath;
};

}  // namespace testing_support
