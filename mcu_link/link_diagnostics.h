// Where the link layer's diagnostic lines go. The link layer does no input or
// output of its own, so whoever owns the debug output points the sink at it;
// until then each line goes to standard error.
//
// Threads: any thread may set the sink or write a line at any time; the sink
// itself must accept calls from any thread.
#pragma once

#include <cstdint>

// Receives one line of text without its line end; the sink ends the line.
using LinkDiagnosticSink = void (*)(const char* line);

// A null sink restores the default (standard error).
void SetLinkDiagnosticSink(LinkDiagnosticSink sink);

// Hands one line to the current sink.
void WriteLinkDiagnostic(const char* line);

// Frame trace: every frame written to the boot loader and every frame found in
// what it sent, for field diagnosis. Off (no sink) unless someone sets one.
enum class FrameDirection { kSent, kReceived };

// verdict: for a received frame "accepted" or why it was rejected; for a sent
// frame nullptr, or why the write failed.
using FrameTraceSink = void (*)(FrameDirection direction, const std::uint8_t* bytes,
                                std::uint32_t count, const char* verdict);

// A null sink switches the trace off.
void SetFrameTraceSink(FrameTraceSink sink);
bool IsFrameTraceOn();
void TraceFrame(FrameDirection direction, const std::uint8_t* bytes, std::uint32_t count,
                const char* verdict);
