#include "mcu_link/receive_buffer.h"

#include <algorithm>
#include <cstring>

bool CReceiveBuffer::Append(const std::uint8_t* bytes, std::uint32_t count) {
    // Compared this way round so that a huge count cannot wrap the sum.
    if (count <= kCapacityBytes - m_count) {
        if (count != 0) {
            std::memcpy(m_bytes.data() + m_count, bytes, count);
        }
        m_count += count;
        return true;
    }
    // Only the filled part needs clearing; everything behind it is zero.
    std::fill_n(m_bytes.begin(), m_count, std::uint8_t{0});
    m_count = 0;
    return false;
}

void CReceiveBuffer::ConsumeThrough(std::uint32_t last) {
    if (last >= m_count) {
        std::fill_n(m_bytes.begin(), m_count, std::uint8_t{0});
        m_count = 0;
        return;
    }
    const std::uint32_t remaining = m_count - (last + 1);
    std::memmove(m_bytes.data(), m_bytes.data() + last + 1, remaining);
    std::fill(m_bytes.begin() + remaining, m_bytes.begin() + m_count, std::uint8_t{0});
    m_count = remaining;
}
