// The built-in factory on Windows: the platform's shadow copy service, behind
// the COM adapter.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <utility>

#include "vss/com/com_adapter.h"
#include "vss/com/vss_sdk.h"
#include "vss/factory.h"

namespace frostcap::vss {

Status defaultBackupComponents(std::unique_ptr<BackupComponents>& out) {
  IVssBackupComponents* object = nullptr;
  const HRESULT status = CreateVssBackupComponentsInternal(&object);
  // Adapted before the status is looked at, so that an object that comes with
  // a failure is released too.
  std::unique_ptr<BackupComponents> adapted = com::adaptBackupComponents(object);
  if (failed(status)) return status;
  // Success without an object is no success: it answers as an invalid pointer.
  if (!adapted) return E_POINTER;
  out = std::move(adapted);
  return status;
}

}  // namespace frostcap::vss
