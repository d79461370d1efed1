"""A first real backup in Python (docs/first-backup-python.md): selects the
mail store writer's database component on C:\\, takes the shadow copy, reads
each of the component's files inside it, and declares success only when all
were read.

When FROSTCAP_SIM_SCENARIO names a scenario, it runs against the simulated
service of libfrostcap-sim instead, and opens the copy's files in the
directory that stands for the copy on this host.
"""

import os
import sys

import frostcap
from frostcap import Component, sim

VOLUME = "C:\\"
MAIL = Component("database", "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}", "Mail",
                 "Mailbox Database")


def path_in_copy(mount_path, live_path):
    """The copy's mount path followed by the live path after the volume name."""
    if live_path[:len(VOLUME)].lower() != VOLUME.lower():
        raise ValueError(f"{live_path} is not on {VOLUME}")
    return mount_path + live_path[len(VOLUME):]


def read_inside_copy(path, simulated):
    # On Windows the device path opens as it is; elsewhere only the simulated
    # service knows the directory behind it.
    local = sim.host_path(path) if simulated else path
    if local is None:
        raise OSError(f"{path}: not inside a shadow copy")
    with open(local, "rb") as data:
        return sum(len(block) for block in iter(lambda: data.read(65536), b""))


def main():
    # On Windows the model's vssapi.dll reads FROSTCAP_SIM_SCENARIO itself.
    scenario = os.environ.get("FROSTCAP_SIM_SCENARIO")
    simulated = bool(scenario) and os.name != "nt"
    if simulated:
        sim.load_scenario(scenario)
    try:
        # Both phases run on entry; a copy backup leaves the writer's
        # logs and backup history alone.
        with frostcap.Snapshot(volumes=[VOLUME], components=[MAIL], backup_type="copy") as snap:
            mount_path = next(snap.mount_paths())
            print("mount path:", mount_path)
            for live_path in snap.files():
                size = read_inside_copy(path_in_copy(mount_path, live_path), simulated)
                print("file:", live_path)
                print(f"  {size} bytes read inside the copy")
            for message in snap.messages():
                print(message)
        # Only a block that ends normally frees the snapshot with verdict 1:
        # an exception raised above fails the backup.
    except (frostcap.SnapshotError, OSError) as error:
        print(error, file=sys.stderr)
        print("backup failed")
        return 1
    print("backup succeeded")
    if simulated and os.environ.get("FROSTCAP_SIM_RECORD"):
        sim.write_record(os.environ["FROSTCAP_SIM_RECORD"])
    return 0


if __name__ == "__main__":
    sys.exit(main())
