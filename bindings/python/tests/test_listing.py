"""Listings a backup can use: the shared table of live paths and their places
inside the copies, and a snapshot of three volumes (one mounted in a folder of
another) listed, marked, less its exclusions and walked inside the copies."""

import json
from pathlib import Path

import pytest

import frostcap
from frostcap import Component, sim

LISTING = Path(__file__).parents[3] / "tests" / "listing"
TABLE = json.loads((LISTING / "copy_paths.json").read_text())


@pytest.mark.parametrize("live, inside", TABLE["cases"])
def test_a_live_path_is_found_inside_the_copy_of_its_volume(live, inside):
    assert frostcap.copy_path(live, TABLE["volumes"], TABLE["mountPaths"]) == inside


@pytest.mark.parametrize("exclude, walk", [(False, False), (True, False), (True, True)])
def test_a_listing_marks_directories_subtracts_exclusions_and_walks_the_copy(
        tmp_path, monkeypatch, exclude, walk):
    monkeypatch.setenv("TMPDIR", str(tmp_path))
    sim.load_scenario(LISTING / "two-volumes.json")
    everything = Component("filegroup", "{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}", "", "Everything")
    try:
        # The library searches a path in the copy of the first volume it
        # begins with: a volume mounted in a folder comes before its parent.
        with frostcap.Snapshot(volumes=["C:\\Mounted\\", "C:\\", "D:\\"],
                               components=[everything]) as snap:
            copies = list(snap.mount_paths())
            entries = list(snap.listing(exclude=exclude, walk=walk))
            assert snap.copy_path("c:\\mounted\\Logs") == copies[0] + "Logs"
            # What the listing names is there, inside the copy it names.
            for entry in entries:
                assert sim.host_path(entry.copy_path).is_dir() == entry.is_directory
    finally:
        sim.unload()
    listed = {entry.path: entry for entry in entries}
    directories = {path for path, entry in listed.items() if entry.is_directory}
    assert listed["C:\\Mounted\\Logs\\E01.log"].copy_path == copies[0] + "Logs\\E01.log"
    assert listed["D:\\Archive\\b.txt"].copy_path == copies[2] + "Archive\\b.txt"
    assert "C:\\Mounted\\Logs\\E01.chk" not in listed
    excluded = {"C:\\Documents\\~lock.tmp", "C:\\Documents\\Temp\\notes.autosave.tmp"}
    below = {"C:\\Documents\\Reports\\q1.txt", "D:\\Archive\\2026\\a.txt"}
    assert directories == {"C:\\Documents\\Reports", "C:\\Documents\\Temp", "D:\\Archive\\2026"}
    # Walking Temp would find its excluded file: subtracted there too.
    assert excluded.isdisjoint(listed) == exclude
    assert below <= set(listed) if walk else below.isdisjoint(listed)
