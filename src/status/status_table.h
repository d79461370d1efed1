#pragma once

#include <cstdint>

namespace frostcap {

// The shadow copy service's own status codes and their descriptions. These take
// precedence over the operating system's message table. Codes are matched on all
// 32 bits: a success code and the failure code with the same low bits are
// separate entries. Returns nullptr for a code that is not in the table.
const char16_t* lookupServiceStatusText(std::uint32_t status) noexcept;

}  // namespace frostcap
