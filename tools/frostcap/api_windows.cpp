// frostcap.dll loaded at run time, from beside the program or the system's
// search path, as a backup application loads it.

#include <windows.h>

#include "api.h"

namespace frostcap::cli {
namespace {

template <typename Function>
bool resolve(HMODULE module, const char* name, Function& function, std::string& missing) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (function == nullptr) missing = name;
  return function != nullptr;
}

}  // namespace

ApiLoad loadApi() {
  static Api api;
  static ApiLoad result = [] {
    HMODULE module = LoadLibraryW(L"frostcap.dll");
    if (module == nullptr) {
      return ApiLoad{nullptr, "frostcap.dll could not be loaded (error " +
                                  std::to_string(GetLastError()) + ")"};
    }
    std::string missing;
    const bool complete =
        resolve(module, "frostcap_library_init", api.library_init, missing) &&
        resolve(module, "frostcap_snapshot_new", api.snapshot_new, missing) &&
        resolve(module, "frostcap_snapshot_addVolumePath", api.addVolumePath, missing) &&
        resolve(module, "frostcap_snapshot_addWriter", api.addWriter, missing) &&
        resolve(module, "frostcap_snapshot_addWriterDatabaseComponentFallback",
                api.addWriterDatabaseComponentFallback, missing) &&
        resolve(module, "frostcap_snapshot_addWriterFilegroupComponentFallback",
                api.addWriterFilegroupComponentFallback, missing) &&
        resolve(module, "frostcap_snapshot_setIncrementalMode", api.setIncrementalMode, missing) &&
        resolve(module, "frostcap_snapshot_setUseSystemProvider", api.setUseSystemProvider,
                missing) &&
        resolve(module, "frostcap_snapshot_perform_a", api.perform_a, missing) &&
        resolve(module, "frostcap_snapshot_loadWriterComponents", api.loadWriterComponents,
                missing) &&
        resolve(module, "frostcap_snapshot_loadWriterFileInfo", api.loadWriterFileInfo, missing) &&
        resolve(module, "frostcap_snapshot_perform_b", api.perform_b, missing) &&
        resolve(module, "frostcap_snapshot_getNextMessage", api.getNextMessage, missing) &&
        resolve(module, "frostcap_snapshot_getNextMountPath", api.getNextMountPath, missing) &&
        resolve(module, "frostcap_snapshot_getNextWriterComponent", api.getNextWriterComponent,
                missing) &&
        resolve(module, "frostcap_snapshot_getNextWriterFileInfo", api.getNextWriterFileInfo,
                missing) &&
        resolve(module, "frostcap_snapshot_getNextWriterExcludedFileInfo",
                api.getNextWriterExcludedFileInfo, missing) &&
        resolve(module, "frostcap_snapshot_free", api.snapshot_free, missing);
    if (!complete) return ApiLoad{nullptr, "frostcap.dll does not export " + missing};
    return ApiLoad{&api, {}};
  }();
  return result;
}

}  // namespace frostcap::cli
