#pragma once

// The only door to <windows.h> for library code. MinGW defaults _WIN32_WINNT
// to a value too low for the shadow copy interfaces; Windows 7 is the oldest
// system the library supports.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0601

#include <windows.h>

#include <string>

namespace frostcap::platform {

// wchar_t and char16_t are both UTF-16 code units on Windows; the library
// keeps char16_t and crosses to the Win32 API here.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline const wchar_t* asWide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}
inline wchar_t* asWide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline const char16_t* asUtf16(const wchar_t* text) {
  return reinterpret_cast<const char16_t*>(text);
}

}  // namespace frostcap::platform
