#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace frostcap::bench {

// `stem` followed by `index` in decimal: names that differ for every item.
inline std::u16string numbered(std::u16string_view stem, std::int64_t index) {
  std::u16string text(stem);
  const std::string digits = std::to_string(index);
  text.append(digits.begin(), digits.end());
  return text;
}

}  // namespace frostcap::bench
