#include "catalogue/catalogue.h"

#include "frame/messages.h"

namespace frostcap {

void loadWriterComponents(Snapshot& snapshot) {
  snapshot.writerComponents.clear();
  snapshot.writerCatalogue.clear();
  const StepResult result = buildComponentCatalogue(snapshot);
  if (!result.ok) snapshot.messages.append(messages::catalogueFailed(result.text));
}

StepResult buildComponentCatalogue(Snapshot& snapshot) {
  if (!snapshot.backupComponents) return StepResult::failure(std::u16string(messages::kNotReady));
  return StepResult::failure(std::u16string(messages::kNotImplemented));
}

}  // namespace frostcap
