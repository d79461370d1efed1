#pragma once

// What the fuzz targets share: a failed expectation is a finding, reported
// on standard error and ended with abort(), which libFuzzer records with the
// input that caused it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace frostcap::fuzz {

[[noreturn]] inline void finding(std::string_view what) {
  std::fprintf(stderr, "finding: %.*s\n", static_cast<int>(what.size()), what.data());
  std::abort();
}

inline void require(bool holds, std::string_view what) {
  if (!holds) finding(what);
}

// The input read as little-endian UTF-16 code units; an odd last byte is
// dropped.
inline std::u16string unitsOf(const std::uint8_t* data, std::size_t size) {
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  }
  return units;
}

}  // namespace frostcap::fuzz
