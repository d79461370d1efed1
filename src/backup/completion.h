#pragma once

#include "frame/snapshot.h"
#include "frame/step_result.h"

namespace frostcap {

// Tells the writers, component by component, whether the backup succeeded and
// declares it complete. Nothing is sent for a volume-only backup or one whose
// preparation did not reach every writer.
StepResult completeBackup(Snapshot& snapshot, bool succeeded);

}  // namespace frostcap
