#pragma once

#include "frame/snapshot.h"
#include "frame/step_result.h"

namespace frostcap {

// Gathers every writer's status and fails on the first writer that failed.
// For a writer that failed only in part, each of its components' failures is
// first queued as a message of its own.
StepResult reportWriterStatus(Snapshot& snapshot);

}  // namespace frostcap
