// The POSIX directory search's wildcard matcher against a reference that
// tries every way a star can stretch: exponential, so the inputs are short.
// `*` is any run, `?` one unit, ASCII letters fold, and a used-up name still
// matches a rest of the pattern made only of `*` and `.`.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/posix/wildcard.h"

namespace {

constexpr std::size_t kLongest = 10;
constexpr char16_t kAlphabet[] = {u'*', u'?', u'.', u'a', u'A', u'b', u'B', u'\u00e9', u'\u00c9'};

char16_t foldAscii(char16_t unit) {
  return u'A' <= unit && unit <= u'Z' ? static_cast<char16_t>(unit | 0x20) : unit;
}

bool reference(std::u16string_view pattern, std::u16string_view name) {
  if (name.empty()) {
    return std::all_of(pattern.begin(), pattern.end(),
                       [](char16_t unit) { return unit == u'*' || unit == u'.'; });
  }
  if (pattern.empty()) return false;
  if (pattern[0] == u'*') {
    return reference(pattern.substr(1), name) || reference(pattern, name.substr(1));
  }
  if (pattern[0] != u'?' && foldAscii(pattern[0]) != foldAscii(name[0])) return false;
  return reference(pattern.substr(1), name.substr(1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The pattern, a zero byte, the name.
  std::u16string pattern;
  std::u16string name;
  std::u16string* field = &pattern;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && field == &pattern) {
      field = &name;
    } else if (field->size() < kLongest) {
      *field += kAlphabet[data[i] % std::size(kAlphabet)];
    }
  }
  frostcap::fuzz::require(
      frostcap::platform::matchesWildcard(pattern, name) == reference(pattern, name),
      "differs from the reference");
  return 0;
}
