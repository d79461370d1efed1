#!/usr/bin/env bash
# Runs a Windows host under Wine as a host is deployed: the program in a
# directory of its own with the library beside it as frostcap.dll, and any
# further DLLs the run needs next to it. The host takes a snapshot over the
# example scenario, which FROSTCAP_SIM_SCENARIO names, and the service's
# record ends up in FROSTCAP_SIM_RECORD (written by the host over
# frostcap-sim, by the service model otherwise). The run passes when the
# program exits 0, its output has a line matching --expect, and the record
# shows every component reported to its writer as backed up.
#
#   run_on_wine.sh --work DIR --wine WINE --examples DIR --dll-dir DIR --dll-name NAME
#       [--extra-dll NAME]... [--overrides SPEC] --expect REGEX -- PROGRAM [ARGS...]
#
# The Wine environment (WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES) comes from
# the caller; --overrides is appended to its WINEDLLOVERRIDES.
set -euo pipefail

extra_dlls=() overrides=""
while [[ $1 != -- ]]; do
  case $1 in
    --work) work=$2 ;;
    --wine) wine=$2 ;;
    --examples) examples=$2 ;;
    --dll-dir) dll_dir=$2 ;;
    --dll-name) dll_name=$2 ;;
    --extra-dll) extra_dlls+=("$2") ;;
    --overrides) overrides=$2 ;;
    --expect) expect=$2 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
  shift 2
done
shift
program=$1
shift

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Wine's Z: drive is this host's root.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

rm -rf "$work"
mkdir -p "$work"
cp "$program" "$work/"
cp "$dll_dir/$dll_name" "$work/frostcap.dll"
for dll in "${extra_dlls[@]}"; do cp "$dll_dir/$dll" "$work/"; done
[[ -n $overrides ]] && export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}$overrides"
export FROSTCAP_EXAMPLES_DIR FROSTCAP_SIM_SCENARIO FROSTCAP_SIM_RECORD
FROSTCAP_EXAMPLES_DIR=$(windows_path "$examples")
FROSTCAP_SIM_SCENARIO=$(windows_path "$examples/two-writers.json")
FROSTCAP_SIM_RECORD=$(windows_path "$work/record.jsonl")

# Output to files, not pipes, which the wineserver would hold open.
status=0
(cd "$work" && "$wine" "$work/$(basename "$program")" "$@" >output.crlf 2>errors.txt) || status=$?
tr -d '\r' <"$work/output.crlf" >"$work/output.txt"
cat "$work/output.txt"
((status == 0)) || fail "$(basename "$program") exited with $status ($(cat "$work/errors.txt"))"
grep -Eq -- "$expect" "$work/output.txt" || fail "no line of the output matches $expect"

[[ -f $work/record.jsonl ]] || fail "the service's record was not written"
verdicts=$(grep -o '"text":"SetBackupSucceeded([^"]*' "$work/record.jsonl" | grep -o '[a-z]*)$' | tr -d ')' |
  sort | uniq -c | xargs)
[[ $verdicts =~ ^[0-9]+\ true$ ]] || fail "the writers were told: ${verdicts:-nothing}"
echo "writers told: $verdicts"
