// The body of both frame codec targets. The input is split by
// FuzzedDataProvider: the slice lengths are taken from its end, the received
// bytes from its front, so a mutated seed frame stays a stream of nearly valid
// frames. The codec is fed slice by slice, as reads from the port would feed
// it, and drained after every slice. Properties checked:
//   - the receive count is always the accepted bytes not yet consumed, and an
//     overflow empties the buffer;
//   - a parse that consumes nothing reports no frame;
//   - every frame reported good re-encodes, with its command, sub-command and
//     payload, to exactly the bytes that ended at the consumed position.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "mcu_link/mcu_frame_info.h"

namespace fuzz_support {

// Up to a little over two port reads at once; with -max_len 8192 the 5120-byte
// receive buffer can still overflow.
inline constexpr std::uint32_t kMaxSliceBytes = 1200;

// The codec's own encoding of a received frame whose payload fits its frame
// buffer; the comparison against the stream is then byte for byte.
template <typename Codec>
void CheckReencodes(const std::vector<std::uint8_t>& frameBytes, const McuFrameInfo& info) {
    Codec encoder;
    encoder.PackFrame(info.command, info.subCommand, info.payloadLength, info.payload);
    Check(encoder.GetFrameLen() == frameBytes.size(), "re-encoded frame has the received length");
    Check(std::equal(frameBytes.begin(), frameBytes.end(), encoder.GetFrameBuf()),
          "re-encoded frame equals the received bytes");
}

// Feeds data to a fresh Codec in fuzzer-chosen slices. OversizeCheck is called
// as (frameBytes, info) for a good frame whose payload is larger than
// Codec::kMaxPayloadBytes, which PackFrame refuses to build.
template <typename Codec, typename OversizeCheck>
void FuzzFrameCodec(const std::uint8_t* data, std::size_t size, OversizeCheck checkOversize) {
    FuzzedDataProvider provider(data, size);
    Codec codec;
    std::vector<std::uint8_t> accepted;  // every byte the codec took, in order
    std::size_t consumed = 0;            // accepted bytes the codec has let go of

    while (provider.remaining_bytes() > 0) {
        const auto sliceLength = provider.ConsumeIntegralInRange<std::uint32_t>(1, kMaxSliceBytes);
        const std::vector<std::uint8_t> slice = provider.ConsumeBytes<std::uint8_t>(sliceLength);
        if (slice.empty()) {
            break;
        }
        const auto count = static_cast<std::uint32_t>(slice.size());
        const std::uint32_t waitingBefore = codec.GetRecvCount();
        if (codec.PutRecvData(slice.data(), count, true)) {
            Check(waitingBefore + count <= Codec::kRecvBufBytes, "accepted bytes fit the buffer");
            accepted.insert(accepted.end(), slice.begin(), slice.end());
        } else {
            Check(waitingBefore + count > Codec::kRecvBufBytes, "refused only on overflow");
            Check(codec.GetRecvCount() == 0, "overflow empties the buffer");
            consumed = accepted.size();  // the buffered bytes are gone, the slice never came in
        }
        Check(codec.GetRecvCount() == accepted.size() - consumed,
              "receive count tracks the stream");

        for (;;) {
            const std::uint32_t before = codec.GetRecvCount();
            const bool good = codec.ParseRecvBuf();
            const std::uint32_t after = codec.GetRecvCount();
            Check(after <= before, "parsing never adds bytes");
            if (after == before) {
                Check(!good, "no frame without consumed bytes");
                break;
            }
            consumed += before - after;
            if (!good) {
                continue;  // a delimited frame that failed its checks is dropped
            }
            McuFrameInfo info;
            const std::uint8_t* payload = codec.GetRecvFrame(info);
            Check(payload != nullptr && payload == info.payload, "a good frame holds a payload");
            const std::size_t frameLength = info.payloadLength + Codec::kFrameOverheadBytes;
            Check(frameLength <= before - after, "the frame lies within the consumed bytes");
            const std::vector<std::uint8_t> frameBytes(
                accepted.begin() + static_cast<std::ptrdiff_t>(consumed - frameLength),
                accepted.begin() + static_cast<std::ptrdiff_t>(consumed));
            if (info.payloadLength <= Codec::kMaxPayloadBytes) {
                CheckReencodes<Codec>(frameBytes, info);
            } else {
                checkOversize(frameBytes, info);
            }
            codec.FreeRecvData();
            McuFrameInfo released;
            Check(codec.GetRecvFrame(released) == nullptr && released.payloadLength == 0,
                  "FreeRecvData releases the payload");
        }
    }
}

}  // namespace fuzz_support
