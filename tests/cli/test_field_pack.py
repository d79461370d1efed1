"""The field failures of examples/field through the frostcap command, for a host
that selects the mail writer and reads the copy while it exists."""

import json
import os
import subprocess
from pathlib import Path

import pytest

FROSTCAP = os.environ["FROSTCAP_BIN"]
EXAMPLES = Path(os.environ["FROSTCAP_EXAMPLES_DIR"])
MAIL = "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}"

# Reads the copy once; reads it until it is gone (exit 1), for at most 10 s.
READ = 'test -d "$FROSTCAP_SNAPSHOT_DIR_1/Data"'
READ_UNTIL_GONE = f"for i in $(seq 200); do {READ} || exit 1; sleep 0.05; done"

# What each scenario should end with: the exit code and a text the output holds
# (None: none asked for). The command's outcomes live here and nowhere else.
OUTCOMES = {
    # Retried on a fresh handle, which the service then accepts.
    "set-in-progress": (READ, 0, "try 1 failed"),
    # No device path: the reader is never started.
    "no-device": (READ, 1, "device path for 0 of 1"),
    "writer-veto": (READ, 1, "0x800423f3"),
    # The reader meets the copy gone and fails; the command says why.
    "copy-vanishes": (READ_UNTIL_GONE, 3, "no longer exists"),
    "slow-metadata": (READ, 0, "mount path:"),
    "access-denied": (READ, 1, "0x80070005"),
    # Every component was added: nothing to refuse.
    "strict-server": (READ, 0, "mount path:"),
}


def shortened(scenario):
    """The scenario with its volume found from anywhere and its delays cut to
    a fraction of a second, as the test cannot wait minutes."""
    for volume in scenario["volumes"]:
        volume.update(directory=str(EXAMPLES / "volume"))
        volume.update({k: min(v, 1000) for k, v in volume.items() if k == "vanishAfter"})
    for fault in scenario.get("faults", []):
        fault.update({k: min(v, 200) for k, v in fault.items() if k == "delay"})
    return scenario


# Every scenario of the pack, so that one added without an outcome fails here.
@pytest.mark.parametrize("name", sorted(p.stem for p in (EXAMPLES / "field").glob("*.json")))
def test_each_field_failure_ends_as_it_should(tmp_path, name):
    reader, exit_code, says = OUTCOMES[name]
    path = tmp_path / f"{name}.json"
    path.write_text(json.dumps(shortened(json.loads((EXAMPLES / "field" / path.name).read_text()))))
    copies = tmp_path / "copies"
    copies.mkdir()
    result = subprocess.run(
        [FROSTCAP, "--scenario", str(path), "snapshot", "--volume", "C:\\", "--writer", MAIL,
         "--component", "database:Mail:Mailbox Database", "--busy-wait", "0.01",
         "--exec", "sh", "-c", reader],
        capture_output=True, text=True, timeout=60, env=dict(os.environ, TMPDIR=str(copies)))
    assert result.returncode == exit_code, result.stdout + result.stderr
    assert says is None or says in result.stdout + result.stderr
    assert list(copies.iterdir()) == [], "no copy outlives the command"

