"""The field failures of examples/field through the frostcap command, for a host
that selects the mail writer and reads the copy while it exists."""

import json
import os
import re
import subprocess
from pathlib import Path

import pytest

FROSTCAP = os.environ["FROSTCAP_BIN"]
EXAMPLES = Path(os.environ["FROSTCAP_EXAMPLES_DIR"])
MAIL = "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}"

# Reads the copy once; reads it until it is gone (exit 1), for at most 10 s.
READ = 'test -d "$FROSTCAP_SNAPSHOT_DIR_1/Data"'
READ_UNTIL_GONE = f"for i in $(seq 200); do {READ} || exit 1; sleep 0.05; done"

# What each scenario should end with, through `snapshot`: the exit code and a
# text the output holds (None: none asked for); and through `doctor --volume
# C:\\`: the exit code and the start of the trial's line, which names the
# field environment when the scenario plays one. The outcomes live here and
# nowhere else.
OK = r"ok +volume trial: a shadow copy of C:\\ was made \(.+\) and released at once, by the simulated"
OUTCOMES = {
    # Retried on a fresh handle, which the service then accepts.
    "set-in-progress": (READ, 0, "try 1 failed", 1, r"problem +volume trial: no shadow .+0x80042316"),
    # No device path: the reader is never started.
    "no-device": (READ, 1, "device path for 0 of 1",
                  1, r"problem +volume trial: the copy was made, but .+ -> use the system's own"),
    # A volume-only copy involves no writer and gathers no metadata.
    "writer-veto": (READ, 1, "0x800423f3", 0, OK),
    # The reader meets the copy gone and fails; the command says why.
    "copy-vanishes": (READ_UNTIL_GONE, 3, "no longer exists", 0, OK),
    "slow-metadata": (READ, 0, "mount path:", 0, OK),
    "access-denied": (READ, 1, "0x80070005", 1, r"problem +volume trial: no shadow .+0x80070005"),
    "service-disabled": (READ, 1, "0x80070422", 1, r"problem +volume trial: the shadow copy "
                         r"service \(VSS\) is disabled.+ -> set its start type to manual"),
    "unsupported-volume": (READ, 1, "0x8004230c",
                           1, r"problem +volume trial: no provider can copy this volume.+ -> leave"),
    "writes-timeout": (READ, 1, "0x80042313",
                       1, r"problem +volume trial: the system could not flush .+ -> try again"),
    # Every component was added and the refused writer status of doctor's
    # volume-only trial means no writer: nothing to refuse.
    "strict-server": (READ, 0, "mount path:", 0, OK),
    # The trial outlasts doctor's --timeout of 0.3 s and is given up.
    "stuck-provider": (READ, 0, "mount path:",
                       5, r"problem +volume trial: the trial did not end within --timeout"),
}


def shortened(scenario):
    """The scenario with its volume found from anywhere and its delays cut to
    a fraction of a second, as the test cannot wait minutes."""
    for volume in scenario["volumes"]:
        volume.update(directory=str(EXAMPLES / "volume"))
        volume.update({k: min(v, 1000) for k, v in volume.items() if k == "vanishAfter"})
    for fault in scenario.get("faults", []):
        fault.update({k: min(v, 1000) for k, v in fault.items() if k == "delay"})
    return scenario


def run(tmp_path, name, *args):
    """frostcap over the scenario, shortened, with the simulated service's
    copies in a directory of their own, which must be empty afterwards."""
    path = tmp_path / f"{name}.json"
    path.write_text(json.dumps(shortened(json.loads((EXAMPLES / "field" / path.name).read_text()))))
    copies = tmp_path / "copies"
    copies.mkdir()
    result = subprocess.run([FROSTCAP, "--scenario", str(path), *args], capture_output=True,
                            text=True, timeout=60, env=dict(os.environ, TMPDIR=str(copies)))
    assert list(copies.iterdir()) == [], "no copy outlives the command"
    return result


# Every scenario of the pack, so that one added without an outcome fails here.
SCENARIOS = sorted(p.stem for p in (EXAMPLES / "field").glob("*.json"))


@pytest.mark.parametrize("name", SCENARIOS)
def test_each_field_failure_ends_as_it_should(tmp_path, name):
    reader, exit_code, says, _, _ = OUTCOMES[name]
    result = run(tmp_path, name, "snapshot", "--volume", "C:\\", "--writer", MAIL, "--component",
                 "database:Mail:Mailbox Database", "--busy-wait", "0.01", "--exec", "sh", "-c", reader)
    assert result.returncode == exit_code, result.stdout + result.stderr
    assert says is None or says in result.stdout + result.stderr


@pytest.mark.parametrize("name", SCENARIOS)
def test_doctor_names_each_field_environment_with_its_fix(tmp_path, name):
    _, _, _, exit_code, trial = OUTCOMES[name]
    result = run(tmp_path, name, "doctor", "--volume", "C:\\",
                 "--timeout", "0.3" if exit_code == 5 else "60")
    assert result.returncode == exit_code, result.stdout + result.stderr
    assert re.match(trial, result.stdout.splitlines()[-1]), result.stdout
