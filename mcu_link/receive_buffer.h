// The received bytes a codec has not consumed yet, packed from the first
// byte; every byte behind them stays zero. Both frame formats keep one.
//
// Threads: used by its codec's receiving half only (one thread).
#pragma once

#include <array>
#include <cstdint>

class CReceiveBuffer {
public:
    static constexpr std::uint32_t kCapacityBytes = 5120;

    // Appends count bytes. When they would not fit, everything buffered is
    // dropped together with the offered bytes, and the result is false.
    bool Append(const std::uint8_t* bytes, std::uint32_t count);
    // Removes the bytes up to and including position last (a frame and
    // whatever came in front of it) and moves the rest to the front.
    void ConsumeThrough(std::uint32_t last);

    const std::uint8_t* Data() const { return m_bytes.data(); }
    std::uint32_t Count() const { return m_count; }

private:
    std::array<std::uint8_t, kCapacityBytes> m_bytes{};
    std::uint32_t m_count = 0;
};
