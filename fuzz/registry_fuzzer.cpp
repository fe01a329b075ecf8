// The registry export reader over random bytes. Besides running clean, a query
// must keep its contract: on failure neither the buffer nor the size changes;
// on success the size is within the limit and nothing behind it is written;
// the stored size as a limit reads the same bytes again, one byte less fails.
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/last_error.h"
#include "platform/registry.h"

namespace {

using fuzz_support::Check;

constexpr std::uint32_t kLimitBytes = 512;
constexpr std::uint8_t kUntouched = 0xAA;  // fills buffers a failed query must leave alone

struct Query {
    std::string_view keyPath;
    std::string_view valueName;
};

// The values the program reads, a default value and a nested key; the seeds
// carry these names so that mutations stay near the real layout.
constexpr std::array kQueries = {
    Query{"SoftWare\\Tovren\\Os", "CPU_TYPE"},
    Query{"SoftWare\\Tovren\\Os", "PROJECTTYPE"},
    Query{"SoftWare\\Tovren\\Os", "HW_VERSION"},
    Query{"SoftWare\\Tovren\\Os", ""},
    Query{"SoftWare\\Tovren", "A"},
};

struct Result {
    bool found = false;
    std::uint32_t size = 0;
    std::uint32_t error = 0;
    std::array<std::uint8_t, kLimitBytes> buffer{};
};

Result Run(const std::uint8_t* data, std::size_t size, const Query& query, std::uint32_t limit) {
    Result result;
    result.buffer.fill(kUntouched);
    result.size = limit;
    platform::SetLastError(0);
    result.found =
        platform::RegistryQueryValueInExport(data, size, platform::kHkeyLocalMachine, query.keyPath,
                                             query.valueName, result.buffer.data(), &result.size);
    result.error = platform::GetLastError();
    return result;
}

bool UntouchedFrom(const Result& result, std::uint32_t from) {
    for (std::uint32_t index = from; index < kLimitBytes; ++index) {
        if (result.buffer[index] != kUntouched) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const Query& query : kQueries) {
        const Result full = Run(data, size, query, kLimitBytes);
        if (!full.found) {
            Check(full.size == kLimitBytes && UntouchedFrom(full, 0),
                  "a failed query changes nothing");
            Check(full.error == ENOENT || full.error == ERANGE, "a failed query says why");
            continue;
        }
        Check(full.size <= kLimitBytes && UntouchedFrom(full, full.size),
              "nothing is written behind the stored size");

        const Result exact = Run(data, size, query, full.size);
        Check(exact.found && exact.size == full.size && exact.buffer == full.buffer,
              "the stored size as the limit reads the same bytes");
        if (full.size > 0) {
            const Result tight = Run(data, size, query, full.size - 1);
            Check(!tight.found && tight.error == ERANGE && tight.size == full.size - 1 &&
                      UntouchedFrom(tight, 0),
                  "one byte less than the stored size fails with ERANGE");
        }
    }
    return 0;
}
