#pragma once

#include "frame/snapshot.h"
#include "frame/step_result.h"

namespace frostcap {

// Lists the files of the selected components and the files writers exclude;
// a failure, an exception included, is queued as a warning.
void loadWriterFileInfo(Snapshot& snapshot);

StepResult collectWriterFiles(Snapshot& snapshot);

}  // namespace frostcap
