#pragma once

#include <cstdint>

namespace frostcap::platform {

// Stand-in for the Windows system message table on hosts that have none: the
// texts, in this project's own words, for the Win32 error codes and HRESULTs a
// requester can meet. Like the system's own texts each ends with CR LF.
// Returns nullptr for a code the table does not know.
const char16_t* lookupSystemMessage(std::uint32_t code) noexcept;

}  // namespace frostcap::platform
