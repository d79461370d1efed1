#!/usr/bin/env bash
# The main job: builds the frostcap command and takes a snapshot with it over
# the bundled example (two writers on one volume, served by the simulated
# shadow copy service), listing the writers' components and files and running
# a command that lists the shadow copy while it exists.
#
#   scripts/run-example.sh             natively: frostcap with the model linked in
#   scripts/run-example.sh --windows   frostcap.exe and frostcap.dll, unmodified,
#                                      under Wine over the model's vssapi.dll
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

mail='{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}'
documents='{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}'

if [[ ${1:-} != --windows ]]; then
  install_missing cmake ninja-build g++ googletest nlohmann-json3-dev libcli11-dev
  cmake --preset native >/dev/null
  cmake --build --preset native --target frostcap_command >/dev/null

  cd examples
  exec ../build/native/tools/frostcap --scenario two-writers.json snapshot --volume 'C:\' \
    --writer "${mail}" --component 'database:Mail:Mailbox Database' \
    --writer "${documents}" --component 'filegroup::Documents' \
    --catalogue --files \
    --exec sh -c 'printf "inside the shadow copy %s:\n" "$FROSTCAP_MOUNT_PATH_1"; cd "$FROSTCAP_SNAPSHOT_DIR_1" && find . -type f | sort'
fi

install_missing cmake ninja-build googletest nlohmann-json3-dev libcli11-dev \
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64
cmake --preset windows >/dev/null
cmake --build --preset windows --target frostcap_command frostcap_vssapi list_files >/dev/null

# The program and the two DLLs side by side, as a host ships them, with the
# model's vssapi.dll in place of the system's, and the lister the command
# runs inside the shadow copy.
run=build/windows/example-run
mkdir -p "${run}"
cp build/windows/tools/frostcap.exe build/windows/src/frostcap.dll \
  build/windows/src/simulator/vssapi.dll build/windows/examples/list_files.exe "${run}"

# The build's own Wine prefix, made on first use; its wineserver is started
# apart from this script's output, so that no pipe is held open after the run.
export WINEPREFIX=${PWD}/build/windows/wineprefix WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml=;vssapi=n'
WINEBOOT=$(command -v wineboot) WINESERVER=$(command -v wineserver) sh cmake/wine-prefix.sh

cd examples
export FROSTCAP_SIM_SCENARIO=two-writers.json FROSTCAP_SIM_RECORD=../${run}/record.jsonl
# Wine neither waits for a Unix program that a Windows one starts nor passes
# on its exit status, so the command is a Windows one: cmd, and list_files,
# which opens the device path as Windows programs do.
status=0
wine "../${run}/frostcap.exe" snapshot --volume 'C:\' \
  --writer "${mail}" --component 'database:Mail:Mailbox Database' \
  --writer "${documents}" --component 'filegroup::Documents' \
  --catalogue --files \
  --exec cmd /c 'echo inside the shadow copy %FROSTCAP_MOUNT_PATH_1%:&& ..\build\windows\example-run\list_files %FROSTCAP_SNAPSHOT_DIR_1%' ||
  status=$?
wineserver -w
exit "${status}"
