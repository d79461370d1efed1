#pragma once

// The seam over the real service: every seam interface implemented over the
// COM object the service hands out. Statuses pass through unchanged; texts
// come back as the library's own strings, and what the service allocated for
// them is freed before a call returns.

#include <memory>

#include "vss/seam.h"

struct IVssBackupComponents;

namespace frostcap::vss::com {

// Takes over the one reference the caller holds on `object`; the result
// releases it when destroyed. Null in, null out.
std::unique_ptr<BackupComponents> adaptBackupComponents(IVssBackupComponents* object);

}  // namespace frostcap::vss::com
