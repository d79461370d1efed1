"""The binding and the documentation kept in step with the C sources."""

import re
import tomllib
from pathlib import Path

import frostcap
from frostcap import _library

ROOT = Path(__file__).resolve().parents[3]
EXPORTS = re.findall(r"^\s+(frostcap_\w+)", (ROOT / "src/frostcap.def").read_text(), re.M)
SIM_FUNCTIONS = re.findall(r"^FROSTCAP_API [^(]*\b(frostcap_sim_\w+)\(",
                           (ROOT / "include/frostcap_sim.h").read_text(), re.M)


def test_the_package_version_is_the_library_version():
    header = re.search(r'#define FROSTCAP_VERSION "([^"]+)"',
                       (ROOT / "include/frostcap.h").read_text()).group(1)
    with open(ROOT / "bindings/python/pyproject.toml", "rb") as file:
        project = tomllib.load(file)["project"]
    assert project["version"] == frostcap.__version__ == header


def test_the_binding_declares_every_export_and_nothing_else():
    assert len(EXPORTS) == 19 and len(SIM_FUNCTIONS) >= 5
    assert sorted(_library._SIGNATURES) == sorted(EXPORTS)
    assert sorted(_library._SIMULATOR_SIGNATURES) == sorted(SIM_FUNCTIONS)


def test_every_function_has_a_heading_in_the_api_guide():
    headings = "\n".join(line for line in (ROOT / "docs/api.md").read_text().splitlines()
                         if line.startswith("#"))
    missing = [name for name in EXPORTS + SIM_FUNCTIONS if f"`{name}`" not in headings]
    assert missing == []


def test_the_messages_guide_lists_the_status_classes():
    source = re.findall(r'^FROSTCAP_STATUS_CLASS\((0x[0-9A-F]{8}), "(\w+)", (\w+), (true|false)\)$',
                        (ROOT / "bindings/status_classes.inc").read_text(), re.M)
    listed = re.findall(r"^\| `(0x[0-9A-F]{8})` \| `(\w+)` \| ([a-z ]+) \| (yes|no) \|$",
                        (ROOT / "docs/messages.md").read_text(), re.M)
    assert len(source) >= 20
    assert listed == [(code, name, kind.replace("_", " "), "yes" if retry == "true" else "no")
                      for code, name, kind, retry in source]
    assert {int(code, 16): frostcap.status_class(int(code, 16)) for code, *_ in source} == {
        int(code, 16): (name, kind, retry == "true") for code, name, kind, retry in source}
