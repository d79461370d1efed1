"""The binding end to end over libfrostcap-sim: the scenarios of the frostcap
command's own end-to-end tests, driven through frostcap.Snapshot."""

import json
import os
import re
import shutil
import subprocess
import sys
import threading
from pathlib import Path

import pytest

import frostcap
from frostcap import Component, sim

EXAMPLES = Path(os.environ.get("FROSTCAP_EXAMPLES_DIR", Path(__file__).parents[3] / "examples"))
MAIL = "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}"
DOCUMENTS = "{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}"
BOTH_COMPONENTS = [Component("database", MAIL, "Mail", "Mailbox Database"),
                   Component("filegroup", DOCUMENTS, "", "Documents")]
FIRST_COPY = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\"


def calls(name):
    return [entry.text for entry in sim.record() if entry.call == name]


@pytest.fixture
def load(tmp_path, monkeypatch):
    """Loads the example scenario, changed by the function given, over a
    private copy of its volume; the simulated service's copies go to a private
    temporary directory (os.environ writes through to the process's)."""
    shutil.copytree(EXAMPLES / "volume", tmp_path / "volume")
    (tmp_path / "copies").mkdir()
    monkeypatch.setenv("TMPDIR", str(tmp_path / "copies"))

    def load(change=None):
        scenario = json.loads((EXAMPLES / "two-writers.json").read_text())
        if change:
            change(scenario)
        (tmp_path / "scenario.json").write_text(json.dumps(scenario))
        sim.load_scenario(tmp_path / "scenario.json")

    load()
    yield load
    sim.unload()


def test_the_road_of_a_backup(load, tmp_path):
    # A name outside the basic plane makes the round trip through the
    # library's UTF-16 strings.
    name = "Boîte aux lettres 🧊"
    load(lambda s: s["writers"][0]["components"][0].update(name=name))
    snap = frostcap.Snapshot(volumes=["C:\\"], components=[
        Component("database", MAIL, "Mail", name), BOTH_COMPONENTS[1]])
    with snap:
        assert list(snap.mount_paths()) == [FIRST_COPY]
        assert (sim.host_path(FIRST_COPY) / "Data" / "Mail" / "mailbox.edb").is_file()
        assert list(snap.messages()) == []
        catalogue = [
            frostcap.CatalogueEntry(MAIL, "Mail", name, "VSS_CT_DATABASE", True),
            frostcap.CatalogueEntry(DOCUMENTS, "", "Documents", "VSS_CT_FILEGROUP", True)]
        assert list(snap.components()) == catalogue
        assert list(snap.components()) == catalogue, "read afresh, not drained once"
        files = list(snap.files())
        assert "C:\\Documents\\notes.txt" in files and "C:\\Data\\Mail\\mailbox.edb" in files
        assert sorted(snap.excluded_files()) == ["C:\\Documents\\Temp\\notes.autosave.tmp",
                                                 "C:\\Documents\\~lock.tmp"]
        assert list(snap.files()) == files
    assert list((tmp_path / "copies").iterdir()) == [] and sim.host_path(FIRST_COPY) is None
    # Entered once, and read only while held; text with NUL is refused, and so
    # is a trace named after the library was initialised.
    for use, error in ((snap.__enter__, RuntimeError), (snap.files, RuntimeError),
                       (frostcap.Snapshot(volumes=["C:\\\0"]).__enter__, ValueError),
                       (lambda: frostcap.trace_to(tmp_path / "late.jsonl"), RuntimeError)):
        with pytest.raises(error):
            use()


def test_a_failure_while_held_is_a_message_and_the_exception_goes_on(load):
    # Each listing of the files stops at its first GetPath.
    load(lambda s: s.update(faults=[{"call": "GetPath", "status": "0x80042306", "occurrence": n}
                                    for n in (1, 2)]))
    with pytest.raises(KeyError):
        with frostcap.Snapshot(volumes=["C:\\"], components=BOTH_COMPONENTS) as snap:
            assert list(snap.files()) == []
            [raw] = snap.messages(raw=True)
            assert raw.startswith("{WARNING_PREFIX}{ERR_FILE_SET} (IVssWMFiledesc::GetPath: ")
            assert list(snap.messages()) == [], "each message comes once"
            list(snap.excluded_files())
            [rendered] = snap.messages()
            assert rendered.startswith("warning: the list of files could not be completed (")
            raise KeyError("the host's own failure")


# How a held snapshot ends, in a process of its own, and the copies left just
# before that process exits: only a block that ends normally reports success.
# Each process traces its calls from the start.
@pytest.mark.parametrize("ending, copies_before_exit, verdict", [
    ("with snap: pass", 0, "true"),
    ("with contextlib.suppress(KeyError), snap: raise KeyError", 0, "false"),
    ("snap.__enter__(); del snap", 0, "false"),
    ("snap.__enter__().cycle = snap; del snap; gc.collect()", 0, "false"),
    ("snap.__enter__()", 1, "false"),
])
def test_only_a_block_that_ends_normally_reports_success(load, tmp_path, ending,
                                                         copies_before_exit, verdict):
    script = f"""import atexit, contextlib, gc, os, sys
atexit.register(lambda: sim.write_record(sys.argv[1]))  # after the binding's own
import frostcap
from frostcap import sim
frostcap.trace_to(sys.argv[3])
sim.load_scenario(sys.argv[2])
snap = frostcap.Snapshot(volumes=["C:\\\\"], components=[frostcap.{BOTH_COMPONENTS[0]!r}])
{ending}
print(sum(entry.is_dir() for entry in os.scandir(os.environ["TMPDIR"])))"""
    run = subprocess.run([sys.executable, "-c", script, "record", "scenario.json", "trace"],
                         cwd=tmp_path,
                         env=dict(os.environ, PYTHONPATH=Path(frostcap.__file__).parents[1]),
                         capture_output=True, text=True, timeout=60)
    assert run.stdout == f"{copies_before_exit}\n", run.stderr
    record = [json.loads(line) for line in (tmp_path / "record").read_text().splitlines()]
    verdicts = [e["text"].rsplit(",", 1)[1] for e in record if e["call"] == "SetBackupSucceeded"]
    assert verdicts == [verdict + ")"]
    assert record[-1]["call"] == "Release" and list((tmp_path / "copies").iterdir()) == []
    assert json.loads((tmp_path / "trace").read_text().splitlines()[0])["call"] == "Trace"


# Threads sharing a snapshot take turns, the end of the block included: a
# call after it is refused, never made on a freed handle.
def test_threads_sharing_a_snapshot_take_turns(load):
    snap = frostcap.Snapshot(volumes=["C:\\"], components=BOTH_COMPONENTS)
    outcomes = []

    def use(turns):
        try:
            for _ in range(turns):
                outcomes.append((sorted(snap.files()), sorted(snap.excluded_files()),
                                 list(snap.messages())))
        except RuntimeError as refused:
            outcomes.append(str(refused))

    with snap:
        expected = (sorted(snap.files()), sorted(snap.excluded_files()), [])
        threads = [threading.Thread(target=use, args=(100,)) for _ in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        racer = threading.Thread(target=use, args=(10**6,))
        racer.start()
    racer.join()
    assert outcomes[:-1] == [expected] * (len(outcomes) - 1) and len(outcomes) > 200
    assert outcomes[-1].startswith("the snapshot is not held")


def failed_in_part(scenario):
    scenario["writers"][0].update(status="0x80042336", failedComponents=[
        {"name": "Mailbox Database", "status": "0x800423F3", "message": "log disk full"}])


def fault(call, status):
    return lambda scenario: scenario.update(faults=[{"call": call, "status": status}])


WRITER_STATUS = "IVssBackupComponents::GetWriterStatus"


# Each failure as a program sees it: `raw` is one of the messages, then the
# status, the call, the writer and component, the kind and the retry flag.
@pytest.mark.parametrize("change, component, raw, fields", [
    (None, "Nobody",
     "{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}{ERR_NO_COMPONENT} (Path=Mail Name=Nobody))",
     (None, None, None, None, "other", False)),
    (failed_in_part, "Mailbox Database", "{ERR_COMPONENT_CUST}: (Mailbox Database): log disk full",
     (0x80042336, WRITER_STATUS, "Mail Store Writer", "Mailbox Database", "writer_failure", False)),
    (lambda s: s["writers"][0].update(status="0x800423F3"), "Mailbox Database", None,
     (0x800423F3, WRITER_STATUS, "Mail Store Writer", None, "writer_failure", True)),
    (fault("StartSnapshotSet", "0x80042316"), "Mailbox Database", None,
     (0x80042316, "IVssBackupComponents::StartSnapshotSet", None, None, "busy", True)),
    (fault("DoSnapshotSet.Result", "0x8004231F"), "Mailbox Database", None,
     (0x8004231F, "IVssBackupComponents::DoSnapshotSet", None, None, "other", False)),
    (fault("InitializeForBackup", "0x80070005"), "Mailbox Database",
     "{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({WARNING_PREFIX}{ERR_NO_PERMISSION})",
     (0x80070005, None, None, None, "access_denied", False)),
    (fault("AddToSnapshotSet", "0x8004230C"), "Mailbox Database", None,
     (0x8004230C, "IVssBackupComponents::AddToSnapshotSet", None, None, "unsupported_volume",
      False)),
    (fault("CreateVssBackupComponents", "0x80004001"), "Mailbox Database", None,
     (0x80004001, None, None, None, "other", False)),
])
def test_a_failed_phase_releases_the_backup_and_says_what_failed(load, tmp_path, change, component,
                                                                 raw, fields):
    load(change)
    with pytest.raises(frostcap.SnapshotError) as failure:
        with frostcap.Snapshot(volumes=["C:\\"], components=[
                Component("database", MAIL, "Mail", component)]):
            pytest.fail("the block runs only when the snapshot was taken")
    error = failure.value
    assert raw is None or raw in error.messages, error.messages
    assert str(error) == "\n".join(map(frostcap.render_message, error.messages))
    got = (error.status, error.label, error.writer, error.component, error.kind, error.retryable)
    assert got == fields, error.messages
    # The backup object is released, when one was made.
    calls = [entry.call for entry in sim.record()]
    made = "InitializeForBackup" in calls
    assert calls[-1] == ("Release" if made else "CreateVssBackupComponents")
    assert list((tmp_path / "copies").iterdir()) == []


# Every error of the binding is a frostcap.Error; a malformed id is refused
# where it is given, named, before any library is loaded.
@pytest.mark.parametrize("make, kind, text", [
    (lambda: Component("database", "5D1A2C40", "Mail", "Db"), frostcap.InvalidIdError,
     "the writer id of component 'Db' '5D1A2C40' is not a GUID"),
    (lambda: frostcap.Snapshot(writers=[MAIL, "{mail}"], library="/nowhere/libfrostcap.so"),
     frostcap.InvalidIdError, "writer id '{mail}' is not a GUID"),
    (lambda: frostcap.load_library("/nowhere/libfrostcap.so"), frostcap.LibraryError,
     "/nowhere/libfrostcap.so: cannot be loaded"),
    (lambda: sim.load_scenario("/nowhere/scenario.json"), sim.ScenarioError,
     "/nowhere/scenario.json"),
])
def test_every_error_is_a_frostcap_error(make, kind, text):
    with pytest.raises(kind) as failure:
        make()
    assert isinstance(failure.value, frostcap.Error) and text in str(failure.value)
    invalid = kind is frostcap.InvalidIdError
    assert (failure.value.status, failure.value.kind) == (
        (0x80070057, "invalid_argument") if invalid else (None, "other"))
    assert isinstance(failure.value, ValueError) == invalid and not failure.value.retryable


def test_network_paths_are_told_apart():
    paths = ["\\\\server\\share", "C:\\", ""]
    assert [frostcap.is_network_path(path) for path in paths] == [True, False, False]


@pytest.mark.parametrize("message, text", [
    ("{FATAL_PREFIX}{ERR_NO_VOLUMES}",
     "error: there is nothing to copy: no volume and no writer was chosen"),
    ("{WARNING_PREFIX} (X: 0x1)", "warning (X: 0x1)"),
    ("{ERR_COMPONENT_APP}: (Db): 0x5", "a component failed in its application: (Db): 0x5"),
    ("{FATAL_PREFIX}{ERR_UNKNOWN} {open", "error{ERR_UNKNOWN} {open"),
])
def test_rendering_replaces_known_tokens_only(message, text):
    assert frostcap.render_message(message) == text


def test_the_library_is_found_beside_the_package(tmp_path):
    package = Path(frostcap.__file__).parent
    shutil.copytree(package, tmp_path / "frostcap", ignore=shutil.ignore_patterns("__pycache__"))
    shutil.copy(frostcap.load_library().path, tmp_path / "frostcap" / "libfrostcap-sim.so")
    environment = {k: v for k, v in os.environ.items() if k != "FROSTCAP_LIBRARY"}
    found = subprocess.run(
        [sys.executable, "-c", "import frostcap.sim as s; print(s.load_library().path)"],
        cwd=tmp_path, env=dict(environment, PYTHONPATH=str(tmp_path)), capture_output=True,
        text=True, timeout=60)
    assert found.stdout.strip() == str(tmp_path / "frostcap" / "libfrostcap-sim.so"), found.stderr
