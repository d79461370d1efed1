#pragma once

// Accounting of the strings the model's COM face hands out. BSTRs and the
// strings of snapshot properties both come from the COM task allocator, and
// whoever receives them frees them through it (SysFreeString, CoTaskMemFree
// inside VssFreeSnapshotPropertiesInternal). A spy on that allocator
// (IMallocSpy) sees every free without touching the caller's code; the face
// marks the blocks it allocates with the ledger they belong to, and a marked
// block not freed when the ledger is drawn up was leaked by its receiver.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <oleauto.h>

#include <cstddef>
#include <optional>
#include <string_view>

namespace frostcap::simulator::com {

// Registers the spy and turns off the BSTR cache, which would otherwise keep
// freed strings from reaching the allocator. Once per process; false when
// either is impossible (another spy is registered, say), and then strings go
// uncounted.
bool watchTaskAllocator();

// A BSTR of exactly `text`, embedded NULs included, marked as `owner`'s.
// Throws std::bad_alloc.
BSTR allocateString(const void* owner, std::u16string_view text);
// A NUL-terminated string from CoTaskMemAlloc, marked as `owner`'s. Throws
// std::bad_alloc.
wchar_t* allocateTaskString(const void* owner, std::u16string_view text);

// Marked blocks of `owner` not yet freed; nothing while the allocator is not
// watched.
std::optional<std::size_t> outstandingStrings(const void* owner);

}  // namespace frostcap::simulator::com
