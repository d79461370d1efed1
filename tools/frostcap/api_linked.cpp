// The library linked into the program, as on hosts without the real service.

#include "api.h"

namespace frostcap::cli {

ApiLoad loadApi() {
  static const Api api = {
      frostcap_library_init,
      frostcap_snapshot_new,
      frostcap_snapshot_addVolumePath,
      frostcap_snapshot_addWriter,
      frostcap_snapshot_addWriterDatabaseComponentFallback,
      frostcap_snapshot_addWriterFilegroupComponentFallback,
      frostcap_snapshot_setIncrementalMode,
      frostcap_snapshot_setUseSystemProvider,
      frostcap_snapshot_perform_a,
      frostcap_snapshot_loadWriterComponents,
      frostcap_snapshot_loadWriterFileInfo,
      frostcap_snapshot_perform_b,
      frostcap_snapshot_getNextMessage,
      frostcap_snapshot_getNextMountPath,
      frostcap_snapshot_getNextWriterComponent,
      frostcap_snapshot_getNextWriterFileInfo,
      frostcap_snapshot_getNextWriterExcludedFileInfo,
      frostcap_snapshot_free,
  };
  return {&api, {}};
}

}  // namespace frostcap::cli
