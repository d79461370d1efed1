"""The frostcap command end to end: the built program run as a process over
scenarios of the simulated service."""

import copy
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


@pytest.fixture
def world(tmp_path):
    """The example scenario over a private copy of its volume, and a private
    temporary directory where the simulated service puts its copies."""
    shutil.copytree(EXAMPLES / "volume", tmp_path / "volume")
    scenario = json.loads((EXAMPLES / "two-writers.json").read_text())
    (tmp_path / "copies").mkdir()

    class World:
        root = tmp_path
        live = tmp_path / "volume"
        copies = tmp_path / "copies"
        record = tmp_path / "record.jsonl"
        data = scenario

        def run(self, *args, scenario=None, extra_env=None, **kwargs):
            path = tmp_path / "scenario.json"
            path.write_text(json.dumps(scenario or self.data))
            return subprocess.run(
                [FROSTCAP, "--scenario", str(path), "--record", str(self.record), *args],
                capture_output=True, text=True, timeout=60, env=self.env(extra_env), **kwargs)

        def env(self, extra=None):
            return dict(os.environ, TMPDIR=str(self.copies), **(extra or {}))

        def calls(self, name):
            lines = [json.loads(line) for line in self.record.read_text().splitlines()]
            return [line["text"] for line in lines if line["call"] == name]

    return World()


def test_a_snapshot_runs_the_command_inside_the_copy_and_completes_the_backup(world):
    result = world.run("snapshot", "--volume", "C:\\", *BOTH_WRITERS, "--exec", "sh", "-c",
                       'test -f "$FROSTCAP_SNAPSHOT_DIR_1/Data/Mail/mailbox.edb" && '
                       'printf "%s\\n" "$FROSTCAP_MOUNT_PATH_1"')
    assert result.returncode == 0, result.stderr
    mount = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\"
    assert result.stdout.splitlines() == [f"mount path: {mount}", mount]
    verdicts = world.calls("SetBackupSucceeded")
    assert len(verdicts) == 2 and all(v.endswith(",true)") for v in verdicts)
    assert list(world.copies.iterdir()) == [], "the copies end with the snapshot"


def test_a_failing_command_passes_its_code_on_and_fails_the_backup(world):
    result = world.run("snapshot", "--volume", "C:\\", *BOTH_WRITERS, "--exec", "sh", "-c", "exit 3")
    assert result.returncode == 3
    assert all(v.endswith(",false)") for v in world.calls("SetBackupSucceeded"))


@pytest.mark.parametrize("options, told, line", [
    ([], 5, "frostcap: backup type copy (5)"),
    (["--backup-type", "full"], 1, "frostcap: backup type full (1)"),
    (["--backup-type", "incremental"], 2, "frostcap: backup type incremental (2)"),
])
def test_writers_are_told_a_copy_backup_unless_asked_for_another(world, options, told, line):
    result = world.run("snapshot", "--volume", "C:\\", *BOTH_WRITERS, *options, "--exec", "true")
    assert result.returncode == 0, result.stderr
    assert world.calls("SetBackupState") == [f"SetBackupState(true,false,{told},false)"]
    assert line in result.stderr.splitlines()
    as_json = world.run("--json", "snapshot", "--volume", "C:\\", *BOTH_WRITERS, *options,
                        "--exec", "true")
    assert json.loads(as_json.stdout)["backupType"]["value"] == told


def test_a_file_written_after_the_snapshot_is_not_in_the_copy(world):
    script = ('echo late > "$LIVE/Documents/late.txt" && '
              'test ! -e "$FROSTCAP_SNAPSHOT_DIR_1/Documents/late.txt"')
    result = world.run("snapshot", "--volume", "C:\\", "--exec", "sh", "-c", script,
                       extra_env={"LIVE": str(world.live)})
    assert result.returncode == 0, result.stderr
    assert (world.live / "Documents" / "late.txt").exists()


def test_the_inventory_searches_the_copy_but_names_live_paths(world):
    # The simulated service does not copy named pipes: one that exists only on
    # the live volume tells where the search ran.
    os.mkfifo(world.live / "Documents" / "pipe")
    live = world.run("--json", "files", "--writer", DOCUMENTS, "--component", "filegroup::Documents")
    assert "C:\\Documents\\pipe" in json.loads(live.stdout)["files"]
    taken = world.run("--json", "snapshot", "--volume", "C:\\", "--writer", DOCUMENTS,
                      "--component", "filegroup::Documents", "--files", "--exec", "true")
    files = json.loads(taken.stdout)["files"]
    assert "C:\\Documents\\notes.txt" in files and "C:\\Documents\\pipe" not in files


@pytest.mark.parametrize("component, expected", [
    ("database:Mail:Nobody", "(Path=Mail Name=Nobody)"),
    ("database:Archive:Mailbox Database", "(Path=Archive Name=Mailbox Database)"),
])
def test_a_missing_component_fails_with_the_names_given(world, component, expected):
    result = world.run("--raw", "snapshot", "--volume", "C:\\", "--writer", MAIL,
                       "--component", component)
    assert result.returncode == 1
    assert f"{{FATAL_PREFIX}}{{ERR_TAKE_SNAPSHOT}} ({{FATAL_PREFIX}}{{ERR_NO_COMPONENT}} {expected})" \
        in result.stderr


def test_a_component_found_under_its_fallback_path_is_backed_up(world):
    result = world.run("snapshot", "--volume", "C:\\", "--writer", MAIL,
                       "--component", "database:Archive:Mailbox Database:Mail", "--exec", "true")
    assert result.returncode == 0, result.stderr
    assert world.calls("AddComponent")[0].endswith(",1,Mail,Mailbox Database)")


def test_a_writer_failed_in_part_reports_its_components(world):
    scenario = copy.deepcopy(world.data)
    scenario["writers"][0]["status"] = "0x80042336"
    scenario["writers"][0]["failedComponents"] = [
        {"name": "Mailbox Database", "status": "0x800423F3", "message": "log disk full"}]
    result = world.run("--raw", "snapshot", "--volume", "C:\\", *BOTH_WRITERS, "--exec", "true",
                       scenario=scenario)
    assert result.returncode == 1
    lines = result.stderr.splitlines()
    assert any(l.startswith("{ERR_COMPONENT_VSS}: (Mailbox Database): 0x800423f3: ") for l in lines)
    assert "{ERR_COMPONENT_CUST}: (Mailbox Database): log disk full" in lines
    assert any("GetWriterStatus(Mail Store Writer): 0x80042336: " in l for l in lines)


def test_a_failing_snapshot_creation_is_reported_in_plain_words(world):
    scenario = copy.deepcopy(world.data)
    scenario["faults"] = [{"call": "DoSnapshotSet", "status": "0x80042306"}]
    result = world.run("snapshot", "--volume", "C:\\", "--exec", "true", scenario=scenario)
    assert result.returncode == 1
    assert re.search(r"^error: the shadow copies could not be made "
                     r"\(IVssBackupComponents::DoSnapshotSet: 0x80042306: .+\)$",
                     result.stderr, re.MULTILINE), result.stderr
    assert result.stdout == ""


def test_ctrl_c_while_held_ends_the_copies_as_failed(world):
    path = world.root / "scenario.json"
    path.write_text(json.dumps(world.data))
    process = subprocess.Popen(
        [FROSTCAP, "--scenario", str(path), "--record", str(world.record), "snapshot",
         "--volume", "C:\\", *BOTH_WRITERS],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
        env=world.env())
    assert process.stdout.readline().startswith("mount path: ")
    assert len(list(world.copies.iterdir())) == 2, "the copy and its owner marker"
    time.sleep(0.2)
    process.send_signal(signal.SIGINT)
    assert process.wait(timeout=30) == 130
    assert list(world.copies.iterdir()) == []
    assert all(v.endswith(",false)") for v in world.calls("SetBackupSucceeded"))


def test_the_copy_of_a_killed_host_goes_at_the_next_start(world):
    killed = world.run("snapshot", "--volume", "C:\\", "--exec", "sh", "-c",
                       'echo "left $FROSTCAP_SNAPSHOT_DIR_1"; kill -9 $PPID')
    assert killed.returncode == -signal.SIGKILL
    left = Path(re.search(r"^left (.+)$", killed.stdout, re.MULTILINE).group(1))
    assert left.parent == world.copies
    assert (left / "Data" / "Mail" / "mailbox.edb").is_file(), "nobody removed it"
    assert (world.copies / (left.name + ".owner")).is_file()

    again = world.run("snapshot", "--volume", "C:\\", "--exec", "true")
    assert again.returncode == 0, again.stderr
    assert list(world.copies.iterdir()) == []


def test_enter_ends_a_held_snapshot_as_a_success(world):
    result = world.run("snapshot", "--volume", "C:\\", "--writer", MAIL, input="\n")
    assert result.returncode == 0, result.stderr
    assert list(world.copies.iterdir()) == []


def test_writers_lists_the_catalogue_as_json_with_timings(world):
    result = world.run("--json", "writers", "--writer", MAIL, "--writer", DOCUMENTS)
    assert result.returncode == 0, result.stderr
    report = json.loads(result.stdout)
    names = [c["name"] for w in report["catalogue"] for c in w["components"]]
    assert names == ["Mailbox Database", "Documents"]
    calls = [t["call"] for t in report["timings"]]
    assert "frostcap_snapshot_perform_a" in calls and "frostcap_snapshot_free" in calls


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
    scenario = copy.deepcopy(world.data)
    if fault:
        scenario["faults"] = [{"call": fault, "status": "0x80042306"}]
    args = ["doctor", *(["--volume", volume] if volume else [])]
    result = world.run(*args, scenario=scenario)
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
    report = json.loads(world.run("--json", *args, scenario=scenario).stdout)
    assert [(c["check"], c["verdict"]) for c in report["checks"]] == \
        [(m.group(2), m.group(1)) for m in found]
    assert report["exitCode"] == exit_code


@pytest.mark.parametrize("text, expected", [
    ('{"volumes": [', r"scenario\.json:1:\d+: "),
    ('{"writers": [{"classId": "nope"}]}', r"scenario\.json: /writers/0/classId: expected a GUID"),
])
def test_a_malformed_scenario_is_a_usage_error_naming_the_place(world, text, expected):
    path = world.root / "scenario.json"
    path.write_text(text)
    result = subprocess.run([FROSTCAP, "--scenario", str(path), "snapshot", "--volume", "C:\\"],
                            capture_output=True, text=True, timeout=30)
    assert result.returncode == 2
    assert re.search(expected, result.stderr), result.stderr


@pytest.mark.parametrize("args", [
    ["snapshot"],
    ["snapshot", "--volume", "C:\\", "--component", "database:Mail:Mailbox Database"],
    ["snapshot", "--volume", "C:\\", "--writer", MAIL, "--component", "tape:Mail:X"],
    ["snapshot", "--volume", "C:\\", "--backup-type", "weekly"],
    ["writers"],
])
def test_usage_errors_exit_with_2(world, args):
    assert world.run(*args).returncode == 2


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
