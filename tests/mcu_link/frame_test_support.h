// Helpers shared by the link tests: byte strings written as hex, and feeding
// and draining a codec the way the updater's receiver does.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

#include "mcu_link/mcu_frame_codec.h"

namespace link_test {

using Bytes = std::vector<std::uint8_t>;

// "21 23 0D" -> {0x21, 0x23, 0x0D}; blanks are ignored.
inline Bytes Hex(std::string_view text) {
    Bytes bytes;
    int high = -1;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            continue;
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    return bytes;
}

inline Bytes Text(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

inline Bytes BuiltFrame(const CMcuFrameCodec& codec) {
    return Bytes(codec.GetFrameBuf(), codec.GetFrameBuf() + codec.GetFrameLen());
}

inline Bytes Pack(CMcuFrameCodec& codec, std::uint8_t command, std::uint8_t subCommand,
                  const Bytes& payload) {
    codec.PackFrame(command, subCommand, static_cast<std::uint32_t>(payload.size()),
                    payload.data());
    return BuiltFrame(codec);
}

struct ReceivedFrame {
    std::uint8_t command = 0;
    std::uint8_t subCommand = 0;
    Bytes payload;

    friend bool operator==(const ReceivedFrame&, const ReceivedFrame&) = default;
    friend std::ostream& operator<<(std::ostream& out, const ReceivedFrame& frame) {
        out << "{command " << int{frame.command} << ", sub " << int{frame.subCommand}
            << ", payload of " << frame.payload.size() << " bytes}";
        return out;
    }
};

inline bool Feed(CMcuFrameCodec& codec, const Bytes& bytes) {
    return codec.PutRecvData(bytes.data(), static_cast<std::uint32_t>(bytes.size()), true);
}

// One ParseRecvBuf; the frame it accepted, as the receiver would take it.
inline std::optional<ReceivedFrame> ParseOne(CMcuFrameCodec& codec) {
    if (!codec.ParseRecvBuf()) {
        return std::nullopt;
    }
    McuFrameInfo info{};
    const std::uint8_t* payload = codec.GetRecvFrame(info);
    ReceivedFrame frame{info.command, info.subCommand, {}};
    if (payload != nullptr) {
        frame.payload.assign(payload, payload + info.payloadLength);
    }
    codec.FreeRecvData();
    return frame;
}

}  // namespace link_test
