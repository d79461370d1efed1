// Entry point of frostcap.dll. The library keeps no per-thread state, so it
// asks not to be told of threads starting and ending. COM is initialised by
// frostcap_library_init, not here: loader-lock rules forbid it.

#include "platform/windows/windows_support.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
