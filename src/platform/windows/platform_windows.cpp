// Windows half of the platform layer: the Win32 and COM calls themselves.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <objbase.h>
#include <shlwapi.h>

#include <algorithm>
#include <climits>
#include <cwchar>
#include <iterator>
#include <vector>

#include "platform/platform.h"

namespace frostcap::platform {

namespace {

Guid fromWindows(const GUID& value) {
  Guid guid{value.Data1, value.Data2, value.Data3, {}};
  std::copy(std::begin(value.Data4), std::end(value.Data4), guid.data4);
  return guid;
}

GUID toWindows(const Guid& guid) {
  GUID value{guid.data1, guid.data2, guid.data3, {}};
  std::copy(std::begin(guid.data4), std::end(guid.data4), value.Data4);
  return value;
}

}  // namespace

std::u16string utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  // Measure, then convert into a string of exactly that size. Text longer than
  // an int can count is not something the library ever converts.
  const int size = text.size() > INT_MAX ? INT_MAX : static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::u16string out(static_cast<std::size_t>(length), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, asWide(out.data()), length);
  return out;
}

std::string wideToUtf8(std::u16string_view text) {
  if (text.empty()) return {};
  const int size = text.size() > INT_MAX ? INT_MAX : static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, asWide(text.data()), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, asWide(text.data()), size, out.data(), length, nullptr, nullptr);
  return out;
}

std::optional<Guid> parseGuid(const std::u16string& text) {
  GUID parsed{};
  if (FAILED(CLSIDFromString(asWide(text.c_str()), &parsed))) return std::nullopt;
  return fromWindows(parsed);
}

std::u16string formatGuid(const Guid& guid) {
  wchar_t buffer[39] = {};  // 38 characters and the terminator
  const int written = StringFromGUID2(toWindows(guid), buffer, 39);
  return written > 0 ? std::u16string(asUtf16(buffer)) : std::u16string();
}

bool isNetworkPath(const char16_t* path) {
  return path != nullptr && PathIsNetworkPathW(asWide(path)) != FALSE;
}

void initialiseCom() noexcept { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

void clearLastError() noexcept { SetLastError(0); }

std::u16string systemMessage(std::uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer),
      0, nullptr);
  if (buffer == nullptr) return {};
  // Own the system's buffer at once so that it is freed even if the copy throws.
  struct LocalBuffer {
    wchar_t* p;
    ~LocalBuffer() { LocalFree(p); }
  } owner{buffer};
  return std::u16string(asUtf16(buffer), length);
}

std::uint32_t lastError() noexcept { return GetLastError(); }

std::u16string systemErrorText(std::uint32_t code) {
  constexpr DWORD kMessageUnits = 2560;
  wchar_t buffer[kMessageUnits] = {};
  // Inserts are ignored on purpose: with no arguments to give, formatting a
  // text that has %1 in it would read arguments that do not exist. Such a
  // text comes back raw, its insert sequences as the system wrote them.
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, kMessageUnits, nullptr);
  return std::u16string(asUtf16(buffer), std::wcslen(buffer));
}

std::optional<std::u16string> expandEnvironment(const std::u16string& text) {
  // The system's limit on environment text, terminating null included. A
  // longer result fails rather than growing the buffer: a path that long
  // names nothing a search could open.
  std::vector<wchar_t> buffer(kEnvironmentLimit);
  const DWORD size = static_cast<DWORD>(buffer.size());
  SetLastError(0);
  const DWORD needed = ExpandEnvironmentStringsW(asWide(text.c_str()), buffer.data(), size);
  if (needed == 0) return std::nullopt;
  if (needed > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return std::nullopt;
  }
  // Wine cannot expand past its limit and then returns the size of the
  // buffer, not the size it needs, having filled it with a cut text; only
  // the error it sets tells that apart from a result that just fits.
  if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
  return std::u16string(asUtf16(buffer.data()), needed - 1);
}

}  // namespace frostcap::platform
