// Shared by the fuzz targets: a failed property stops the run with a message,
// and libFuzzer keeps the input that got there as a crash.
#pragma once

#include <cstdio>

namespace fuzz_support {

[[noreturn]] inline void Fail(const char* property) {
    std::fprintf(stderr, "fuzz property failed: %s\n", property);
    __builtin_trap();
}

inline void Check(bool holds, const char* property) {
    if (!holds) {
        Fail(property);
    }
}

}  // namespace fuzz_support
