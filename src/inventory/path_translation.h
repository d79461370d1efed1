#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace frostcap {

// Rewrites the leading part of `path` through pairs of prefixes: for each i
// below the shorter list's length, in order, a path that begins with from[i]
// (compared without regard to ASCII case) has that prefix replaced by to[i].
// Every pair is tried on the result of the ones before. Nothing checks that a
// match ends at a separator.
// Whether `text` begins with `prefix`, compared as _wcsnicmp compares in the
// run-time library's default locale: the ASCII letters without regard to case.
bool startsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix);

std::u16string translatePath(std::u16string_view path, const std::vector<std::u16string>& from,
                             const std::vector<std::u16string>& to);

}  // namespace frostcap
