// The frame trace for field diagnosis: with KESTROVAN_TRACE=1 in the
// environment, every frame written to the boot loader and every frame found in
// its answers (accepted, or rejected with the reason) goes to the debug output
// as one line: milliseconds, direction, the bytes in hex. Off by default; it
// changes nothing else.
#pragma once

#include <cstdint>

inline constexpr const char* kFrameTraceVariable = "KESTROVAN_TRACE";

// Switches the trace on when the variable is "1" (and leaves it as it is
// otherwise). Any thread; cheap to call again.
void InstallFrameTraceFromEnvironment();

// Points the link layer's diagnostic lines (a receive buffer overflow) at the
// debug output.
void InstallLinkDiagnostics();

// Reports a frame written to the port (written false: the write failed).
void TraceSentFrame(const std::uint8_t* bytes, std::uint32_t count, bool written);
