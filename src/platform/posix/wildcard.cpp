#include "platform/posix/wildcard.h"

#include <cstddef>

namespace frostcap::platform {
namespace {

constexpr char16_t foldAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

}  // namespace

bool matchesWildcard(std::u16string_view pattern, std::u16string_view name) {
  constexpr std::size_t kNoStar = std::u16string_view::npos;
  std::size_t p = 0;
  std::size_t n = 0;
  // The most recent star and the name position it was last tried against.
  // Only the latest star ever needs to be revisited: anything an earlier star
  // could absorb, the latest can absorb as well.
  std::size_t star = kNoStar;
  std::size_t starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      starName = n;
    } else if (p < pattern.size() &&
               (pattern[p] == u'?' || foldAscii(pattern[p]) == foldAscii(name[n]))) {
      ++p;
      ++n;
    } else if (star != kNoStar) {
      p = star + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && (pattern[p] == u'*' || pattern[p] == u'.')) ++p;
  return p == pattern.size();
}

}  // namespace frostcap::platform
