"""Runs traced under Wine (traces/, kept true by replay_under_wine.cmake),
replayed natively: the scenario frostcap-sim makes of a trace, served to the
native frostcap with the run's arguments, gives the same output and the same
calls as the run that was traced; and the tool's exit codes."""

import json
import os
import subprocess
from pathlib import Path

import pytest

FROSTCAP = os.environ["FROSTCAP_BIN"]
TOOL = os.environ["FROSTCAP_SIM_TOOL"]
EXAMPLES = Path(os.environ["FROSTCAP_EXAMPLES_DIR"])
TRACES = Path(__file__).parent / "traces"
CASES = json.loads((TRACES / "cases.json").read_text())


def run(*args, **kwargs):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=60,
                          **kwargs)


@pytest.mark.parametrize("name", sorted(CASES))
def test_a_trace_replayed_gives_the_calls_and_output_of_the_traced_run(tmp_path, name):
    case = CASES[name]
    trace = TRACES / f"{name}.trace.jsonl"
    scenario = tmp_path / "scenario.json"
    made = run(TOOL, "scenario", trace, "-o", scenario, "--volume", f"C:\\={EXAMPLES / 'volume'}")
    assert made.returncode == 0, made.stderr

    (tmp_path / "copies").mkdir()
    replayed = tmp_path / "replay.jsonl"
    replay = run(FROSTCAP, "--scenario", scenario, "--trace", replayed, *case["arguments"],
                 "--exec", "true", env=dict(os.environ, TMPDIR=str(tmp_path / "copies")))
    assert replay.returncode == case["exitCode"], replay.stderr
    # Wine lists each directory sorted, Linux in the file system's order.
    errors = [line for line in replay.stderr.splitlines() if line.startswith("error: ")]
    traced = (TRACES / f"{name}.out").read_text()
    assert sorted(replay.stdout.splitlines() + errors) == sorted(traced.splitlines())

    compared = run(TOOL, "compare", trace, replayed)
    assert (compared.returncode, compared.stdout.endswith("calls agree\n")) == (0, True), \
        compared.stdout


def test_the_tool_exits_1_on_a_difference_and_2_on_what_it_cannot_read(tmp_path):
    trace = TRACES / "example.trace.jsonl"
    lines = trace.read_text().splitlines()
    shorter = tmp_path / "shorter.jsonl"
    shorter.write_text("\n".join(lines[:-1]) + "\n")
    broken = tmp_path / "broken.jsonl"
    broken.write_text(lines[0] + "\n{\"call\":\"GetPath\"\n")
    cases = [
        ((TOOL, "compare", trace, shorter), 1, f"{shorter} ends after"),
        ((TOOL, "compare", trace, broken), 2, f"{broken}:2: not a JSON object"),
        ((TOOL, "scenario", trace, "--run", "9"), 2, "no run 9"),
        ((TOOL, "scenario", trace, "--volume", "C:\\"), 2, "expected NAME=DIR"),
        ((TOOL, "frobnicate"), 2, ""),
    ]
    for args, code, message in cases:
        result = run(*args)
        assert result.returncode == code, (args, result.stdout, result.stderr)
        assert message in result.stdout + result.stderr, (args, result.stdout, result.stderr)
