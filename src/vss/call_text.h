#pragma once

// How a call to the service and its arguments are written down: the model's
// record and the library's trace are two observers of the same calls, and
// write them alike so that their lines compare equal.

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace frostcap::vss {

// Strings as they are, in UTF-8.
inline std::string callText(std::u16string_view value) { return platform::wideToUtf8(value); }
// GUIDs upper-case in braces.
inline std::string callText(const platform::Guid& value) {
  return callText(platform::formatGuid(value));
}
inline std::string flagText(bool value) { return value ? "true" : "false"; }

}  // namespace frostcap::vss
