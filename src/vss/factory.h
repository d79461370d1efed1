#pragma once

#include <functional>
#include <memory>

#include "status/status.h"
#include "vss/seam.h"

namespace frostcap::vss {

// Makes a new backup-components object, as CreateVssBackupComponentsInternal
// does, and returns the service's status; `out` is set only on success.
using BackupComponentsFactory = std::function<Status(std::unique_ptr<BackupComponents>& out)>;

// Traced when the trace is on (vss/trace.h).
Status createBackupComponents(std::unique_ptr<BackupComponents>& out);

// The same without the trace's test: what createBackupComponents calls, and
// what the benchmark sets beside it to show that the test costs nothing.
Status createUntracedBackupComponents(std::unique_ptr<BackupComponents>& out);

// The built-in factory, used while no other is installed: the platform's own
// service where there is one, E_NOTIMPL where there is none.
Status defaultBackupComponents(std::unique_ptr<BackupComponents>& out);

// Replaces the process-wide factory and returns the one it replaces; an empty
// function restores the built-in one. For tests and the simulated service
// only: nothing a host reaches through the exported functions can call it.
BackupComponentsFactory setBackupComponentsFactory(BackupComponentsFactory factory);

}  // namespace frostcap::vss
