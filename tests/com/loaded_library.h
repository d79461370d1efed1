#pragma once

// frostcap.dll as a host loads it: from beside the host's program, with
// LoadLibraryW, every function found by name, and nothing of the library
// linked in. The build copies the DLL, and the model's vssapi.dll, next to
// the test program.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.

#include <string>
#include <vector>

#include "frostcap.h"

namespace frostcap::test {

inline std::wstring besideThisProgram(const wchar_t* file) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L'\\') + 1) + file;
}

template <typename Function>
Function* resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The nineteen functions of one load of the DLL.
struct Library {
  explicit Library(HMODULE loaded) : module(loaded) {}

  HMODULE module;
  decltype(frostcap_library_init)* library_init =
      resolve<decltype(frostcap_library_init)>(module, "frostcap_library_init");
  decltype(frostcap_snapshot_new)* snapshot_new =
      resolve<decltype(frostcap_snapshot_new)>(module, "frostcap_snapshot_new");
  decltype(frostcap_snapshot_addVolumePath)* snapshot_addVolumePath =
      resolve<decltype(frostcap_snapshot_addVolumePath)>(module, "frostcap_snapshot_addVolumePath");
  decltype(frostcap_snapshot_addWriter)* snapshot_addWriter =
      resolve<decltype(frostcap_snapshot_addWriter)>(module, "frostcap_snapshot_addWriter");
  decltype(frostcap_snapshot_addWriterDatabaseComponentFallback)*
      snapshot_addWriterDatabaseComponentFallback =
          resolve<decltype(frostcap_snapshot_addWriterDatabaseComponentFallback)>(
              module, "frostcap_snapshot_addWriterDatabaseComponentFallback");
  decltype(frostcap_snapshot_addWriterFilegroupComponentFallback)*
      snapshot_addWriterFilegroupComponentFallback =
          resolve<decltype(frostcap_snapshot_addWriterFilegroupComponentFallback)>(
              module, "frostcap_snapshot_addWriterFilegroupComponentFallback");
  decltype(frostcap_snapshot_perform_a)* snapshot_perform_a =
      resolve<decltype(frostcap_snapshot_perform_a)>(module, "frostcap_snapshot_perform_a");
  decltype(frostcap_snapshot_perform_b)* snapshot_perform_b =
      resolve<decltype(frostcap_snapshot_perform_b)>(module, "frostcap_snapshot_perform_b");
  decltype(frostcap_snapshot_loadWriterComponents)* snapshot_loadWriterComponents =
      resolve<decltype(frostcap_snapshot_loadWriterComponents)>(
          module, "frostcap_snapshot_loadWriterComponents");
  decltype(frostcap_snapshot_loadWriterFileInfo)* snapshot_loadWriterFileInfo =
      resolve<decltype(frostcap_snapshot_loadWriterFileInfo)>(
          module, "frostcap_snapshot_loadWriterFileInfo");
  decltype(frostcap_snapshot_getNextMessage)* snapshot_getNextMessage =
      resolve<decltype(frostcap_snapshot_getNextMessage)>(module,
                                                          "frostcap_snapshot_getNextMessage");
  decltype(frostcap_snapshot_getNextMountPath)* snapshot_getNextMountPath =
      resolve<decltype(frostcap_snapshot_getNextMountPath)>(module,
                                                            "frostcap_snapshot_getNextMountPath");
  decltype(frostcap_snapshot_getNextWriterComponent)* snapshot_getNextWriterComponent =
      resolve<decltype(frostcap_snapshot_getNextWriterComponent)>(
          module, "frostcap_snapshot_getNextWriterComponent");
  decltype(frostcap_snapshot_getNextWriterFileInfo)* snapshot_getNextWriterFileInfo =
      resolve<decltype(frostcap_snapshot_getNextWriterFileInfo)>(
          module, "frostcap_snapshot_getNextWriterFileInfo");
  decltype(frostcap_snapshot_getNextWriterExcludedFileInfo)*
      snapshot_getNextWriterExcludedFileInfo =
          resolve<decltype(frostcap_snapshot_getNextWriterExcludedFileInfo)>(
              module, "frostcap_snapshot_getNextWriterExcludedFileInfo");
  decltype(frostcap_snapshot_free)* snapshot_free =
      resolve<decltype(frostcap_snapshot_free)>(module, "frostcap_snapshot_free");
};

// The DLL beside this program, loaded once for the process's lifetime.
inline const Library& library() {
  static const Library loaded(LoadLibraryW(besideThisProgram(L"frostcap.dll").c_str()));
  return loaded;
}

using NextText = const frostcap_char* (*)(frostcap_snapshot*, size_t*);

// Every text a queue holds, each of the length the library gives.
inline std::vector<std::wstring> drain(frostcap_snapshot* handle, NextText next) {
  std::vector<std::wstring> texts;
  size_t length = 0;
  for (const wchar_t* text = next(handle, &length); length != 0; text = next(handle, &length)) {
    texts.emplace_back(text, length);
  }
  return texts;
}

}  // namespace frostcap::test
