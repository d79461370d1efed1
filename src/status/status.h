#pragma once

#include <cstdint>
#include <string>

namespace frostcap {

// A status code in the platform's HRESULT layout: negative means failure.
using Status = std::int32_t;

constexpr bool failed(Status status) { return status < 0; }

// "0x" + the code as eight lower-case hex digits + ": " + describeStatus(code).
std::u16string formatStatus(Status status);

// The description alone: the service's own text for its codes, otherwise the
// system's message (without its trailing line break), otherwise a fixed
// fallback text.
std::u16string describeStatus(Status status);

// The system's texts end with CR LF: a final line feed goes, and then a
// carriage return before it. Nothing else is trimmed, and a text of one unit
// is left alone.
std::u16string withoutTrailingLineBreak(std::u16string text);

}  // namespace frostcap
