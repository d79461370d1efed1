/*
 * frostcap_requester.h — the set-up a Windows process needs before it drives
 * the shadow copy service, which the library cannot do for the process (see
 * docs/api.md, "What the host process must do itself"). Header-only; the
 * frostcap command and the bindings do the same. On Windows it needs
 * ole32 and advapi32 (-lole32 -ladvapi32 with MinGW; Microsoft's compiler
 * links them by the pragmas below).
 */
#ifndef FROSTCAP_REQUESTER_H
#define FROSTCAP_REQUESTER_H

#include "frostcap_host.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <objbase.h>
#include <objidl.h>
#include <windows.h>
#ifdef _MSC_VER
#pragma comment(lib, "ole32.lib")
#pragma comment(lib, "advapi32.lib")
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

#ifdef _WIN32
/* Enables SeBackupPrivilege in the process token when the token holds it, so
 * that the host can read files inside the shadow copies that its account may
 * not open otherwise. Best effort: 0 when it is enabled, else the Win32
 * error (1300 when the token does not hold it). */
FROSTCAP_HOST_INLINE unsigned long frostcap_requester_enable_backup_privilege(void) {
  HANDLE token = NULL;
  TOKEN_PRIVILEGES privileges;
  DWORD error = ERROR_SUCCESS;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return GetLastError();
  if (LookupPrivilegeValueW(NULL, L"SeBackupPrivilege", &privileges.Privileges[0].Luid))
    (void)AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
  /* A failure's error, or after success ERROR_NOT_ALL_ASSIGNED (1300) when the
   * token does not hold the privilege. */
  error = GetLastError();
  CloseHandle(token);
  return error;
}
#endif

/* Prepares the calling thread and the process for a requester, on Windows:
 * SeBackupPrivilege at best effort; the thread in COM's multithreaded
 * apartment (drive the library from this thread); COM security as a
 * requester needs it, so that writers running under other accounts can call
 * back (packet privacy, impersonation, static cloaking); and COM's catching
 * of fatal exceptions in incoming calls off, which would hide a crash in a
 * writer's callback. Call it first thing in main, before anything else uses
 * COM. Returns 0 (S_OK) when the process is ready, also when COM security was
 * already set (RPC_E_TOO_LATE), which then stays as it was; otherwise the
 * failing HRESULT, e.g. RPC_E_CHANGED_MODE (0x80010106) when the thread is
 * in a single-threaded apartment already. Elsewhere nothing needs doing and
 * it returns 0. */
FROSTCAP_HOST_INLINE long frostcap_requester_setup(void) {
#ifdef _WIN32
  static const CLSID globalOptionsClass = {
      0x0000034B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  static const IID globalOptionsInterface = {
      0x0000015B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  IGlobalOptions* options = NULL;
  HRESULT status;
  (void)frostcap_requester_enable_backup_privilege();
  status = CoInitializeEx(NULL, COINIT_MULTITHREADED);
  if (FAILED(status)) return (long)status;
  status = CoInitializeSecurity(NULL, -1, NULL, NULL, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                RPC_C_IMP_LEVEL_IMPERSONATE, NULL, EOAC_STATIC_CLOAKING, NULL);
  if (FAILED(status) && status != RPC_E_TOO_LATE) return (long)status;
#ifdef __cplusplus
  status = CoCreateInstance(globalOptionsClass, NULL, CLSCTX_INPROC_SERVER, globalOptionsInterface,
                            (void**)&options);
  if (SUCCEEDED(status)) {
    status = options->Set(COMGLB_EXCEPTION_HANDLING, COMGLB_EXCEPTION_DONOT_HANDLE);
    options->Release();
  }
#else
  status = CoCreateInstance(&globalOptionsClass, NULL, CLSCTX_INPROC_SERVER,
                            &globalOptionsInterface, (void**)&options);
  if (SUCCEEDED(status)) {
    status =
        options->lpVtbl->Set(options, COMGLB_EXCEPTION_HANDLING, COMGLB_EXCEPTION_DONOT_HANDLE);
    options->lpVtbl->Release(options);
  }
#endif
  return FAILED(status) ? (long)status : 0;
#else
  return 0;
#endif
}

#ifdef __cplusplus
}
#endif

#endif
