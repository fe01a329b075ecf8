// A received frame as handed from a codec to its user.
#pragma once

#include <cstdint>

struct McuFrameInfo {
    std::uint8_t command = 0;
    std::uint8_t subCommand = 0;
    std::uint16_t payloadLength = 0;
    // Borrowed: the codec that filled the record owns the bytes until its
    // FreeRecvData, its next unpack or its destruction. Never freed by the
    // user.
    const std::uint8_t* payload = nullptr;
};
