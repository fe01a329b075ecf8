// The updater's side of the link, cut down for tests: a frame codec and a
// send block over a real serial device, one frame in flight, sent again when
// no fitting answer comes within a short real-time limit.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mcu_link/mcu_frame_codec.h"
#include "mcu_link/mcu_send_block.h"
#include "platform/types.h"

namespace tools_test {

using Bytes = std::vector<std::uint8_t>;

class CLinkClient {
public:
    enum class Family : std::uint8_t { kA, kB };

    explicit CLinkClient(Family family);
    ~CLinkClient();
    CLinkClient(const CLinkClient&) = delete;
    CLinkClient& operator=(const CLinkClient&) = delete;

    // Opens the device as the updater does (exclusive, raw, 115200 baud).
    bool Open(const std::string& path);
    void Close();
    platform::DeviceHandle Device() const { return m_device; }

    // The family's send block, to compose the next message with.
    CMcuSendBlock& Block() { return *m_block; }

    // Frames and writes a payload (the family's command and sub-command).
    bool Send(const Bytes& payload);
    bool SendBlock() {
        return Send(Bytes(Block().GetBlockBuf(), Block().GetBlockBuf() + Block().GetBlockLen()));
    }
    // Writes bytes as they are (a damaged frame, noise).
    bool SendRaw(const Bytes& bytes);
    // The payload of the next good frame within limit.
    std::optional<Bytes> Await(std::chrono::milliseconds limit);
    // Sends the current block until an answer that accept takes arrives, at
    // most maxSends times; an answer that accept refuses brings the next
    // sending at once, silence one after resendAfter.
    std::optional<Bytes> Exchange(
        const std::function<bool(const Bytes&)>& accept, int maxSends = 20,
        std::chrono::milliseconds resendAfter = std::chrono::milliseconds(300));

    int Sendings() const { return m_sendings; }

private:
    Family m_family;
    std::unique_ptr<CMcuFrameCodec> m_codec;
    std::unique_ptr<CMcuSendBlock> m_block;
    platform::DeviceHandle m_device = platform::kInvalidDevice;
    int m_sendings = 0;
};

}  // namespace tools_test
