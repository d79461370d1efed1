"""The frostcap command end to end: the built program run as a process over
scenarios of the simulated service."""

import json
import os
import pty
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
    (["--raw", *SNAPSHOT, "--writer", MAIL, "--component", "database:Mail:Nobody", "--exec",
      "true"], None, 1,
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


def verdicts_are(world, verdict):
    verdicts = world.calls("SetBackupSucceeded")
    return len(verdicts) == 2 and all(v.endswith(f",{verdict})") for v in verdicts)


# A held snapshot counts only when confirmed on its terminal: end of input, a
# hang-up, a signal and a closed output end it as failed and release the copies.
@pytest.mark.parametrize("end, code, line", [
    ("enter", 0, None),
    ("ctrl-d", 4, "input ended before the backup was confirmed: the backup failed"),
    (signal.SIGINT, 130, "SIGINT (Ctrl-C) while the snapshot was held: the backup failed"),
    (signal.SIGHUP, 129, "SIGHUP (hang-up) while the snapshot was held: the backup failed"),
    (signal.SIGTERM, 143, "SIGTERM while the snapshot was held: the backup failed"),
    ("close stdout", 141, "SIGPIPE (broken pipe) while the snapshot was held: the backup failed"),
])
def test_a_held_snapshot_counts_only_when_confirmed(world, end, code, line):
    terminal, stdin = pty.openpty()
    process = subprocess.Popen(world.command(*SNAPSHOT, *BOTH_WRITERS), stdin=stdin,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               env=world.env)
    os.close(stdin)
    if end == "close stdout":
        process.stdout.close()
    else:
        assert process.stdout.readline().startswith("mount path: ")
    assert any("until you confirm" in line for line in iter(process.stderr.readline, ""))
    assert len(list(world.copies.iterdir())) == 2, "the copy and its owner marker"
    if end in ("enter", "ctrl-d"):
        os.write(terminal, b"\n" if end == "enter" else b"\x04")
    elif end != "close stdout":
        process.send_signal(end)
    assert process.wait(timeout=30) == code
    os.close(terminal)
    assert line is None or f"frostcap: {line}\n" in process.stderr.read()
    assert list(world.copies.iterdir()) == []
    assert verdicts_are(world, "true" if code == 0 else "false")


def test_without_a_terminal_the_hold_is_refused_before_any_snapshot(world):
    result = world.run(*SNAPSHOT, *BOTH_WRITERS, stdin=subprocess.DEVNULL)
    assert result.returncode == 2
    assert "use --exec CMD" in result.stderr and not world.calls("DoSnapshotSet")


# While --exec runs, a signal is passed on to the command, which is killed when
# it does not end within the grace period; the backup fails either way.
@pytest.mark.parametrize("sig, child, code", [
    (signal.SIGTERM, "exec sleep 20", 143),
    (signal.SIGHUP, "exec sleep 20", 129),
    (signal.SIGTERM, "trap '' TERM; sleep 5", 143),
])
def test_a_signal_during_the_command_fails_the_backup(world, tmp_path, sig, child, code):
    started = tmp_path / "started"
    process = subprocess.Popen(world.command(*SNAPSHOT, *BOTH_WRITERS, "--grace", "0.5", "--exec",
                                             "sh", "-c", f"touch {started}; {child}"),
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               env=world.env)
    while not started.exists():
        time.sleep(0.02)
    process.send_signal(sig)
    assert process.wait(timeout=10) == code
    assert list(world.copies.iterdir()) == [] and verdicts_are(world, "false")


def documents_on_d(scenario):
    """The document writer's files on a volume D:\\ of their own."""
    scenario["volumes"].append({"name": "D:\\", "directory": "ddrive"})
    text = json.dumps(scenario["writers"][1]).replace("C:\\\\Documents", "D:\\\\Documents")
    scenario["writers"][1] = json.loads(text)


# A component's volume that no --volume names is added, and its files are
# listed from that volume's copy: a named pipe, which no copy holds, is absent.
@pytest.mark.parametrize("options, code, line", [
    ([], 0, r"frostcap: adding volume D:\\, which holds D:\\Documents\\.+ of the selected components"),
    (["--no-add-volumes"], 2, r"frostcap: D:\\Documents\\.+ lies on D:\\, which no --volume names .+"),
])
def test_a_component_on_another_volume_is_read_from_its_own_copy(world, options, code, line):
    shutil.copytree(EXAMPLES / "volume" / "Documents", world.live.parent / "ddrive" / "Documents")
    os.mkfifo(world.live.parent / "ddrive" / "Documents" / "pipe")
    result = world.run(*SNAPSHOT, *BOTH_WRITERS, "--files", *options, "--exec", "true",
                       change=documents_on_d)
    assert result.returncode == code, result.stderr
    assert re.search(f"^{line}$", result.stderr, re.MULTILINE), result.stderr
    if code == 0:
        assert [c.split(",")[0] for c in world.calls("AddToSnapshotSet")] == \
            ["AddToSnapshotSet(C:\\", "AddToSnapshotSet(D:\\"]
        assert "  D:\\Documents\\notes.txt" in result.stdout.splitlines()
        assert "pipe" not in result.stdout and verdicts_are(world, "true")


# The command's environment has exactly its own FROSTCAP_ values: inherited
# ones, an outer snapshot's among them, are replaced or removed.
def test_a_nested_snapshot_hands_its_command_the_inner_copy(world):
    world.env.update(FROSTCAP_MOUNT_PATH_2="stale", FROSTCAP_SNAPSHOT_DIR_2="stale")
    show = 'printf "%s|%s|%s\\n" "$FROSTCAP_SNAPSHOT_DIR_1" "$FROSTCAP_MOUNT_PATH_2" ' \
           '"$FROSTCAP_SNAPSHOT_DIR_2"'
    inner = world.command(*SNAPSHOT, "--exec", "sh", "-c", show)
    result = world.run(*SNAPSHOT, "--exec", "sh", "-c",
                       show + '; ' + " ".join(f"'{a}'" for a in inner))
    assert result.returncode == 0, result.stderr
    outer, nested = [line.split("|") for line in result.stdout.splitlines()
                     if "|" in line]
    assert outer[1:] == nested[1:] == ["", ""]
    assert outer[0] != nested[0] and Path(nested[0]).parent == world.copies


# What the --exec command's end makes of the backup, with a line on stderr
# whenever it fails; with --json its output goes to stderr and the document parses.
@pytest.mark.parametrize("options, child, code, verdict, line", [
    ([], "exit 1", 3, "false", "sh exited with 1: the backup failed"),
    (["--success-exit-codes", "0,2-7"], "exit 7", 0, "true", None),
    (["--success-exit-codes", "0,2-7"], "exit 1", 3, "false", "sh exited with 1: the backup failed"),
    ([], "kill -9 $$", 3, "false", "sh was ended by SIGKILL: the backup failed"),
    ([], 'rm -r "$FROSTCAP_SNAPSHOT_DIR_1"', 1, "false",
     r"the shadow copy of volume C:\\ \(.+\) no longer exists: the backup failed"),
    (["--timeout", "0.3"], "exec sleep 20", 5, "false", "the timeout while sh ran: the backup failed"),
])
def test_the_commands_end_decides_the_backup(world, options, child, code, verdict, line):
    result = world.run("--json", *SNAPSHOT, *BOTH_WRITERS, *options, "--exec", "sh", "-c",
                       f"echo child output; {child}")
    report = json.loads(result.stdout)
    assert result.returncode == report["exitCode"] == code, result.stderr
    assert "child output" in result.stderr and verdicts_are(world, verdict)
    assert line is None or re.search(f"^frostcap: {line}$", result.stderr, re.MULTILINE), \
        result.stderr
    missing = world.run(*SNAPSHOT, "--exec", "./no-such-command")
    assert missing.returncode == 127 and "could not be started" in missing.stderr


def planned(*faults):
    return lambda scenario: scenario.update(faults=[
        {"call": call, "status": status, "occurrence": n} for call, status, n in faults])


# A busy service is waited for on a fresh handle; a passing failure is retried
# when asked; every try is reported, and the library itself never retries.
BUSY = "0x80042316"
@pytest.mark.parametrize("options, faults, code, tries", [
    (["--busy-wait", "0.01"], [("DoSnapshotSet", BUSY, 1), ("DoSnapshotSet", BUSY, 2)], 0, 3),
    (["--busy-limit", "0"], [("DoSnapshotSet", BUSY, 1)], 1, 1),
    (["--retries", "1", "--retry-wait", "0"], [("DoSnapshotSet", "0x80042313", 1)], 0, 2),
    ([], [("DoSnapshotSet", "0x80042313", 1)], 1, 1),
    (["--retries", "3", "--retry-wait", "0"], [("DoSnapshotSet", "0x80042308", 1)], 1, 1),
])
def test_a_busy_or_passing_failure_is_tried_again(world, options, faults, code, tries):
    result = world.run("snapshot", "--volume", "c:", *options, "--exec", "true",
                       change=planned(*faults))
    assert result.returncode == code, result.stderr
    assert len(world.calls("DoSnapshotSet")) == tries
    assert len(re.findall(r"^frostcap: try \d failed: ", result.stderr, re.M)) == tries - 1
    # The name the service takes: c: as c:\\
    assert world.calls("AddToSnapshotSet")[-1].startswith("AddToSnapshotSet(c:\\,")


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
    # Text mode times each phase on stderr. Unasked, the library gathers no
    # writer's metadata, which the command says rather than list nothing.
    unasked = world.run("writers")
    assert unasked.returncode == 1 and "name them with --writer" in unasked.stderr
    assert re.search(r"^frostcap: gathering writer metadata: \d+\.\d{3} s$", unasked.stderr,
                     re.MULTILINE), unasked.stderr


def test_files_inside_the_copies_are_marked_walked_and_less_their_exclusions(world):
    listing = EXAMPLES.parent / "tests" / "listing"
    result = subprocess.run(
        [FROSTCAP, "--json", "--scenario", str(listing / "two-volumes.json"), "snapshot",
         "--volume", "C:\\Mounted", "--volume", "C:", "--volume", "D:", "--writer", DOCUMENTS,
         "--component", "filegroup::Everything", "--files", "--walk", "--without-excluded",
         "--exec", "true"], capture_output=True, text=True, timeout=60, env=world.env)
    report = json.loads(result.stdout)
    copies = report["mountPaths"]
    entries = {e["path"]: (e["copyPath"], e["directory"]) for e in report["listing"]}
    assert entries["D:\\Archive\\2026"] == (copies[2] + "Archive\\2026", True)
    assert entries["D:\\Archive\\2026\\a.txt"] == (copies[2] + "Archive\\2026\\a.txt", False)
    assert entries["C:\\Mounted\\Logs\\E01.log"] == (copies[0] + "Logs\\E01.log", False)
    assert "C:\\Documents\\Reports\\q1.txt" in entries and "C:\\Documents\\~lock.tmp" not in entries
    assert "C:\\Documents\\Temp\\notes.autosave.tmp" not in entries
    assert report["exitCode"] == 0


CHECKS = ["elevated token", "backup privilege", "64-bit", "shadow copy service", "COM security",
          "volume trial"]


# The trial's failures are those of the field pack (test_field_pack.py).
@pytest.mark.parametrize("volume, trial", [
    ("C:\\", r"ok +volume trial: a shadow copy of C:\\ was made \(\\\\\?\\GLOBALROOT"
            r".+\) and released at once, by the simulated service: "),
    (None, r"skipped +volume trial: not tried: no volume given -> "),
])
def test_doctor_checks_the_machine_and_tries_the_volume(world, volume, trial):
    args = ["doctor", *(["--volume", volume] if volume else [])]
    result = world.run(*args)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    found = [re.match(r"(ok|problem|cannot tell|skipped) +([^:]+): ", line) for line in lines]
    assert [match.group(2) for match in found] == CHECKS, lines
    # Natively the system's checks have POSIX meanings or do not apply; what
    # was not checked is named, and fails nothing.
    assert [match.group(1) for match in found[:5]] == ["ok"] * 3 + ["skipped"] * 2, lines
    assert re.search(r"not checked: shadow copy service, COM security(, volume trial)?$",
                     result.stderr, re.MULTILINE), result.stderr
    assert re.match(trial, lines[5]), lines[5]
    if volume:
        assert world.calls("DoSnapshotSet") and not world.calls("AddComponent")
    report = json.loads(world.run("--json", *args).stdout)
    assert [(c["check"], c["verdict"]) for c in report["checks"]] == \
        [(m.group(2), m.group(1)) for m in found]
    assert report["exitCode"] == 0


@pytest.mark.parametrize("args, scenario, expected", [
    (["snapshot"], None, ""),
    ([*SNAPSHOT, "--component", "database:Mail:Mailbox Database"], None, ""),
    ([*SNAPSHOT, "--writer", MAIL, "--component", "tape:Mail:X"], None, ""),
    ([*SNAPSHOT, "--backup-type", "weekly"], None, ""),
    (["writers"], None, ""),
    ([*SNAPSHOT, "--backup-type", "4294967297"], None, r"--backup-type 4294967297: expected "),
    ([*SNAPSHOT, "--backup-type", "-1"], None, "--backup-type -1: expected "),
    ([*SNAPSHOT, "--retries", "99999999999999999999"], None, "--retries 9+: expected 0 to 1000"),
    ([*SNAPSHOT, "--timeout", "1e400"], None, "--timeout 1e400: expected a duration"),
    ([*SNAPSHOT, "--success-exit-codes", "7-2"], None, "--success-exit-codes 7-2: expected"),
    ([*SNAPSHOT, "--trace", "/"], None, "--trace /: cannot be opened for appending: "),
    (["--trace", "/missing/trace.jsonl", *SNAPSHOT], None, "--trace /missing/trace.jsonl: cannot"),
    # A link is never followed, even to a file the command could write.
    ([*SNAPSHOT, "--trace", "/dev/stdin"], None, "--trace /dev/stdin: .+: it is a symbolic link"),
    (SNAPSHOT, '{"volumes": [', r"scenario\.json:1:\d+: "),
    (SNAPSHOT, '{"description": 1e400}', r"scenario\.json: .*number overflow"),
    (SNAPSHOT, '{"writers": [{"classId": "nope"}]}',
     r"scenario\.json: /writers/0/classId: expected a GUID"),
])
def test_usage_and_scenario_errors_exit_with_2(world, args, scenario, expected):
    result = world.run(*args, "--exec", "true", scenario=scenario)
    assert result.returncode == 2
    assert re.search(expected, result.stderr), result.stderr


@pytest.mark.parametrize("before", [True, False])
def test_the_trace_lists_the_calls_the_record_lists_and_stays_out_of_the_command(world, before):
    trace = world.copies.parent / "trace.jsonl"
    option = ["--trace", str(trace)]
    args = [*option, *SNAPSHOT, *BOTH_WRITERS] if before else [*SNAPSHOT, *BOTH_WRITERS, *option]
    result = world.run(*args, "--exec", "sh", "-c", "env | grep ^FROSTCAP_TRACE=; true")
    assert result.returncode == 0, result.stderr
    assert result.stdout.count("FROSTCAP_TRACE") == 0
    assert trace.stat().st_mode & 0o777 == 0o600

    def calls(file, left_out):
        lines = [json.loads(line) for line in file.read_text().splitlines()]
        return [(line["call"], line["text"]) for line in lines
                if line["call"] not in left_out and not line["call"].endswith(".Result")]
    assert calls(trace, {"Trace"}) == calls(world.record, {"Breach", "Assumption", "Ledger"})


@pytest.mark.parametrize("command, code", [("true", 6), ("false", 3)])
def test_an_unwritable_record_is_an_error_that_keeps_the_backups_outcome(world, command, code):
    world.record = world.copies / "missing" / "record.jsonl"
    result = world.run(*SNAPSHOT, "--exec", command)
    assert result.returncode == code
    assert re.search(r"^frostcap: --record .+ \(the backup (succeeded|failed)\)$", result.stderr,
                     re.MULTILINE), result.stderr


def test_version():
    result = subprocess.run([FROSTCAP, "--version"], capture_output=True, text=True)
    assert result.returncode == 0 and re.fullmatch(r"frostcap \d+\.\d+\.\d+\n", result.stdout)


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
