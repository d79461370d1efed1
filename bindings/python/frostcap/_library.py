"""Finding and loading the library, and the C signatures of its functions."""

import ctypes
import ctypes.util
import os
import sys
from pathlib import Path

from . import _com
from ._errors import Error

# frostcap_char is a UTF-16 code unit in the machine's byte order (wchar_t on
# Windows, char16_t elsewhere); ctypes.c_wchar is 32 bits outside Windows, so
# strings travel as arrays of c_uint16.
ENCODING = "utf-16-le" if sys.byteorder == "little" else "utf-16-be"

_UNITS = ctypes.POINTER(ctypes.c_uint16)
_HANDLE = ctypes.c_void_p
_LENGTH = ctypes.POINTER(ctypes.c_size_t)

if sys.platform == "win32":
    SHIPPED_NAME, SIMULATED_NAME = "frostcap.dll", "frostcap-sim.dll"
else:
    SHIPPED_NAME, SIMULATED_NAME = "libfrostcap.so", "libfrostcap-sim.so"

_SIGNATURES = {
    "frostcap_library_init": ([], None),
    "frostcap_pathIsNetworkPath": ([_UNITS], ctypes.c_int),
    "frostcap_snapshot_new": ([], _HANDLE),
    "frostcap_snapshot_addVolumePath": ([_HANDLE, _UNITS], None),
    "frostcap_snapshot_addWriter": ([_HANDLE, _UNITS], None),
    "frostcap_snapshot_addWriterDatabaseComponentFallback":
        ([_HANDLE, _UNITS, _UNITS, _UNITS, _UNITS], None),
    "frostcap_snapshot_addWriterFilegroupComponentFallback":
        ([_HANDLE, _UNITS, _UNITS, _UNITS, _UNITS], None),
    "frostcap_snapshot_setIncrementalMode": ([_HANDLE, ctypes.c_uint], None),
    "frostcap_snapshot_setUseSystemProvider": ([_HANDLE], None),
    "frostcap_snapshot_perform_a": ([_HANDLE], ctypes.c_int),
    "frostcap_snapshot_loadWriterComponents": ([_HANDLE], None),
    "frostcap_snapshot_loadWriterFileInfo": ([_HANDLE], None),
    "frostcap_snapshot_perform_b": ([_HANDLE], ctypes.c_int),
    "frostcap_snapshot_getNextMessage": ([_HANDLE, _LENGTH], _UNITS),
    "frostcap_snapshot_getNextMountPath": ([_HANDLE, _LENGTH], _UNITS),
    "frostcap_snapshot_getNextWriterComponent": ([_HANDLE, _LENGTH], _UNITS),
    "frostcap_snapshot_getNextWriterFileInfo": ([_HANDLE, _LENGTH], _UNITS),
    "frostcap_snapshot_getNextWriterExcludedFileInfo": ([_HANDLE, _LENGTH], _UNITS),
    "frostcap_snapshot_free": ([_HANDLE, ctypes.c_int], None),
}

_SIMULATOR_SIGNATURES = {
    "frostcap_sim_loadScenario": ([ctypes.c_char_p], ctypes.c_int),
    "frostcap_sim_lastError": ([], ctypes.c_char_p),
    "frostcap_sim_recordCount": ([], ctypes.c_size_t),
    "frostcap_sim_recordEntry": ([ctypes.c_size_t], ctypes.c_char_p),
    "frostcap_sim_writeRecord": ([ctypes.c_char_p], ctypes.c_int),
    "frostcap_sim_hostPath": ([ctypes.c_char_p], ctypes.c_char_p),
    "frostcap_sim_unload": ([], None),
}


class LibraryError(Error, OSError):
    """The library could not be found or is not the one expected."""


def to_units(text):
    """A NUL-terminated UTF-16 copy of `text` for an argument."""
    if "\0" in text:
        raise ValueError(f"{text!r}: text passed to the library cannot contain NUL")
    data = text.encode(ENCODING, "surrogatepass") + b"\0\0"
    return (ctypes.c_uint16 * (len(data) // 2)).from_buffer_copy(data)


def from_units(pointer, length):
    """The `length` code units at `pointer` as text."""
    return ctypes.string_at(pointer, length * 2).decode(ENCODING, "surrogatepass")


_com_prepared = False
_initialised = False  # whether a snapshot has initialised a library in this process


def _prepare_com():
    """Once per process, before the first library is loaded, on the loading
    thread: what a requester must set up on Windows (see _com)."""
    global _com_prepared
    if not _com_prepared:
        _com_prepared = True
        _com.backup_privilege_enabled()
        _com.prepare()


class Library:
    """One loaded copy of the library, with its functions declared."""

    def __init__(self, path):
        self.path = str(path)
        _prepare_com()
        try:
            self._dll = ctypes.CDLL(self.path)
        except OSError as error:
            raise LibraryError(f"{self.path}: cannot be loaded: {error}") from None
        self.simulated = hasattr(self._dll, "frostcap_sim_loadScenario")
        signatures = dict(_SIGNATURES)
        if self.simulated:
            signatures.update(_SIMULATOR_SIGNATURES)
        for name, (arguments, result) in signatures.items():
            try:
                function = getattr(self._dll, name)
            except AttributeError:
                raise LibraryError(f"{self.path}: does not export {name}") from None
            function.argtypes = arguments
            function.restype = result
            setattr(self, name[len("frostcap_"):], function)

    def initialise(self):
        """frostcap_library_init, which reads FROSTCAP_TRACE the first time."""
        global _initialised
        _initialised = True
        self.library_init()

    def next_text(self, function, handle):
        """The next entry of one of a handle's queues; None once it is empty."""
        length = ctypes.c_size_t(0)
        pointer = function(handle, ctypes.byref(length))
        return from_units(pointer, length.value) if length.value else None

    def drain(self, function, handle):
        entries = []
        while (text := self.next_text(function, handle)) is not None:
            entries.append(text)
        return entries

    def __repr__(self):
        return f"<frostcap library {self.path}{' (simulated service)' if self.simulated else ''}>"


_loaded = {}  # by resolved path: one Library for each file, however it is named
_default = None


def _open(path):
    key = os.path.realpath(path)
    if key not in _loaded:
        _loaded[key] = Library(path)
    return _loaded[key]


def _open_first(names):
    """FROSTCAP_LIBRARY, else a file beside the package, else the system's
    search, each name in turn."""
    from_environment = os.environ.get("FROSTCAP_LIBRARY")
    if from_environment:
        return _open(from_environment)
    here = Path(__file__).resolve().parent
    for name in names:
        if (here / name).is_file():
            return _open(here / name)
    tried = [str(here / name) for name in names]
    for name in names:
        for candidate in (name, ctypes.util.find_library(Path(name).stem.removeprefix("lib"))):
            if not candidate:
                continue
            try:
                library = Library(candidate)
            except LibraryError:
                tried.append(candidate)
                continue
            return library
    raise LibraryError("the frostcap library was not found; set FROSTCAP_LIBRARY to its path "
                       "(tried: " + ", ".join(tried) + ")")


def trace_to(path):
    """Has the library append one JSON line per call it makes to the shadow
    copy service to the file `path`, from the first snapshot of this process
    on, by naming it in FROSTCAP_TRACE. The library reads that once, when the
    first snapshot initialises it: later, this raises RuntimeError rather than
    pretend."""
    if _initialised:
        raise RuntimeError("frostcap.trace_to: the library was initialised by an earlier snapshot "
                           "of this process, and reads FROSTCAP_TRACE only then; call it first")
    os.environ["FROSTCAP_TRACE"] = os.fspath(path)


def load(library=None):
    """The library to use: `library` itself when it is a Library, the file it
    names when it is a path, otherwise the process's default library, found on
    first use."""
    global _default
    if isinstance(library, Library):
        return library
    if library is not None:
        return _open(os.fspath(library))
    if _default is None:
        _default = _open_first([SHIPPED_NAME, SIMULATED_NAME])
    return _default


def load_simulated(library=None):
    """As load, but the library must be the one over the simulated service;
    when none is loaded yet, that one is looked for first, and it becomes the
    default so that snapshots reach the service the scenario describes."""
    global _default
    if library is None and _default is None:
        _default = _open_first([SIMULATED_NAME])
    loaded = load(library)
    if not loaded.simulated:
        raise LibraryError(f"{loaded.path}: not the library over the simulated service "
                           f"({SIMULATED_NAME}); set FROSTCAP_LIBRARY to that one")
    return loaded
