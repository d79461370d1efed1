#pragma once

// The simulated service's backup-components object and everything it hands
// out, behind the same seam as the real service. It keeps the rules the
// service documents: nothing before InitializeForBackup, metadata gathered
// once and read only after that, components added only if the writer has
// them, volumes added only to a started set, and an asynchronous operation
// reports itself pending until it has been waited on.

#include <memory>

#include "simulator/service_state.h"
#include "vss/seam.h"

namespace frostcap::simulator {

// The backup-components object as the model plays it: besides what the
// library calls, the operations other requesters call, which the model's COM
// face hands on.
class ModelBackupComponents : public vss::BackupComponents {
 public:
  virtual Status abortBackup() = 0;
  virtual Status freeWriterMetadata() = 0;
  virtual Status freeWriterStatus() = 0;
};

// A new object of the service that `state` describes. Destroying it ends its
// shadow copies.
std::unique_ptr<ModelBackupComponents> makeBackupComponents(std::shared_ptr<ServiceState> state);

}  // namespace frostcap::simulator
