// Without the platform's shadow copy service there is nothing to create: the
// built-in factory answers as a service without the operation would.

#include "vss/constants.h"
#include "vss/factory.h"

namespace frostcap::vss {

Status defaultBackupComponents(std::unique_ptr<BackupComponents>& /*out*/) {
  return kNotImplemented;
}

}  // namespace frostcap::vss
