"""The frostcap command end to end: the built program run as a process over
scenarios of the simulated service."""

import json
import os
import re
import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest

FROSTCAP = os.environ["FROSTCAP_BIN"]
EXAMPLES = Path(os.environ["FROSTCAP_EXAMPLES_DIR"])
MAIL = "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}"
DOCUMENTS = "{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}"
BOTH_WRITERS = ["--writer", MAIL, "--component", "database:Mail:Mailbox Database",
                "--writer", DOCUMENTS, "--component", "filegroup::Documents"]
SNAPSHOT = ["snapshot", "--volume", "C:\\"]


@pytest.fixture
def world(tmp_path):
    """The example scenario over a private copy of its volume, and a private
    temporary directory where the simulated service puts its copies."""
    shutil.copytree(EXAMPLES / "volume", tmp_path / "volume")
    (tmp_path / "copies").mkdir()

    class World:
        live = tmp_path / "volume"
        copies = tmp_path / "copies"
        record = tmp_path / "record.jsonl"
        env = dict(os.environ, TMPDIR=str(copies))

        def command(self, *args, change=None, scenario=None):
            """The command line over the example scenario changed by `change`, or
            over the text `scenario`."""
            example = json.loads((EXAMPLES / "two-writers.json").read_text())
            if change:
                change(example)
            path = tmp_path / "scenario.json"
            path.write_text(scenario or json.dumps(example))
            return [FROSTCAP, "--scenario", str(path), "--record", str(self.record), *args]

        def run(self, *args, change=None, scenario=None, **kwargs):
            return subprocess.run(self.command(*args, change=change, scenario=scenario),
                                  capture_output=True, text=True, timeout=60, env=self.env,
                                  **kwargs)

        def calls(self, name):
            lines = [json.loads(line) for line in self.record.read_text().splitlines()]
            return [line["text"] for line in lines if line["call"] == name]

    return World()


def test_a_snapshot_runs_the_command_inside_the_copy_and_completes_the_backup(world):
    # The mail database is asked for under a path it lacks and found under its fallback.
    result = world.run(*SNAPSHOT, "--writer", MAIL, "--component",
                       "database:Archive:Mailbox Database:Mail", *BOTH_WRITERS[4:], "--exec",
                       "sh", "-c", 'test -f "$FROSTCAP_SNAPSHOT_DIR_1/Data/Mail/mailbox.edb" && '
                       'printf "%s\\n" "$FROSTCAP_MOUNT_PATH_1"')
    assert result.returncode == 0, result.stderr
    mount = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\"
    assert result.stdout.splitlines() == [f"mount path: {mount}", mount]
    assert world.calls("AddComponent")[0].endswith(",1,Mail,Mailbox Database)")
    verdicts = world.calls("SetBackupSucceeded")
    assert len(verdicts) == 2 and all(v.endswith(",true)") for v in verdicts)
    assert list(world.copies.iterdir()) == [], "the copies end with the snapshot"


@pytest.mark.parametrize("options, told, line", [
    ([], 5, "frostcap: backup type copy (5)"),
    (["--backup-type", "full"], 1, "frostcap: backup type full (1)"),
    (["--backup-type", "incremental"], 2, "frostcap: backup type incremental (2)"),
])
def test_writers_are_told_a_copy_backup_unless_asked_for_another(world, options, told, line):
    result = world.run(*SNAPSHOT, *BOTH_WRITERS, *options, "--exec", "true")
    assert result.returncode == 0, result.stderr
    assert world.calls("SetBackupState") == [f"SetBackupState(true,false,{told},false)"]
    assert line in result.stderr.splitlines()
    report = json.loads(world.run("--json", *SNAPSHOT, *BOTH_WRITERS, *options, "--files",
                                  "--exec", "true").stdout)
    assert report["backupType"]["value"] == told and "C:\\Documents\\notes.txt" in report["files"]


def failed_in_part(scenario):
    scenario["writers"][0].update(status="0x80042336", failedComponents=[
        {"name": "Mailbox Database", "status": "0x800423F3", "message": "log disk full"}])


def no_snapshot_set(scenario):
    scenario["faults"] = [{"call": "DoSnapshotSet", "status": "0x80042306"}]


# Each pattern matches a whole line of the error output.
@pytest.mark.parametrize("args, change, code, patterns", [
    ([*SNAPSHOT, *BOTH_WRITERS, "--exec", "sh", "-c", "exit 3"], None, 3, []),
    (["--raw", *SNAPSHOT, "--writer", MAIL, "--component", "database:Mail:Nobody"], None, 1,
     [re.escape("{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}{ERR_NO_COMPONENT} "
                "(Path=Mail Name=Nobody))")]),
    (["--raw", *SNAPSHOT, *BOTH_WRITERS, "--exec", "true"], failed_in_part, 1,
     [r"\{ERR_COMPONENT_VSS\}: \(Mailbox Database\): 0x800423f3: .+",
      re.escape("{ERR_COMPONENT_CUST}: (Mailbox Database): log disk full"),
      r".*GetWriterStatus\(Mail Store Writer\): 0x80042336: .+"]),
    ([*SNAPSHOT, "--exec", "true"], no_snapshot_set, 1,
     [r"error: the shadow copies could not be made "
      r"\(IVssBackupComponents::DoSnapshotSet: 0x80042306: .+\)"]),
])
def test_a_failure_fails_the_backup_and_sets_the_exit_code(world, args, change, code, patterns):
    result = world.run(*args, change=change)
    assert result.returncode == code, result.stderr
    for pattern in patterns:
        assert re.search(f"^{pattern}$", result.stderr, re.MULTILINE), (pattern, result.stderr)
    assert code != 1 or result.stdout == ""
    assert all(v.endswith(",false)") for v in world.calls("SetBackupSucceeded"))
    assert list(world.copies.iterdir()) == []


@pytest.mark.parametrize("end, code, verdict", [("enter", 0, "true"), ("ctrl-c", 130, "false")])
def test_a_held_snapshot_ends_with_enter_or_ctrl_c(world, end, code, verdict):
    process = subprocess.Popen(world.command(*SNAPSHOT, *BOTH_WRITERS), stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               env=world.env)
    assert process.stdout.readline().startswith("mount path: ")
    assert len(list(world.copies.iterdir())) == 2, "the copy and its owner marker"
    if end == "enter":
        process.stdin.write("\n")
        process.stdin.flush()
    else:
        time.sleep(0.2)
        process.send_signal(signal.SIGINT)
    assert process.wait(timeout=30) == code
    assert list(world.copies.iterdir()) == []
    verdicts = world.calls("SetBackupSucceeded")
    assert len(verdicts) == 2 and all(v.endswith(f",{verdict})") for v in verdicts)


def test_the_copy_of_a_killed_host_goes_at_the_next_start(world):
    killed = world.run(*SNAPSHOT, "--exec", "sh", "-c",
                       'echo "left $FROSTCAP_SNAPSHOT_DIR_1"; kill -9 $PPID')
    assert killed.returncode == -signal.SIGKILL
    left = Path(re.search(r"^left (.+)$", killed.stdout, re.MULTILINE).group(1))
    assert left.parent == world.copies
    assert (left / "Data" / "Mail" / "mailbox.edb").is_file(), "nobody removed it"
    assert (world.copies / (left.name + ".owner")).is_file()
    again = world.run(*SNAPSHOT, "--exec", "true")
    assert again.returncode == 0, again.stderr
    assert list(world.copies.iterdir()) == []


def test_writers_and_files_report_the_live_system_as_json_with_timings(world):
    # A named pipe, which no copy holds, shows that `files` searched the live volume.
    os.mkfifo(world.live / "Documents" / "pipe")
    report = json.loads(world.run("--json", "writers", "--writer", MAIL, "--writer",
                                  DOCUMENTS).stdout)
    names = [c["name"] for w in report["catalogue"] for c in w["components"]]
    assert names == ["Mailbox Database", "Documents"] and report["exitCode"] == 0
    calls = [t["call"] for t in report["timings"]]
    assert "frostcap_snapshot_perform_a" in calls and "frostcap_snapshot_free" in calls
    files = json.loads(world.run("--json", "files", *BOTH_WRITERS[4:]).stdout)["files"]
    assert "C:\\Documents\\pipe" in files and "C:\\Documents\\notes.txt" in files


CHECKS = ["elevated token", "backup privilege", "64-bit", "shadow copy service", "COM security",
          "volume trial"]


@pytest.mark.parametrize("volume, fault, exit_code, trial", [
    ("C:\\", None, 0, r"ok +volume trial: a shadow copy of C:\\ was made \(\\\\\?\\GLOBALROOT"
                      r".+\) and released at once$"),
    ("C:\\", "DoSnapshotSet", 1, r"problem +volume trial: no shadow copy of C:\\ could be made: "
                                 r"error: the shadow copies could not be made .+ -> "),
    ("D:\\", None, 1, r"problem +volume trial: .+AddToSnapshotSet: 0x80042308: "),
    (None, None, 1, r"cannot tell +volume trial: not tried: no volume given -> "),
])
def test_doctor_checks_the_machine_and_tries_the_volume(world, volume, fault, exit_code, trial):
    change = fault and (lambda s: s.update(faults=[{"call": fault, "status": "0x80042306"}]))
    args = ["doctor", *(["--volume", volume] if volume else [])]
    result = world.run(*args, change=change)
    assert result.returncode == exit_code, result.stderr
    lines = result.stdout.splitlines()
    found = [re.match(r"(ok|problem|cannot tell) +([^:]+): ", line) for line in lines]
    assert [match.group(2) for match in found] == CHECKS, lines
    # Natively the system's checks have POSIX meanings or do not apply.
    assert all(match.group(1) == "ok" for match in found[:5]), lines
    assert re.match(trial, lines[5]), lines[5]
    assert list(world.copies.iterdir()) == [], "the trial's copy is released at once"
    if volume == "C:\\" and not fault:
        assert world.calls("DoSnapshotSet") and not world.calls("AddComponent")
    report = json.loads(world.run("--json", *args, change=change).stdout)
    assert [(c["check"], c["verdict"]) for c in report["checks"]] == \
        [(m.group(2), m.group(1)) for m in found]
    assert report["exitCode"] == exit_code


@pytest.mark.parametrize("args, scenario, expected", [
    (["snapshot"], None, ""),
    ([*SNAPSHOT, "--component", "database:Mail:Mailbox Database"], None, ""),
    ([*SNAPSHOT, "--writer", MAIL, "--component", "tape:Mail:X"], None, ""),
    ([*SNAPSHOT, "--backup-type", "weekly"], None, ""),
    (["writers"], None, ""),
    (SNAPSHOT, '{"volumes": [', r"scenario\.json:1:\d+: "),
    (SNAPSHOT, '{"writers": [{"classId": "nope"}]}',
     r"scenario\.json: /writers/0/classId: expected a GUID"),
])
def test_usage_and_scenario_errors_exit_with_2(world, args, scenario, expected):
    result = world.run(*args, scenario=scenario)
    assert result.returncode == 2
    assert re.search(expected, result.stderr), result.stderr


def test_every_token_the_library_queues_is_documented_and_rendered():
    root = Path(__file__).resolve().parents[2]
    library = (root / "src/frame/messages.h").read_text() + \
        (root / "src/frame/messages.cpp").read_text()
    tokens = set(re.findall(r"\{((?:ERR|FATAL|WARNING)_[A-Z_]+)\}", library))
    assert len(tokens) >= 17
    docs = (root / "docs/messages.md").read_text()
    rendering = (root / "tools/frostcap/token_texts.inc").read_text()
    for token in tokens:
        assert f"`{{{token}}}`" in docs, token
        assert f'"{token}"' in rendering, token
