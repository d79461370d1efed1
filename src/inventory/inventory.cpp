#include "inventory/inventory.h"

#include "frame/messages.h"

namespace frostcap {

void loadWriterFileInfo(Snapshot& snapshot) {
  const StepResult result = collectWriterFiles(snapshot);
  if (!result.ok) snapshot.messages.append(messages::fileSetFailed(result.text));
}

StepResult collectWriterFiles(Snapshot& snapshot) {
  snapshot.writerFileInfo.clear();
  // Without a backup-components object there is no metadata to walk; the
  // catalogue reports the same situation with the same token.
  if (!snapshot.backupComponents) return StepResult::failure(std::u16string(messages::kNotReady));
  return StepResult::failure(u"{FATAL_PREFIX}{ERR_NOT_IMPLEMENTED}");
}

}  // namespace frostcap
