#pragma once

// The calling thread's last error: GetLastError on Windows, errno elsewhere.

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace frostcap::test {

#ifdef _WIN32
inline void setLastError(std::uint32_t code) { SetLastError(code); }
inline std::uint32_t lastError() { return GetLastError(); }
#else
inline void setLastError(std::uint32_t code) { errno = static_cast<int>(code); }
inline std::uint32_t lastError() { return static_cast<std::uint32_t>(errno); }
#endif

}  // namespace frostcap::test
