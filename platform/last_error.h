// The last error code of the calling thread, as the platform's calls leave it.
// The codes are errno values (EBUSY for a device that another program holds).
#pragma once

#include <cstdint>

namespace platform {

std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

}  // namespace platform
