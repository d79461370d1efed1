// Without the platform's shadow copy service there is nothing to create: the
// built-in factory answers as a service without the operation would.

#include "vss/factory.h"

namespace frostcap::vss {

Status defaultBackupComponents(std::unique_ptr<BackupComponents>& /*out*/) {
  return static_cast<Status>(0x80004001);  // E_NOTIMPL
}

}  // namespace frostcap::vss
