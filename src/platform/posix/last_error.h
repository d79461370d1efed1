#pragma once

#include <cstdint>

namespace frostcap::platform {

// Records a Win32 error code as the calling thread's last error, for
// lastError() to return, the way a failing Win32 call leaves one behind.
void setLastError(std::uint32_t code) noexcept;

}  // namespace frostcap::platform
