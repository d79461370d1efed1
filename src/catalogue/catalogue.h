#pragma once

#include "frame/snapshot.h"
#include "frame/step_result.h"

namespace frostcap {

// Rebuilds writerComponents and writerCatalogue from the service's writer
// metadata; a failure is queued as a warning.
void loadWriterComponents(Snapshot& snapshot);

StepResult buildComponentCatalogue(Snapshot& snapshot);

}  // namespace frostcap
