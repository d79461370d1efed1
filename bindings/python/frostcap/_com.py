"""What a requester process sets up on Windows before the library runs:
SeBackupPrivilege enabled in the process's token, so that the library can
list protected folders and the program can read every file of the copies
(SeRestorePrivilege belongs to restoring, which a requester does not do); COM
in the multithreaded apartment, process-wide COM security that lets writers
running under other accounts call back into the process, and COM's catching
of fatal exceptions turned off. Python cannot know whether the program did
this already, so it is done at best effort: settings made earlier by the
program stay as they are."""

import ctypes
import functools
import sys
import uuid
import warnings
from typing import NamedTuple

_COINIT_MULTITHREADED = 0x0
_RPC_C_AUTHN_LEVEL_PKT_PRIVACY = 6
_RPC_C_IMP_LEVEL_IMPERSONATE = 3
_EOAC_STATIC_CLOAKING = 0x20
_CLSCTX_INPROC_SERVER = 0x1
_COMGLB_EXCEPTION_HANDLING = 1
_COMGLB_EXCEPTION_DONOT_HANDLE = 1
_CLSID_GLOBAL_OPTIONS = "{0000034b-0000-0000-c000-000000000046}"
_IID_GLOBAL_OPTIONS = "{0000015b-0000-0000-c000-000000000046}"

_TOKEN_ADJUST_PRIVILEGES = 0x20
_TOKEN_QUERY = 0x8
_SE_PRIVILEGE_ENABLED = 0x2

RPC_E_CHANGED_MODE = 0x80010106
RPC_E_TOO_LATE = 0x80010119

# COM methods use the system's calling convention; on 64-bit Windows, the
# only one there is.
_METHOD = getattr(ctypes, "WINFUNCTYPE", ctypes.CFUNCTYPE)


class Guid(ctypes.Structure):
    _fields_ = [("data1", ctypes.c_uint32), ("data2", ctypes.c_uint16),
                ("data3", ctypes.c_uint16), ("data4", ctypes.c_ubyte * 8)]

    @classmethod
    def parse(cls, text):
        return cls.from_buffer_copy(uuid.UUID(text).bytes_le)


class ComSetup(NamedTuple):
    """The status codes (unsigned) of the three steps; None for a step not
    taken."""

    apartment: int
    security: int = None
    exception_handling: int = None


class _TokenPrivileges(ctypes.Structure):
    """TOKEN_PRIVILEGES with one entry."""

    _pack_ = 4
    _fields_ = [("count", ctypes.c_uint32), ("luid", ctypes.c_int64),
                ("attributes", ctypes.c_uint32)]


def _enable_backup_privilege():
    """0 once SeBackupPrivilege is enabled, otherwise the system's error code:
    1300 (ERROR_NOT_ALL_ASSIGNED) when the account does not hold it."""
    advapi32 = ctypes.WinDLL("advapi32", use_last_error=True)
    kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
    kernel32.GetCurrentProcess.restype = ctypes.c_void_p
    kernel32.CloseHandle.argtypes = [ctypes.c_void_p]
    advapi32.OpenProcessToken.argtypes = [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_void_p]
    advapi32.LookupPrivilegeValueW.argtypes = [ctypes.c_wchar_p, ctypes.c_wchar_p, ctypes.c_void_p]
    advapi32.AdjustTokenPrivileges.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_void_p,
                                               ctypes.c_uint32, ctypes.c_void_p, ctypes.c_void_p]
    token = ctypes.c_void_p()
    if not advapi32.OpenProcessToken(kernel32.GetCurrentProcess(),
                                     _TOKEN_ADJUST_PRIVILEGES | _TOKEN_QUERY, ctypes.byref(token)):
        return ctypes.get_last_error()
    try:
        state = _TokenPrivileges(count=1, attributes=_SE_PRIVILEGE_ENABLED)
        luid = ctypes.byref(state, _TokenPrivileges.luid.offset)
        # The last error is that of a call that failed, or the one that
        # AdjustTokenPrivileges sets when it succeeds: 0, or 1300.
        if advapi32.LookupPrivilegeValueW(None, "SeBackupPrivilege", luid):
            advapi32.AdjustTokenPrivileges(token, 0, ctypes.byref(state), 0, None, None)
        return ctypes.get_last_error()
    finally:
        kernel32.CloseHandle(token)


@functools.lru_cache(maxsize=None)
def backup_privilege_enabled():
    """Whether SeBackupPrivilege is enabled in the process's token, which the
    first call tries (the binding calls it before it loads the library). False
    when the account does not hold it (an administrator or a member of Backup
    Operators does): snapshots still work, but files that the account may not
    read stay unreadable in the copies. None outside Windows."""
    return _enable_backup_privilege() == 0 if sys.platform == "win32" else None


def _failed(status):
    return status is not None and status & 0x80000000


def _windows_ole32():
    ole32 = ctypes.WinDLL("ole32")
    ole32.CoInitializeEx.argtypes = [ctypes.c_void_p, ctypes.c_uint32]
    ole32.CoInitializeSecurity.argtypes = [
        ctypes.c_void_p, ctypes.c_long, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32,
        ctypes.c_uint32, ctypes.c_void_p, ctypes.c_uint32, ctypes.c_void_p]
    ole32.CoCreateInstance.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32,
                                       ctypes.c_void_p, ctypes.c_void_p]
    for function in (ole32.CoInitializeEx, ole32.CoInitializeSecurity, ole32.CoCreateInstance):
        function.restype = ctypes.c_long
    return ole32


def _stop_catching_exceptions(ole32):
    clsid, iid = Guid.parse(_CLSID_GLOBAL_OPTIONS), Guid.parse(_IID_GLOBAL_OPTIONS)
    options = ctypes.c_void_p()
    status = ole32.CoCreateInstance(ctypes.byref(clsid), None, _CLSCTX_INPROC_SERVER,
                                    ctypes.byref(iid), ctypes.byref(options)) & 0xFFFFFFFF
    if _failed(status) or not options.value:
        return status
    # IGlobalOptions: IUnknown's three methods, then Set and Query.
    vtable = ctypes.cast(options, ctypes.POINTER(ctypes.POINTER(ctypes.c_void_p))).contents
    release = _METHOD(ctypes.c_ulong, ctypes.c_void_p)(vtable[2])
    set_option = _METHOD(ctypes.c_long, ctypes.c_void_p, ctypes.c_int, ctypes.c_size_t)(vtable[3])
    try:
        return set_option(options, _COMGLB_EXCEPTION_HANDLING,
                          _COMGLB_EXCEPTION_DONOT_HANDLE) & 0xFFFFFFFF
    finally:
        release(options)


def prepare(ole32=None):
    """Sets COM up for a requester on Windows and returns the ComSetup; does
    nothing elsewhere and returns None. Warns when the calling thread is in a
    single-threaded apartment, where the shadow copy service does not work."""
    if ole32 is None:
        if sys.platform != "win32":
            return None
        ole32 = _windows_ole32()
    apartment = ole32.CoInitializeEx(None, _COINIT_MULTITHREADED) & 0xFFFFFFFF
    if apartment == RPC_E_CHANGED_MODE:
        warnings.warn("frostcap: this thread is in a single-threaded COM apartment, but the "
                      "shadow copy service needs the multithreaded one: use frostcap from "
                      "another thread (with pywin32, set sys.coinit_flags = 0 before importing "
                      "pythoncom)", RuntimeWarning, stacklevel=3)
    elif _failed(apartment):
        return ComSetup(apartment)
    # The settings Microsoft documents for requesters on Windows 8 and later.
    security = ole32.CoInitializeSecurity(
        None, -1, None, None, _RPC_C_AUTHN_LEVEL_PKT_PRIVACY, _RPC_C_IMP_LEVEL_IMPERSONATE, None,
        _EOAC_STATIC_CLOAKING, None) & 0xFFFFFFFF
    return ComSetup(apartment, security, _stop_catching_exceptions(ole32))
