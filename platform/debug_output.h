// Debug output: printf-style lines, written unbuffered to standard error as
// they are formatted. Tests may capture them with a hook instead.
#pragma once

#include <functional>
#include <string_view>

namespace platform {

void DebugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While a hook is set, each formatted text goes to it instead of standard
// error. An empty hook restores standard error. Any thread may print and set
// the hook: texts reach the hook one at a time, under a lock, so the hook must
// not print debug output itself. DebugPrintf leaves errno as it found it.
using DebugHook = std::function<void(std::string_view text)>;
void SetDebugHook(DebugHook hook);

}  // namespace platform
