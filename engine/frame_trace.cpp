#include "engine/frame_trace.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "mcu_link/link_diagnostics.h"
#include "platform/clock.h"
#include "platform/debug_output.h"

namespace {

void WriteTraceLine(FrameDirection direction, const std::uint8_t* bytes, std::uint32_t count,
                    const char* verdict) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(static_cast<std::size_t>(count) * 3);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (i != 0) {
            hex.push_back(' ');
        }
        hex.push_back(kHexDigits[bytes[i] >> 4]);
        hex.push_back(kHexDigits[bytes[i] & 0x0F]);
    }
    const bool sent = direction == FrameDirection::kSent;
    platform::DebugPrintf("[trace] %u ms %s %s%s%s%s\n", platform::GetTickCount(),
                          sent ? "-> mcu" : "<- mcu", hex.c_str(), verdict != nullptr ? " (" : "",
                          verdict != nullptr ? verdict : "", verdict != nullptr ? ")" : "");
}

void WriteLinkLine(const char* line) {
    platform::DebugPrintf("%s\n", line);
}

}  // namespace

void InstallLinkDiagnostics() {
    SetLinkDiagnosticSink(&WriteLinkLine);
}

void InstallFrameTraceFromEnvironment() {
    const char* value = std::getenv(kFrameTraceVariable);
    if (value != nullptr && std::strcmp(value, "1") == 0) {
        SetFrameTraceSink(&WriteTraceLine);
    }
}

void TraceSentFrame(const std::uint8_t* bytes, std::uint32_t count, bool written) {
    if (IsFrameTraceOn()) {
        TraceFrame(FrameDirection::kSent, bytes, count, written ? nullptr : "write failed");
    }
}
