#pragma once

#include "frame/snapshot.h"
#include "frame/step_result.h"

namespace frostcap {

// The first phase's work on a new backup-components object: backup state and
// context, writer classes, metadata, and the selected components.
StepResult preparePhase(Snapshot& snapshot);

}  // namespace frostcap
