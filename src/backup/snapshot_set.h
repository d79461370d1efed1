#pragma once

#include "frame/snapshot.h"
#include "frame/step_result.h"

namespace frostcap {

// The second phase's service calls: the shadow-copy set over the volumes, the
// writers' preparation and status, and the device name of every copy.
StepResult createSnapshotSet(Snapshot& snapshot);

// One mount path per shadow copy: its device name with a trailing backslash.
void queueMountPaths(Snapshot& snapshot);

}  // namespace frostcap
