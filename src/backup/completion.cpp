#include "backup/completion.h"

#include "frame/messages.h"

namespace frostcap {

StepResult completeBackup(Snapshot& snapshot, bool /*succeeded*/) {
  if (snapshot.writerSelections.empty() || !snapshot.backupComponents) {
    return StepResult::success();
  }
  return StepResult::failure(std::u16string(messages::kNotImplemented));
}

}  // namespace frostcap
