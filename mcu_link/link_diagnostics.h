// Where the link layer's diagnostic lines go. The link layer does no input or
// output of its own, so whoever owns the debug output points the sink at it;
// until then each line goes to standard error.
//
// Threads: any thread may set the sink or write a line at any time; the sink
// itself must accept calls from any thread.
#pragma once

// Receives one line of text without its line end; the sink ends the line.
using LinkDiagnosticSink = void (*)(const char* line);

// A null sink restores the default (standard error).
void SetLinkDiagnosticSink(LinkDiagnosticSink sink);

// Hands one line to the current sink.
void WriteLinkDiagnostic(const char* line);
