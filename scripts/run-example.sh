#!/usr/bin/env bash
# The main job: builds the frostcap command and takes a snapshot with it over
# the bundled example (two writers on one volume, served by the simulated
# shadow copy service), listing the writers' components and files and running
# a command that lists the shadow copy while it exists.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_missing cmake ninja-build g++ googletest nlohmann-json3-dev libcli11-dev
cmake --preset native >/dev/null
cmake --build --preset native --target frostcap_command >/dev/null

cd examples
exec ../build/native/tools/frostcap --scenario two-writers.json snapshot --volume 'C:\' \
  --writer '{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}' --component 'database:Mail:Mailbox Database' \
  --writer '{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}' --component 'filegroup::Documents' \
  --catalogue --files \
  --exec sh -c 'printf "inside the shadow copy %s:\n" "$FROSTCAP_MOUNT_PATH_1"; cd "$FROSTCAP_SNAPSHOT_DIR_1" && find . -type f | sort'
