// VssFreeSnapshotPropertiesInternal for the COM tests. Wine's vssapi exports
// the function only as a stub that ends the process when it is called, so the
// COM test executable defines it itself and the library's call binds here when
// the executable is linked. On Windows it hands the record to the system's own
// function; under Wine it frees the strings as the system documents it does,
// each with CoTaskMemFree, so that the allocation spy sees every one of them.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <objbase.h>
// The SDK's headers build on one another in this order.
// clang-format off
#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>
// clang-format on

namespace {

using FreeProperties = void(WINAPI*)(VSS_SNAPSHOT_PROP*);

bool underWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

FreeProperties systemFunction() {
  if (underWine()) return nullptr;
  const HMODULE vssapi = LoadLibraryW(L"vssapi.dll");
  if (vssapi == nullptr) return nullptr;
  return reinterpret_cast<FreeProperties>(
      reinterpret_cast<void*>(GetProcAddress(vssapi, "VssFreeSnapshotPropertiesInternal")));
}

}  // namespace

extern "C" void WINAPI VssFreeSnapshotPropertiesInternal(VSS_SNAPSHOT_PROP* properties) {
  static const FreeProperties system = systemFunction();
  if (system != nullptr) {
    system(properties);
    return;
  }
  if (properties == nullptr) return;
  for (VSS_PWSZ* text :
       {&properties->m_pwszSnapshotDeviceObject, &properties->m_pwszOriginalVolumeName,
        &properties->m_pwszOriginatingMachine, &properties->m_pwszServiceMachine,
        &properties->m_pwszExposedName, &properties->m_pwszExposedPath}) {
    CoTaskMemFree(*text);
    *text = nullptr;
  }
}
