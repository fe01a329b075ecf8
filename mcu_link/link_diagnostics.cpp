#include "mcu_link/link_diagnostics.h"

#include <atomic>
#include <cstdio>

namespace {

void WriteToStandardError(const char* line) {
    std::fprintf(stderr, "%s\n", line);
}

std::atomic<LinkDiagnosticSink> g_sink{&WriteToStandardError};
std::atomic<FrameTraceSink> g_traceSink{nullptr};

}  // namespace

void SetLinkDiagnosticSink(LinkDiagnosticSink sink) {
    g_sink.store(sink != nullptr ? sink : &WriteToStandardError);
}

void WriteLinkDiagnostic(const char* line) {
    if (line != nullptr) {
        g_sink.load()(line);
    }
}

void SetFrameTraceSink(FrameTraceSink sink) {
    g_traceSink.store(sink);
}

bool IsFrameTraceOn() {
    return g_traceSink.load() != nullptr;
}

void TraceFrame(FrameDirection direction, const std::uint8_t* bytes, std::uint32_t count,
                const char* verdict) {
    const FrameTraceSink sink = g_traceSink.load();
    if (sink != nullptr && bytes != nullptr) {
        sink(direction, bytes, count, verdict);
    }
}
