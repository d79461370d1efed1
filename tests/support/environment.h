#pragma once

// Sets a variable in the process environment, where the system's expansion of
// %NAME% references reads it.

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

#include "platform/platform.h"

namespace frostcap::test {

inline bool setEnvironment(const std::u16string& name, const std::u16string& value) {
#ifdef _WIN32
  return SetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(name.c_str()),
                                 reinterpret_cast<const wchar_t*>(value.c_str())) != 0;
#else
  return setenv(platform::wideToUtf8(name).c_str(), platform::wideToUtf8(value).c_str(), 1) == 0;
#endif
}

}  // namespace frostcap::test
