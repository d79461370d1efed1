#pragma once

// The shadow copy service's SDK as the COM layer sees it: the platform's
// declarations, the one they get wrong, and owners for what the service hands
// out besides interfaces.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <oleauto.h>
// The SDK's headers build on one another in this order.
// clang-format off
#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>
// clang-format on

#include "vss/com/unique_any.h"

namespace frostcap::vss::com {

// The object GetWriterComponents hands out. IVssWriterComponents has no
// IUnknown of its own, so the service's object carries its IUnknown as a
// second base, one vtable pointer past the pointer it hands out. The MinGW
// headers declare the first base only, which leaves no way to release the
// object; this is the service's real layout, and Release through it lands on
// the right vtable.
class WriterComponentsExt : public IVssWriterComponents, public IUnknown {};

inline void freeString(BSTR text) noexcept { SysFreeString(text); }

inline void freeSnapshotProperties(VSS_SNAPSHOT_PROP* properties) noexcept {
  VssFreeSnapshotPropertiesInternal(properties);
}

using UniqueBstr = UniqueAny<BSTR, freeString>;
// A snapshot's properties: the record is the caller's, the strings in it are
// the service's until they are freed.
using UniqueSnapshotProperties = UniqueAny<VSS_SNAPSHOT_PROP, freeSnapshotProperties>;

}  // namespace frostcap::vss::com
