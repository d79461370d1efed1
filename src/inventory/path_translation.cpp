#include "inventory/path_translation.h"

#include <algorithm>

namespace frostcap {
namespace {

// The run-time library's default locale folds the ASCII letters only.
char16_t foldAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit;
}

}  // namespace

bool startsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (foldAscii(text[i]) != foldAscii(prefix[i])) return false;
  }
  return true;
}

std::u16string translatePath(std::u16string_view path, const std::vector<std::u16string>& from,
                             const std::vector<std::u16string>& to) {
  std::u16string result(path);
  const std::size_t pairs = std::min(from.size(), to.size());
  for (std::size_t i = 0; i < pairs; ++i) {
    if (startsWithIgnoringCase(result, from[i])) result.replace(0, from[i].size(), to[i]);
  }
  return result;
}

}  // namespace frostcap
