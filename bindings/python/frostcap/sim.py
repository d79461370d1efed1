"""The simulated shadow copy service of libfrostcap-sim: load a scenario,
read back every call the service received, find a shadow copy's files.

Until a scenario is loaded, the library answers as a system without the
service. Functions take the library as frostcap.Snapshot does; by default
libfrostcap-sim is looked for first and becomes the library that snapshots
use.
"""

import json
import os
from pathlib import Path
from typing import NamedTuple

from ._errors import Error
from ._library import load_simulated


class ScenarioError(Error):
    """A scenario file that cannot be used; the text names the file, the
    place in it and what was expected there."""


class RecordEntry(NamedTuple):
    call: str  # e.g. "SetBackupSucceeded"; "Release" for a released backup object
    text: str  # the call with its arguments, e.g. "SetBackupSucceeded(...,true)"
    status: str = "0x00000000"  # what the service answered, e.g. "0x80042308"


def load_library(library=None):
    """The library over the simulated service that these functions use: as
    frostcap.load_library, with libfrostcap-sim looked for first."""
    return load_simulated(library)


def _last_error(lib):
    return lib.sim_lastError().decode("utf-8", "replace")


def load_scenario(path, library=None):
    """Makes the scenario file at `path` the service for this process, in
    place of any earlier one (which stays when this one cannot be read)."""
    lib = load_simulated(library)
    if lib.sim_loadScenario(os.fsencode(path)) != 0:
        raise ScenarioError(_last_error(lib))


def unload(library=None):
    """Ends the loaded scenario; the library answers as without the service."""
    load_simulated(library).sim_unload()


def record(library=None):
    """Every call the loaded scenario's service received, in order."""
    lib = load_simulated(library)
    entries = []
    for index in range(lib.sim_recordCount()):
        line = lib.sim_recordEntry(index)
        if line is not None:
            entries.append(RecordEntry(**json.loads(line.decode("utf-8"))))
    return entries


def write_record(path, library=None):
    """Writes the record to `path`, one JSON object a line."""
    lib = load_simulated(library)
    if lib.sim_writeRecord(os.fsencode(path)) != 0:
        raise OSError(_last_error(lib))


def host_path(path, library=None):
    """The directory of this host behind a volume name or a mount path (or a
    path below one); None when the service does not know the name."""
    found = load_simulated(library).sim_hostPath(path.encode("utf-8"))
    return Path(os.fsdecode(found)) if found is not None else None
