// The file-reading targets hand their input to the code under test as a file:
// one scratch directory per process, which the platform layer takes for the
// executable's own directory, so the firmware and flag files are found there.
// Unless TMPDIR says otherwise the directory goes to /dev/shm: on a disk every
// input's file costs milliseconds, in memory microseconds.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/debug_output.h"
#include "platform/files.h"
#include "tests/support/scratch_directory.h"

namespace fuzz_support {

inline constexpr const char* kMemoryDirectory = "/dev/shm";

inline const testing_support::CScratchDirectory& InputDirectory() {
    static const bool inMemory = [] {
        // Before the directory is made; overwrite 0 keeps a TMPDIR the caller gave.
        return access(kMemoryDirectory, W_OK) == 0 && setenv("TMPDIR", kMemoryDirectory, 0) == 0;
    }();
    static_cast<void>(inMemory);
    static const testing_support::CScratchDirectory directory;
    static const bool prepared = [] {
        Check(!directory.Path().empty(), "a scratch directory could be made");
        platform::SetModuleFileNameForTesting(directory / "Kestrovan");
        // The debug lines would cost more than the code under test.
        platform::SetDebugHook([](std::string_view) {});
        return true;
    }();
    static_cast<void>(prepared);
    return directory;
}

// Writes the input as name in the scratch directory; returns its path.
inline std::string WriteInputFile(std::string_view name, const std::uint8_t* data,
                                  std::size_t size) {
    return InputDirectory().WriteFile(name,
                                      std::string_view(reinterpret_cast<const char*>(data), size));
}

}  // namespace fuzz_support
