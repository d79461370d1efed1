// POSIX half of the platform layer: portable equivalents of the Win32 calls,
// giving the same results for everything the library passes them.

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/last_error.h"
#include "platform/posix/system_message_table.h"
#include "platform/utf_codec.h"

namespace frostcap::platform {
namespace {

constexpr std::size_t kGuidTextLength = 38;  // {8-4-4-4-12}
constexpr std::array<std::size_t, 4> kDashPositions = {9, 14, 19, 24};

int hexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hex digits starting at `pos`; false on a non-hex unit.
bool readHex(const std::u16string& text, std::size_t pos, std::size_t digits,
             std::uint64_t& value) {
  value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const int v = hexValue(text[pos + i]);
    if (v < 0) return false;
    value = (value << 4) | static_cast<std::uint64_t>(v);
  }
  return true;
}

void writeHex(std::u16string& out, std::uint64_t value, int digits) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    out.push_back(kDigits[(value >> shift) & 0xF]);
  }
}

}  // namespace

std::optional<Guid> parseGuid(const std::u16string& text) {
  if (text.size() != kGuidTextLength || text.front() != u'{' || text.back() != u'}') {
    return std::nullopt;
  }
  for (std::size_t pos : kDashPositions) {
    if (text[pos] != u'-') return std::nullopt;
  }
  Guid guid;
  std::uint64_t value = 0;
  if (!readHex(text, 1, 8, value)) return std::nullopt;
  guid.data1 = static_cast<std::uint32_t>(value);
  if (!readHex(text, 10, 4, value)) return std::nullopt;
  guid.data2 = static_cast<std::uint16_t>(value);
  if (!readHex(text, 15, 4, value)) return std::nullopt;
  guid.data3 = static_cast<std::uint16_t>(value);
  // data4: two bytes before the last dash, six after it.
  constexpr std::array<std::size_t, 8> kBytePositions = {20, 22, 25, 27, 29, 31, 33, 35};
  for (std::size_t i = 0; i < kBytePositions.size(); ++i) {
    if (!readHex(text, kBytePositions[i], 2, value)) return std::nullopt;
    guid.data4[i] = static_cast<std::uint8_t>(value);
  }
  return guid;
}

std::u16string formatGuid(const Guid& guid) {
  std::u16string out;
  out.reserve(kGuidTextLength);
  out.push_back(u'{');
  writeHex(out, guid.data1, 8);
  out.push_back(u'-');
  writeHex(out, guid.data2, 4);
  out.push_back(u'-');
  writeHex(out, guid.data3, 4);
  out.push_back(u'-');
  for (std::size_t i = 0; i < 8; ++i) {
    if (i == 2) out.push_back(u'-');
    writeHex(out, guid.data4[i], 2);
  }
  out.push_back(u'}');
  return out;
}

std::u16string utf8ToWide(std::string_view text) { return utf::toUtf16(text); }

std::string wideToUtf8(std::u16string_view text) { return utf::toUtf8(text); }

bool isNetworkPath(const char16_t* path) {
  return path != nullptr && path[0] == u'\\' && path[1] == u'\\';
}

void initialiseCom() noexcept {}

namespace {

// Win32 error codes live per thread, as GetLastError's do.
thread_local std::uint32_t tLastError = 0;

}  // namespace

void setLastError(std::uint32_t code) noexcept { tLastError = code; }

std::uint32_t lastError() noexcept { return tLastError; }

void clearLastError() noexcept {
  errno = 0;
  tLastError = 0;
}

std::u16string systemMessage(std::uint32_t code) {
  const char16_t* text = lookupSystemMessage(code);
  return text != nullptr ? std::u16string(text) : std::u16string();
}

std::u16string systemErrorText(std::uint32_t code) { return systemMessage(code); }

namespace {

bool sameNameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto fold = [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// The value of an environment variable, its name compared without regard to
// case as Windows compares it: the exact spelling first, since that is the
// usual case and getenv finds it quickly, then any spelling. Nothing when no
// variable has the name; a name with '=' in it can never be one.
const char* findVariable(std::u16string_view name) {
  if (name.empty() || name.find_first_of(std::u16string_view(u"=\0", 2)) != name.npos) {
    return nullptr;
  }
  const std::string wanted = wideToUtf8(name);
  if (const char* value = std::getenv(wanted.c_str())) return value;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (equals == nullptr) continue;
    if (sameNameIgnoringAsciiCase(std::string_view(*entry, equals - *entry), wanted)) {
      return equals + 1;
    }
  }
  return nullptr;
}

}  // namespace

std::optional<std::u16string> expandEnvironment(const std::u16string& text) {
  constexpr std::uint32_t kInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER
  std::u16string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (;;) {
    const std::size_t open = text.find(u'%', pos);
    const std::size_t close = open == text.npos ? text.npos : text.find(u'%', open + 1);
    if (close == text.npos) break;  // what is left holds no complete reference
    out.append(text, pos, open - pos);
    const std::u16string_view name = std::u16string_view(text).substr(open + 1, close - open - 1);
    if (const char* value = findVariable(name)) {
      out += utf8ToWide(value);
    } else {
      // An unknown name, and "%%", stay as written, and the scan goes on after
      // the closing sign: it never opens a reference of its own.
      out.append(text, open, close - open + 1);
    }
    pos = close + 1;
  }
  out.append(text, pos);
  // The system's limit: a longer result fails as Windows fails it.
  if (out.size() >= kEnvironmentLimit) {
    setLastError(kInsufficientBuffer);
    return std::nullopt;
  }
  return out;
}

}  // namespace frostcap::platform
