"""frostcap for Python: shadow copies of volumes through the frostcap library,
loaded with ctypes.

    import frostcap

    with frostcap.Snapshot(volumes=["C:\\\\"]) as snap:
        for path in snap.mount_paths():
            ...  # read the backup's data from path

The library is the file FROSTCAP_LIBRARY names, else the one beside this
package (frostcap.dll, libfrostcap.so or libfrostcap-sim.so), else the one the
system's search finds. frostcap.sim drives the simulated service of
libfrostcap-sim.
"""

from ._com import backup_privilege_enabled
from ._library import Library, LibraryError
from ._library import load as load_library
from ._messages import TOKEN_TEXTS, render_message
from ._snapshot import (BACKUP_TYPES, CatalogueEntry, Component, Snapshot, SnapshotError,
                        is_network_path)

__version__ = "0.1.0"

__all__ = [
    "BACKUP_TYPES", "CatalogueEntry", "Component", "Library", "LibraryError", "Snapshot",
    "SnapshotError", "TOKEN_TEXTS", "backup_privilege_enabled", "is_network_path",
    "load_library", "render_message",
]
