#include "tests/tools/link_client.h"

#include <poll.h>

#include "mcu_link/line_send_block.h"
#include "mcu_link/stm8_send_block.h"
#include "mcu_link/sum_frame_codec.h"
#include "mcu_link/xor_frame_codec.h"
#include "platform/serial_device.h"

namespace tools_test {

namespace {

constexpr std::uint32_t kBaud = 115200;
constexpr std::uint32_t kWriteTimeoutMs = 1000;
constexpr std::uint8_t kCommandA = 0x41;     // 'A'
constexpr std::uint8_t kSubCommandA = 0x4F;  // 'O'
constexpr std::uint8_t kCommandB = 0x33;     // '3'
constexpr std::uint8_t kSubCommandB = 0x01;

}  // namespace

CLinkClient::CLinkClient(Family family) : m_family(family) {
    if (family == Family::kA) {
        m_codec = std::make_unique<CXorFrameCodec>();
        m_block = std::make_unique<CStm8SendBlock>();
    } else {
        m_codec = std::make_unique<CSumFrameCodec>();
        m_block = std::make_unique<CLineSendBlock>();
    }
}

CLinkClient::~CLinkClient() {
    Close();
}

bool CLinkClient::Open(const std::string& path) {
    Close();
    m_device = platform::OpenSerialDevice(path);
    if (m_device == platform::kInvalidDevice) {
        return false;
    }
    platform::SetSerialLine(m_device, kBaud);
    platform::PurgeDevice(m_device, platform::kPurgeRxClear | platform::kPurgeTxClear);
    return true;
}

void CLinkClient::Close() {
    platform::CloseDevice(m_device);
    m_device = platform::kInvalidDevice;
}

bool CLinkClient::Send(const Bytes& payload) {
    const bool familyA = m_family == Family::kA;
    m_codec->PackFrame(familyA ? kCommandA : kCommandB, familyA ? kSubCommandA : kSubCommandB,
                       static_cast<std::uint32_t>(payload.size()), payload.data());
    ++m_sendings;
    return platform::WriteDevice(m_device, m_codec->GetFrameBuf(), m_codec->GetFrameLen(),
                                 kWriteTimeoutMs) == static_cast<int>(m_codec->GetFrameLen());
}

bool CLinkClient::SendRaw(const Bytes& bytes) {
    return platform::WriteDevice(m_device, bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                 kWriteTimeoutMs) == static_cast<int>(bytes.size());
}

std::optional<Bytes> CLinkClient::Await(std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        // A frame may wait in the codec already (two answers in one read).
        if (m_codec->ParseRecvBuf()) {
            McuFrameInfo info{};
            const std::uint8_t* payload = m_codec->GetRecvFrame(info);
            Bytes answer(payload, payload + info.payloadLength);
            m_codec->FreeRecvData();
            return answer;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return std::nullopt;
        }
        pollfd in{m_device, POLLIN, 0};
        if (poll(&in, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        std::uint8_t chunk[512];
        const int got =
            (in.revents & POLLIN) != 0 ? platform::ReadDevice(m_device, chunk, sizeof chunk) : 0;
        if (got > 0) {
            m_codec->PutRecvData(chunk, static_cast<std::uint32_t>(got), true);
        } else if ((in.revents & (POLLHUP | POLLERR)) != 0) {
            return std::nullopt;  // the other side is gone
        }
    }
}

std::optional<Bytes> CLinkClient::Exchange(const std::function<bool(const Bytes&)>& accept,
                                           int maxSends, std::chrono::milliseconds resendAfter) {
    for (int sending = 0; sending < maxSends; ++sending) {
        if (!SendBlock()) {
            return std::nullopt;
        }
        const auto answer = Await(resendAfter);
        if (answer && accept(*answer)) {
            return answer;
        }
    }
    return std::nullopt;
}

}  // namespace tools_test
