#pragma once

// "." and ".." in a path, resolved as Windows resolves them: the one rule
// that keeps the library's searches inside the volume a writer's descriptor
// names, and the simulated service's paths inside the volume or copy they
// name.

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace frostcap::platform {

// `path` with its "." and ".." components resolved, never above its first
// `root` units, which stay as they are. Either slash separates components and
// a doubled separator counts as one, as on Windows, so that neither hides a
// ".." from the rule. Unchanged when it has no such component; otherwise the
// components kept are joined by backslashes, with one at the end when `path`
// ended with a separator and anything is left below the root.
inline std::u16string resolveDots(std::u16string_view path, std::size_t root = 0) {
  constexpr std::u16string_view kSeparators = u"\\/";
  std::vector<std::u16string_view> kept;
  bool changed = false;
  for (std::size_t start = root; start < path.size();) {
    const std::size_t end = std::min(path.find_first_of(kSeparators, start), path.size());
    const std::u16string_view component = path.substr(start, end - start);
    if (component == u"." || component == u"..") {
      changed = true;
      if (component == u".." && !kept.empty()) kept.pop_back();
    } else if (!component.empty()) {
      kept.push_back(component);
    }
    start = end + 1;
  }
  if (!changed) return std::u16string(path);
  std::u16string resolved(path.substr(0, root));
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i != 0) resolved.push_back(u'\\');
    resolved.append(kept[i]);
  }
  const bool endsWithSeparator = kSeparators.find(path.back()) != std::u16string_view::npos;
  if (!kept.empty() && endsWithSeparator) resolved.push_back(u'\\');
  return resolved;
}

}  // namespace frostcap::platform
