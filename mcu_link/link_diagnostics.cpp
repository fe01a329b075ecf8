#include "mcu_link/link_diagnostics.h"

#include <atomic>
#include <cstdio>

namespace {

void WriteToStandardError(const char* line) {
    std::fprintf(stderr, "%s\n", line);
}

std::atomic<LinkDiagnosticSink> g_sink{&WriteToStandardError};

}  // namespace

void SetLinkDiagnosticSink(LinkDiagnosticSink sink) {
    g_sink.store(sink != nullptr ? sink : &WriteToStandardError);
}

void WriteLinkDiagnostic(const char* line) {
    if (line != nullptr) {
        g_sink.load()(line);
    }
}
