"""The binding end to end over libfrostcap-sim: the scenarios of the frostcap
command's own end-to-end tests, driven through frostcap.Snapshot."""

import copy
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import frostcap
from frostcap import Component, sim

EXAMPLES = Path(os.environ.get("FROSTCAP_EXAMPLES_DIR", Path(__file__).parents[3] / "examples"))
MAIL = "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}"
DOCUMENTS = "{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}"
MAILBOX = Component("database", MAIL, "Mail", "Mailbox Database")
BOTH_COMPONENTS = [MAILBOX, Component("filegroup", DOCUMENTS, "", "Documents")]
FIRST_COPY = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\"


@pytest.fixture
def world(tmp_path, monkeypatch):
    """The example scenario loaded over a private copy of its volume, and a
    private temporary directory for the simulated service's copies."""
    shutil.copytree(EXAMPLES / "volume", tmp_path / "volume")
    (tmp_path / "copies").mkdir()
    # The service asks for the temporary directory each time it makes a copy,
    # and os.environ writes through to the process's environment.
    monkeypatch.setenv("TMPDIR", str(tmp_path / "copies"))

    class World:
        live = tmp_path / "volume"
        copies = tmp_path / "copies"
        data = json.loads((EXAMPLES / "two-writers.json").read_text())

        def load(self, scenario=None):
            path = tmp_path / "scenario.json"
            path.write_text(json.dumps(scenario or self.data))
            sim.load_scenario(path)

        def with_changes(self, **members):
            scenario = copy.deepcopy(self.data)
            for key, value in members.items():
                scenario[key] = value
            self.load(scenario)
            return scenario

        def calls(self, name):
            return [entry.text for entry in sim.record() if entry.call == name]

    world = World()
    world.load()
    yield world
    sim.unload()


def test_a_snapshot_holds_its_copies_until_the_block_ends_and_succeeds(world):
    with frostcap.Snapshot(volumes=["C:\\"], components=BOTH_COMPONENTS) as snap:
        assert list(snap.mount_paths()) == [FIRST_COPY]
        copy_dir = sim.host_path(FIRST_COPY)
        assert copy_dir.parent == world.copies
        assert (copy_dir / "Data" / "Mail" / "mailbox.edb").is_file()
        assert list(snap.messages()) == []
    verdicts = world.calls("SetBackupSucceeded")
    assert len(verdicts) == 2 and all(v.endswith(",true)") for v in verdicts)
    assert sim.record()[-1].call == "Release"
    assert list(world.copies.iterdir()) == [] and sim.host_path(FIRST_COPY) is None


def test_an_exception_in_the_block_fails_the_backup_and_goes_on(world):
    with pytest.raises(KeyError):
        with frostcap.Snapshot(volumes=["C:\\"], components=BOTH_COMPONENTS):
            raise KeyError("the host's own failure")
    verdicts = world.calls("SetBackupSucceeded")
    assert len(verdicts) == 2 and all(v.endswith(",false)") for v in verdicts)
    assert list(world.copies.iterdir()) == []


@pytest.mark.parametrize("component, expected", [
    (Component("database", MAIL, "Mail", "Nobody"), "(Path=Mail Name=Nobody)"),
    (Component("database", MAIL, "Archive", "Mailbox Database"),
     "(Path=Archive Name=Mailbox Database)"),
])
def test_a_missing_component_fails_the_preparation_with_the_names_given(world, component,
                                                                        expected):
    with pytest.raises(frostcap.SnapshotError) as failure:
        with frostcap.Snapshot(volumes=["C:\\"], components=[component]):
            pytest.fail("the block runs only when the snapshot was taken")
    assert failure.value.messages == [
        f"{{FATAL_PREFIX}}{{ERR_TAKE_SNAPSHOT}} ({{FATAL_PREFIX}}{{ERR_NO_COMPONENT}} {expected})"]
    assert str(failure.value) == ("error: the shadow copies could not be made (error: a chosen "
                                  f"component is not among its writer's components {expected})")
    assert world.calls("DoSnapshotSet") == [] and sim.record()[-1].call == "Release"


def test_a_component_found_under_its_fallback_path_is_backed_up(world):
    fallback = Component("database", MAIL, "Archive", "Mailbox Database", "Mail")
    with frostcap.Snapshot(volumes=["C:\\"], components=[fallback]):
        pass
    assert world.calls("AddComponent")[0].endswith(",1,Mail,Mailbox Database)")
    assert world.calls("SetBackupSucceeded")[0].endswith(",true)")


def test_a_writer_failed_in_part_reports_its_components(world):
    scenario = copy.deepcopy(world.data)
    scenario["writers"][0]["status"] = "0x80042336"
    scenario["writers"][0]["failedComponents"] = [
        {"name": "Mailbox Database", "status": "0x800423F3", "message": "log disk full"}]
    world.load(scenario)
    with pytest.raises(frostcap.SnapshotError) as failure:
        with frostcap.Snapshot(volumes=["C:\\"], components=BOTH_COMPONENTS):
            pass
    raw = failure.value.messages
    assert any(m.startswith("{ERR_COMPONENT_VSS}: (Mailbox Database): 0x800423f3: ") for m in raw)
    assert "{ERR_COMPONENT_CUST}: (Mailbox Database): log disk full" in raw
    assert any("GetWriterStatus(Mail Store Writer): 0x80042336: " in m for m in raw)
    assert ("a component's writer reported a failure: (Mailbox Database): log disk full"
            in str(failure.value).splitlines())
    assert list(world.copies.iterdir()) == []


def test_a_failing_snapshot_creation_is_reported_in_plain_words(world):
    world.with_changes(faults=[{"call": "DoSnapshotSet", "status": "0x80042306"}])
    with pytest.raises(frostcap.SnapshotError) as failure:
        with frostcap.Snapshot(volumes=["C:\\"]):
            pass
    assert re.fullmatch(r"error: the shadow copies could not be made "
                        r"\(IVssBackupComponents::DoSnapshotSet: 0x80042306: .+\)",
                        str(failure.value)), str(failure.value)
    assert sim.record()[-1].call == "Release" and list(world.copies.iterdir()) == []


def test_the_catalogue_is_parsed_into_records(world):
    with frostcap.Snapshot(volumes=["C:\\"], writers=[MAIL, DOCUMENTS]) as snap:
        assert list(snap.components()) == [
            frostcap.CatalogueEntry(MAIL, "Mail", "Mailbox Database", "VSS_CT_DATABASE", True),
            frostcap.CatalogueEntry(DOCUMENTS, "", "Documents", "VSS_CT_FILEGROUP", True)]
        # Read afresh each time, not drained once.
        assert len(list(snap.components())) == 2


def test_files_are_searched_inside_the_copy_but_named_by_live_paths(world):
    # Named pipes are not copied: one on the live volume tells where the
    # search ran; so does a file written after the snapshot.
    os.mkfifo(world.live / "Documents" / "pipe")
    with frostcap.Snapshot(volumes=["C:\\"], components=BOTH_COMPONENTS) as snap:
        (world.live / "Documents" / "late.txt").write_text("late")
        files = list(snap.files())
        assert "C:\\Documents\\notes.txt" in files and "C:\\Data\\Mail\\mailbox.edb" in files
        assert "C:\\Documents\\pipe" not in files and "C:\\Documents\\late.txt" not in files
        assert sorted(snap.excluded_files()) == ["C:\\Documents\\Temp\\notes.autosave.tmp",
                                                 "C:\\Documents\\~lock.tmp"]
        assert list(snap.files()) == files


def test_messages_come_rendered_or_raw_and_each_once(world):
    # Each listing of the files stops at its first GetPath.
    world.with_changes(faults=[{"call": "GetPath", "status": "0x80042306", "occurrence": n}
                               for n in (1, 2)])
    with frostcap.Snapshot(volumes=["C:\\"], components=BOTH_COMPONENTS) as snap:
        assert list(snap.files()) == []
        [raw] = snap.messages(raw=True)
        assert raw.startswith("{WARNING_PREFIX}{ERR_FILE_SET} (IVssWMFiledesc::GetPath: ")
        assert list(snap.messages()) == []
        list(snap.excluded_files())
        [rendered] = snap.messages()
        assert rendered.startswith("warning: the list of files could not be completed (")


def test_a_bad_scenario_names_the_place_and_keeps_the_loaded_one(world, tmp_path):
    bad = tmp_path / "bad.json"
    bad.write_text('{"writers": [{"classId": "nope"}]}')
    with pytest.raises(sim.ScenarioError, match=r"bad\.json: /writers/0/classId: expected a GUID"):
        sim.load_scenario(bad)
    with frostcap.Snapshot(volumes=["C:\\"]) as snap:
        assert list(snap.mount_paths()) == [FIRST_COPY]
    written = tmp_path / "record.jsonl"
    sim.write_record(written)
    lines = [json.loads(line) for line in written.read_text().splitlines()]
    assert [sim.RecordEntry(**line) for line in lines] == sim.record()


def test_without_a_scenario_the_service_cannot_be_reached(world):
    sim.unload()
    assert sim.record() == [] and sim.host_path("C:\\") is None
    with pytest.raises(frostcap.SnapshotError, match=r"^error: the shadow copy service could "
                                                     r"not be reached \(0x80004001: "):
        frostcap.Snapshot(volumes=["C:\\"]).__enter__()


def test_text_reaches_the_library_and_returns_as_utf16(world):
    # A volume name outside the basic plane survives the round trip through
    # the library's UTF-16 strings.
    scenario = copy.deepcopy(world.data)
    scenario["volumes"] = [{"name": "D:\\Données-🧊\\", "directory": "volume"}]
    world.load(scenario)
    with frostcap.Snapshot(volumes=["D:\\Données-🧊\\"]) as snap:
        assert list(snap.mount_paths()) == [FIRST_COPY]
    with pytest.raises(ValueError):
        frostcap.Snapshot(volumes=["C:\\\0"]).__enter__()


@pytest.mark.parametrize("path, network", [
    ("\\\\server\\share", True), ("C:\\", False), ("", False)])
def test_network_paths_are_told_apart(path, network):
    assert frostcap.is_network_path(path) is network


@pytest.mark.parametrize("message, text", [
    ("{FATAL_PREFIX}{ERR_NO_VOLUMES}",
     "error: there is nothing to copy: no volume and no writer was chosen"),
    ("{WARNING_PREFIX} (X: 0x1)", "warning (X: 0x1)"),
    ("{ERR_COMPONENT_APP}: (Db): 0x5", "a component failed in its application: (Db): 0x5"),
    ("{FATAL_PREFIX}{ERR_UNKNOWN} {open", "error{ERR_UNKNOWN} {open"),
])
def test_rendering_replaces_known_tokens_only(message, text):
    assert frostcap.render_message(message) == text


def test_a_snapshot_is_entered_once_and_read_only_while_held(world):
    snap = frostcap.Snapshot(volumes=["C:\\"])
    with snap:
        pass
    with pytest.raises(RuntimeError):
        snap.__enter__()
    with pytest.raises(RuntimeError):
        snap.files()


def test_the_library_is_found_by_argument_and_beside_the_package(tmp_path):
    plain = os.environ.get("FROSTCAP_PLAIN_LIBRARY")
    if plain:
        # The shipped library has no simulated service behind it.
        with pytest.raises(frostcap.SnapshotError, match="could not be reached"):
            frostcap.Snapshot(volumes=["C:\\"], library=plain).__enter__()
        with pytest.raises(frostcap.LibraryError, match="simulated service"):
            sim.record(library=plain)
    package = Path(frostcap.__file__).parent
    shutil.copytree(package, tmp_path / "frostcap", ignore=shutil.ignore_patterns("__pycache__"))
    shutil.copy(frostcap.load_library().path, tmp_path / "frostcap" / "libfrostcap-sim.so")
    environment = {k: v for k, v in os.environ.items() if k != "FROSTCAP_LIBRARY"}
    found = subprocess.run(
        [sys.executable, "-c", "import frostcap.sim as s; print(s.load_library().path)"],
        cwd=tmp_path, env=dict(environment, PYTHONPATH=str(tmp_path)), capture_output=True,
        text=True, timeout=60)
    assert found.stdout.strip() == str(tmp_path / "frostcap" / "libfrostcap-sim.so"), found.stderr
