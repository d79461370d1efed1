"""frostcap for Python: shadow copies of volumes through the frostcap library,
loaded with ctypes.

    import frostcap

    with frostcap.Snapshot(volumes=["C:\\\\"]) as snap:
        for path in snap.mount_paths():
            ...  # read the backup's data from path

The library is the file FROSTCAP_LIBRARY names, else the one beside this
package (frostcap.dll, libfrostcap.so or libfrostcap-sim.so), else the one the
system's search finds. frostcap.sim drives the simulated service of
libfrostcap-sim. Every error raised is a frostcap.Error, with the status,
the failed call, the writer and component, and whether to retry.
"""

from ._com import backup_privilege_enabled
from ._errors import Error, InvalidIdError, SnapshotError, status_class
from ._library import Library, LibraryError
from ._library import load as load_library
from ._library import trace_to
from ._listing import ListedFile, copy_path
from ._messages import TOKEN_TEXTS, render_message
from ._snapshot import BACKUP_TYPES, CatalogueEntry, Component, Snapshot, is_network_path

__version__ = "0.1.0"

__all__ = [
    "BACKUP_TYPES", "CatalogueEntry", "Component", "Error", "InvalidIdError", "Library",
    "LibraryError", "ListedFile", "Snapshot", "SnapshotError", "TOKEN_TEXTS",
    "backup_privilege_enabled", "copy_path", "is_network_path", "load_library",
    "render_message", "status_class", "trace_to",
]
