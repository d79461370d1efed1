#pragma once

#include <cstdint>
#include <string>

namespace frostcap {

// One component a host selected or a writer reported.
struct ComponentRecord {
  std::uint32_t componentType = 0;  // 1 database, 2 file group; 0 for the empty record
  std::u16string logicalPath;
  std::u16string componentName;
  std::u16string fallbackLogicalPath;  // empty: no second place to look

  friend bool operator==(const ComponentRecord&, const ComponentRecord&) = default;
};

}  // namespace frostcap
