"""A backup from its configuration to its release, as a context manager."""

import atexit
import json
import os
import threading
import weakref
from contextlib import contextmanager
from dataclasses import dataclass
from typing import NamedTuple

from . import _library, _listing
from ._errors import SnapshotError, check_id
from ._library import to_units
from ._messages import render_message

BACKUP_TYPES = {"full": 1, "incremental": 2, "differential": 3, "log": 4, "copy": 5}
_COMPONENT_TYPES = ("database", "filegroup")


@dataclass(frozen=True)
class Component:
    """A component to back up: `type` is "database" or "filegroup"; when it
    is not found under `logical_path` it is looked for under
    `fallback_logical_path` (empty: nowhere else). Choosing a component
    chooses its writer. A `writer_id` that is not a GUID in braces raises
    InvalidIdError here."""

    type: str
    writer_id: str
    logical_path: str
    name: str
    fallback_logical_path: str = ""

    def __post_init__(self):
        if self.type not in _COMPONENT_TYPES:
            raise ValueError(f"component type {self.type!r}: expected one of {_COMPONENT_TYPES}")
        check_id(f"the writer id of component {self.name!r}", self.writer_id)


class CatalogueEntry(NamedTuple):
    """One component a writer reports; `type` is VSS_CT_DATABASE,
    VSS_CT_FILEGROUP or empty for any other type."""

    writer_id: str
    logical_path: str
    name: str
    type: str
    selectable: bool


def _backup_type(value):
    if value is None or isinstance(value, int) and not isinstance(value, bool):
        if value is not None and not 0 <= value < 2**32:
            raise ValueError(f"backup type {value}: out of range")
        return value
    if value in BACKUP_TYPES:
        return BACKUP_TYPES[value]
    raise ValueError(f"backup type {value!r}: expected one of {sorted(BACKUP_TYPES)} or a number")


# The snapshots entered and not yet released, which the interpreter's exit
# releases as failed.
_held = weakref.WeakSet()


@atexit.register
def _release_held():
    for snapshot in list(_held):
        snapshot._release(0)


class Snapshot:
    """Shadow copies of `volumes` (names such as "C:\\\\") and of what the
    chosen `writers` (class ids, GUIDs in braces) and `components` need.

    Entering the context prepares the backup and creates the shadow copies;
    SnapshotError is raised, with the library's messages, when either fails
    (the backup is then released as failed). Leaving it completes the backup,
    as succeeded only when the block ended normally and as failed when it
    raised, and ends the shadow copies. A Snapshot is entered once. One that
    is garbage-collected while held, or still held when the interpreter
    exits, is released as failed.

    Its methods may be called from several threads: a lock makes them take
    turns, since ctypes lets other threads run during each call of the
    library, which a handle does not allow.

    `backup_type` is a name from BACKUP_TYPES or a number (default: the
    library's, incremental); `system_provider` uses the system's own software
    provider; `library` is a path to the library or a loaded one (default:
    see frostcap.load_library).
    """

    def __init__(self, volumes=(), writers=(), components=(), backup_type=None,
                 system_provider=False, library=None):
        # First, for __del__ when a check below fails.
        self._lock = threading.RLock()
        self._handle = None
        if isinstance(volumes, str) or isinstance(writers, str):
            raise TypeError("volumes and writers are lists of texts")
        self._volumes = list(volumes)
        self._writers = [check_id("writer id", writer) for writer in writers]
        self._components = list(components)
        for component in self._components:
            if not isinstance(component, Component):
                raise TypeError(f"{component!r}: components are frostcap.Component values")
        self._backup_type = _backup_type(backup_type)
        self._system_provider = system_provider
        self._lib = _library.load(library)
        self._entered = False
        self._mount_paths = []

    @property
    def library(self):
        return self._lib

    def __enter__(self):
        with self._lock:
            if self._entered:
                raise RuntimeError("a Snapshot is entered once; make a new one")
            self._entered = True
            lib = self._lib
            lib.initialise()
            self._handle = lib.snapshot_new()
            if not self._handle:
                raise MemoryError("frostcap_snapshot_new")
            _held.add(self)
            try:
                self._configure()
                for phase in (lib.snapshot_perform_a, lib.snapshot_perform_b):
                    if phase(self._handle) != 0:
                        raise SnapshotError(lib.drain(lib.snapshot_getNextMessage, self._handle))
                self._mount_paths = lib.drain(lib.snapshot_getNextMountPath, self._handle)
            except BaseException:
                self._release(0)
                raise
        return self

    def __exit__(self, exc_type, exc, traceback):
        self._release(1 if exc_type is None else 0)
        return False

    def __del__(self):
        self._release(0)

    def _configure(self):
        lib, handle = self._lib, self._handle
        for volume in self._volumes:
            lib.snapshot_addVolumePath(handle, to_units(volume))
        for writer in self._writers:
            lib.snapshot_addWriter(handle, to_units(writer))
        for c in self._components:
            add = (lib.snapshot_addWriterDatabaseComponentFallback if c.type == "database" else
                   lib.snapshot_addWriterFilegroupComponentFallback)
            add(handle, to_units(c.writer_id), to_units(c.logical_path), to_units(c.name),
                to_units(c.fallback_logical_path))
        if self._backup_type is not None:
            lib.snapshot_setIncrementalMode(handle, self._backup_type)
        if self._system_provider:
            lib.snapshot_setUseSystemProvider(handle)

    def _release(self, verdict):
        with self._lock:
            handle, self._handle = self._handle, None
            if handle:
                _held.discard(self)
                self._lib.snapshot_free(handle, verdict)

    @contextmanager
    def _turn(self):
        """The live handle, for this thread alone until the block ends."""
        with self._lock:
            if not self._handle:
                raise RuntimeError("the snapshot is not held: use it inside its with block")
            yield self._handle

    def mount_paths(self):
        """The device paths of the shadow copies, one per volume."""
        with self._turn():
            return iter(list(self._mount_paths))

    def components(self):
        """Every component of every writer the service reports, read afresh.
        A failure to read them all is queued as a warning message."""
        with self._turn() as handle:
            self._lib.snapshot_loadWriterComponents(handle)
            lines = self._lib.drain(self._lib.snapshot_getNextWriterComponent, handle)
        return iter([CatalogueEntry(*json.loads(line)) for line in lines
                     if not line.startswith("#")])

    def _inventory(self):
        with self._turn() as handle:
            self._lib.snapshot_loadWriterFileInfo(handle)
            files = self._lib.drain(self._lib.snapshot_getNextWriterFileInfo, handle)
            excluded = self._lib.drain(self._lib.snapshot_getNextWriterExcludedFileInfo, handle)
        return files, excluded

    def files(self):
        """The files of the chosen components, searched inside the shadow
        copies and named by their live paths."""
        return iter(self._inventory()[0])

    def excluded_files(self):
        """The files the writers exclude from the backup."""
        return iter(self._inventory()[1])

    def copy_path(self, live_path):
        """Where `live_path` lies inside the shadow copy of its volume (None
        when it lies on no volume of the snapshot)."""
        with self._turn():
            return _listing.copy_path(live_path, self._volumes, self._mount_paths)

    def listing(self, exclude=False, walk=False):
        """The files of the chosen components as ListedFile values, with
        directories marked; with `exclude`, less the files the writers
        exclude; with `walk`, each listed directory followed by its contents
        inside the copy, all the way down (the library lists one level)."""
        files, excluded = self._inventory()
        return iter(_listing.listing(files, excluded if exclude else (), self._volumes,
                                     self._mount_paths, self._locate, walk))

    def _locate(self, inside):
        # Over the simulated service a copy is a directory of this host; the
        # real service's device paths are opened as they are.
        found = self._lib.sim_hostPath(inside.encode("utf-8")) if self._lib.simulated else None
        return os.fsdecode(found) if found is not None else inside

    def messages(self, raw=False):
        """The messages queued since the last call, in English, or with their
        tokens when `raw`."""
        with self._turn() as handle:
            texts = self._lib.drain(self._lib.snapshot_getNextMessage, handle)
        return iter(texts if raw else [render_message(text) for text in texts])


def is_network_path(path, library=None):
    """Whether the library takes `path` for a network path (a UNC path such as
    \\\\server\\share), which it cannot copy."""
    return _library.load(library).pathIsNetworkPath(to_units(path)) == 0
