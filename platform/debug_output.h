// Debug output: printf-style lines, written unbuffered to standard error as
// they are formatted. Tests may capture them with a hook instead.
#pragma once

#include <functional>
#include <string_view>

namespace platform {

void DebugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While a hook is set, each formatted text goes to it instead of standard
// error. An empty hook restores standard error. Set it while no other thread
// writes debug output.
using DebugHook = std::function<void(std::string_view text)>;
void SetDebugHook(DebugHook hook);

}  // namespace platform
