#pragma once

// Accounting of the strings the COM shim hands out. BSTRs and the strings of
// snapshot properties both come from the COM task allocator, and whoever
// receives them frees them through it (SysFreeString, CoTaskMemFree inside
// VssFreeSnapshotPropertiesInternal). A spy on that allocator (IMallocSpy)
// sees every free without touching the code under test; the shim marks the
// blocks it allocates, and a marked block not freed by the end of a test was
// leaked by the code that received it.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <oleauto.h>

#include <cstddef>
#include <string_view>

namespace frostcap::test::shim {

// Registers the spy and turns off the BSTR cache, which would otherwise keep
// freed strings from reaching the allocator. False when either is impossible.
bool watchTaskAllocator();

// A BSTR of exactly `text`, embedded NULs included, marked as the shim's.
BSTR allocateString(std::u16string_view text);
// A NUL-terminated string from CoTaskMemAlloc, marked as the shim's.
wchar_t* allocateTaskString(std::u16string_view text);

// Marked blocks not yet freed.
std::size_t outstandingAllocations();
// Forgets the marked blocks, freed or not, so that the next test starts even.
void forgetAllocations();

}  // namespace frostcap::test::shim
