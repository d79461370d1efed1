#pragma once

#include "frame/snapshot.h"
#include "frame/step_result.h"

namespace frostcap {

// The first phase's work on a new backup-components object: backup state and
// context, writer classes, metadata, and the selected components.
StepResult preparePhase(Snapshot& snapshot);

// Forgets what an earlier preparation recorded, with the object it was made
// on, so that a repeated or retried preparation starts over: it then takes up
// writers and components selected since, and the completion finds exactly
// one preparation's ids.
void forgetPreparation(Snapshot& snapshot);

}  // namespace frostcap
