#!/usr/bin/env bash
# Plays a typical requester's steps under Wine over the model's vssapi.dll,
# each step a process of its own over the example scenario. A step passes when
# it exits as it should, prints what it should, and its record holds the calls
# the step makes, no Misuse, no Breach, and a last ledger of all zeros.
#
#   run_steps.sh --wine WINE --work DIR --examples DIR --requester EXE --vssapi DLL --lister EXE
#
# The Wine environment (WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES) comes from
# the caller.
set -euo pipefail

while (($#)); do
  case $1 in
    --wine) wine=$2 ;;
    --work) work=$2 ;;
    --examples) examples=$2 ;;
    --requester) requester=$2 ;;
    --vssapi) vssapi=$2 ;;
    --lister) lister=$2 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
  shift 2
done

# What the model cannot answer yet, one line per step, with the reason. Such a
# step is reported and its failure tolerated; once it passes, it is reported
# as passing unexpectedly, so that its line here goes.
declare -A expected_failure=()

here=$(cd "$(dirname "$0")" && pwd)

# Wine's Z: drive is this host's root.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

rm -rf "$work"
mkdir -p "$work"
cp "$requester" "$work/requester.exe"
cp "$vssapi" "$lister" "$work/"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}vssapi=n"
export FROSTCAP_SIM_SCENARIO FROSTCAP_SIM_RECORD
FROSTCAP_SIM_SCENARIO=$(windows_path "$examples/two-writers.json")

failures=0 balanced='Ledger(objects=0,componentInfo=0,snapshotProperties=0,strings=0)'

# [also=CHECK] step NAME STATUS OUTPUT-REGEX RECORD CALL... -- ARGUMENT...
# Runs the requester with the arguments, the record in RECORD (steps that
# share a run of the model share it), and keeps this step's output and a
# copy of the record as it stands after the step under NAME. CHECK is a
# further command the step must pass.
step() {
  local name=$1 expected=$2 output=$3 record=$4 calls=() problems=() status=0
  shift 4
  while [[ $1 != -- ]]; do calls+=("$1"); shift; done
  shift
  FROSTCAP_SIM_RECORD=$(windows_path "$work/$record")
  # Output to files, not pipes, which the wineserver would hold open.
  (cd "$work" && "$wine" requester.exe "$@" >"$name.crlf" 2>"$name.err") || status=$?
  tr -d '\r' <"$work/$name.crlf" >"$work/$name.out"
  tr -d '\r' <"$work/$name.err" >"$work/$name.errors"
  cp "$work/$record" "$work/$name.jsonl" 2>/dev/null || : >"$work/$name.jsonl"
  local log=$work/$name.jsonl
  # What must hold whether the step succeeds or not.
  local alarms=()
  [[ -s $log ]] || alarms+=("no record")
  while read -r line; do alarms+=("record: $line"); done < <(grep -E '"call":"(Misuse|Breach)"' "$log" || :)
  local ledger
  ledger=$(grep -o '"text":"Ledger([^"]*' "$log" | tail -n 1 | cut -d'"' -f4 || :)
  [[ $ledger == "$balanced" ]] || alarms+=("last ledger: ${ledger:-none}")
  # What the step is for.
  ((status == expected)) || problems+=("exit status $status, not $expected: $(cat "$work/$name.errors")")
  [[ -z $output ]] || cat "$work/$name.out" "$work/$name.errors" | grep -Eq -- "$output" ||
    problems+=("no line of the output matches $output")
  [[ -z ${also:-} ]] || $also || problems+=("$also fails")
  for call in "${calls[@]}"; do
    grep -q "\"call\":\"[^\"]*$call\"" "$log" || problems+=("the record has no $call")
  done
  # Calls the model does not implement, as the record shows them.
  grep -E '0x80004001|E_NOTIMPL' "$log" | sed 's/^/  not implemented: /' || :

  local reason=${expected_failure[$name]:-}
  if ((${#alarms[@]} == 0 && ${#problems[@]} == 0)) && [[ -z $reason ]]; then
    echo "PASS $name"
  elif ((${#alarms[@]} == 0 && ${#problems[@]} == 0)); then
    echo "FAIL $name: passes, but is listed as an expected failure ($reason)"
    failures=$((failures + 1))
  elif ((${#alarms[@]} == 0)) && [[ -n $reason ]]; then
    echo "XFAIL $name ($reason)"
    printf '  %s\n' "${problems[@]}"
  else
    echo "FAIL $name"
    printf '  %s\n' "${alarms[@]}" "${problems[@]}"
    sed 's/^/  | /' "$work/$name.out" | tail -n 20
    failures=$((failures + 1))
  fi
}

metadata_calls=(GatherWriterMetadata GetIdentity GetRestoreMethod GetAlternateLocation GetBackupSchema
  GetFileCounts GetExcludeFile GetComponentInfo GetDatabaseFile GetDatabaseLogFile SaveAsXML)
backup_calls=(GatherWriterMetadata AddComponent SetBackupState StartSnapshotSet AddToSnapshotSet
  PrepareForBackup DoSnapshotSet GetSnapshotProperties Query GatherWriterStatus GetWriterComponents
  SetBackupSucceeded BackupComplete SaveAsXML)
created_calls=(SetContext StartSnapshotSet AddToSnapshotSet DoSnapshotSet GetSnapshotProperties Query)

# The metadata over a scenario of its own that declares what a restore needs.
metadata_shows_alternates() {
  grep -qxF '    mapping C:\Data\Mail *.edb alternate "D:\Restore\Mail"' "$work/metadata.out" &&
    grep -qxF '    file C:\Data\Mail\Logs *.chk alternate "D:\Restore\Logs"' "$work/metadata.out"
}
also=metadata_shows_alternates FROSTCAP_SIM_SCENARIO=$(windows_path "$here/restore.json") \
  step metadata 0 '^writer "Mail Store Writer" .* restore method 4 service "MailStore" writer restore 3 reboot 0 mappings 1 schema 0x3$' \
  metadata.record "${metadata_calls[@]}" GetAlternateLocationMapping -- metadata
well_formed_xml() { /usr/bin/python3 -c 'import sys, xml.dom.minidom as m; m.parse(sys.argv[1])' "$work/$1" 2>/dev/null; }
also='well_formed_xml backup.xml' step backup 0 '^document: .*"Mailbox Database"' backup.record \
  "${backup_calls[@]}" -- backup --save backup.xml "Mail Store Writer" "Document Writer"
step hold 0 '^\./Documents/notes\.txt$' hold.record "${backup_calls[@]}" -- \
  backup --guid --exec 'cmd /c list_files.exe %REQUESTER_DEVICE%' "Document Writer"
# A command that fails makes a failed backup, and the writers are told so.
writers_told_failure() { grep -q '"text":"SetBackupSucceeded([^"]*,false)"' "$work/hold-fails.jsonl"; }
also=writers_told_failure step hold-fails 1 '^requester: the command failed while the copy existed$' \
  hold-fails.record SetBackupSucceeded BackupComplete -- backup --exec 'cmd /c exit 3' "Document Writer"
step no-writers 0 '^copy .* at \\\\\?\\GLOBALROOT' no-writers.record "${created_calls[@]}" -- no-writers --guid

# A persistent copy outlives its process: another one lists it and deletes it,
# and a third no longer finds it.
step persistent 0 '^persistent copy \{' persistent.record "${created_calls[@]}" -- persistent
id=$(grep -o '^persistent copy {[^}]*}' "$work/persistent.out" | cut -d' ' -f3 || :)
step query 0 "^listed ${id:-none} " persistent.record SetContext Query -- query "${id:-none}"
step delete 0 '^deleted 1 ' persistent.record SetContext DeleteSnapshots -- delete "${id:-none}"
step query-deleted 3 '' persistent.record Query -- query "${id:-none}"

# The field failures of examples/field, each met by a backup of the mail
# store writer that reads the copy: scenario, exit status, how often the copy
# is read (twice: again three seconds on, after copy-vanishes.json has let it
# go two seconds after it was made; on a slow machine the requester may meet
# it gone before), and a line the requester prints. Delays are cut to a second.
field_cases=(
  'set-in-progress|0|once|^requester: StartSnapshotSet failed: 0x80042316; trying again$'
  'no-device|1|once|^requester: the new copy has no device path$'
  'writer-veto|1|once|^requester: PrepareForBackup \(its result\) failed: 0x800423F3$'
  'copy-vanishes|1|twice|^requester: (the command failed while the copy existed|GetSnapshotProperties failed: 0x80042308|Query does not list the new copy)$'
  'slow-metadata|0|once|^\./Data/Mail/mailbox\.edb$'
  'access-denied|1|once|^requester: CreateVssBackupComponents failed: 0x80070005$'
  'strict-server|0|once|^\./Data/Mail/mailbox\.edb$'
  'service-disabled|1|once|^requester: CreateVssBackupComponents failed: 0x80070422$'
  'unsupported-volume|1|once|^requester: AddToSnapshotSet\(.+\) failed: 0x8004230C$'
  'writes-timeout|1|once|^requester: DoSnapshotSet \(its result\) failed: 0x80042313$'
  'stuck-provider|0|once|^\./Data/Mail/mailbox\.edb$'
)
if [[ -d $examples/field ]]; then
  mkdir -p "$work/field"
  ln -s "$examples/volume" "$work/volume"
  for scenario in "$examples"/field/*.json; do
    sed -E 's/"delay": *[0-9]+/"delay": 1000/' "$scenario" >"$work/field/${scenario##*/}"
  done
  declare -A reading=([once]='cmd /c list_files.exe %REQUESTER_DEVICE%')
  reading[twice]="${reading[once]} & ping -n 4 127.0.0.1 >nul & list_files.exe %REQUESTER_DEVICE%"
  for case in "${field_cases[@]}"; do
    IFS='|' read -r scenario status reads output <<<"$case"
    FROSTCAP_SIM_SCENARIO=$(windows_path "$work/field/$scenario.json") \
      step "field-$scenario" "$status" "$output" "$scenario.record" -- \
      backup --exec "${reading[$reads]}" "Mail Store Writer"
  done
else
  echo "FAIL field: there is no $examples/field"
  failures=$((failures + 1))
fi

"${WINESERVER:-wineserver}" -w 2>/dev/null || :
((failures == 0)) || { echo "$failures step(s) failed; outputs and records are in $work" >&2; exit 1; }
