#include "backup/preparation.h"

#include "frame/messages.h"

namespace frostcap {

StepResult preparePhase(Snapshot& /*snapshot*/) {
  return StepResult::failure(std::u16string(messages::kNotImplemented));
}

}  // namespace frostcap
