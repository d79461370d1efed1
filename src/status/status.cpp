#include "status/status.h"

#include <array>
#include <cstdio>
#include <utility>

#include "platform/platform.h"
#include "status/status_table.h"

namespace frostcap {
namespace {

// Codes of the interface facility that the system cannot describe are shown as
// the number of a dispatch error, the rest as an unknown error.
constexpr std::uint32_t kFirstDispatchError = 0x80040201;
constexpr std::uint32_t kLastDispatchError = 0x8004FFFF;
constexpr std::uint32_t kDispatchErrorBase = 0x80040200;

std::u16string asciiToUtf16(const char* text) {
  std::u16string out;
  for (; *text != '\0'; ++text) out.push_back(static_cast<char16_t>(*text));
  return out;
}

// Formatted into a fixed 32-unit buffer as the system's fallback is; the
// longest text ("Unknown error 0xFFFFFFFF") has 24 characters, so it always
// fits and no allocation can fail before the result string is built.
std::u16string fallbackText(std::uint32_t code) {
  std::array<char, 32> buffer{};
  if (code >= kFirstDispatchError && code <= kLastDispatchError) {
    std::snprintf(buffer.data(), buffer.size(), "IDispatch error #%u", code - kDispatchErrorBase);
  } else {
    std::snprintf(buffer.data(), buffer.size(), "Unknown error 0x%X", code);
  }
  return asciiToUtf16(buffer.data());
}

}  // namespace

std::u16string withoutTrailingLineBreak(std::u16string text) {
  if (text.size() >= 2 && text.back() == u'\n') {
    text.pop_back();
    if (text.back() == u'\r') text.pop_back();
  }
  return text;
}

std::u16string describeStatus(Status status) {
  const auto code = static_cast<std::uint32_t>(status);
  if (const char16_t* text = lookupServiceStatusText(code)) return text;
  std::u16string text = platform::systemMessage(code);
  if (text.empty()) return fallbackText(code);
  return withoutTrailingLineBreak(std::move(text));
}

std::u16string formatStatus(Status status) {
  std::array<char, 11> hex{};  // "0x" + 8 digits + NUL
  std::snprintf(hex.data(), hex.size(), "0x%08x", static_cast<std::uint32_t>(status));
  std::u16string out = asciiToUtf16(hex.data());
  out += u": ";
  out += describeStatus(status);
  return out;
}

}  // namespace frostcap
