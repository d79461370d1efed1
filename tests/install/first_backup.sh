#!/usr/bin/env bash
# Builds and runs the first-backup guides' programs (examples/first-backup)
# from the installed or packaged artefacts only, with the bindings from their
# source folders: natively the C, C++, Python and Go programs from `cmake
# --install` with the component `sim`, against the simulated
# service; for the Windows build the C and C++ programs and the Go one
# (GOOS=windows) from the unpacked developer archive, under Wine, with the
# shipped frostcap.dll over the model's vssapi.dll. (The .NET program runs
# from the NuGet package, in consume_nuget.sh.) Each run must read every file
# of the component and tell the writers of a successful backup, and nothing
# else. Everything is written under --work.
#
#   first_backup.sh --build DIR --kind native|windows --work DIR --cmake CMAKE
#       --generator GENERATOR --source DIR [--libdir lib] [--go GO] [--python PYTHON]
#       [--toolchain FILE --wine WINE --wine-runner SCRIPT]
set -euo pipefail

libdir=lib go="" python=""
while (($#)); do
  case $1 in
    --build) build=$2 ;;
    --kind) kind=$2 ;;
    --work) work=$2 ;;
    --cmake) cmake=$2 ;;
    --generator) generator=$2 ;;
    --source) source=$2 ;;
    --libdir) libdir=$2 ;;
    --go) go=$2 ;;
    --python) python=$2 ;;
    --toolchain) toolchain=$2 ;;
    --wine) wine=$2 ;;
    --wine-runner) wine_runner=$2 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
  shift 2
done
examples=$source/examples

# shellcheck source=steps.sh
source "$(dirname "$0")/steps.sh"

rm -rf "$work"
mkdir -p "$work"
cmake_args=(-S "$examples/first-backup" -B "$work/build" -G "$generator" -DCMAKE_BUILD_TYPE=Release)
if [[ $kind == windows ]]; then
  logged pack "$cmake" -DBUILD_DIR="$build" -DOUTPUT_DIR="$work" -DPLATFORM=win64 -DDEVELOPER=ON \
    -P "$source/cmake/pack-release.cmake"
  archive=$(cd "$work" && ls frostcap-*-win64-dev.zip)
  (cd "$work" && "$cmake" -E tar xf "$archive")
  prefix=$work/${archive%.zip}
  cmake_args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -Dfrostcap_DIR="$prefix/$libdir/cmake/frostcap")
else
  prefix=$work/prefix
  for component in "" sim; do
    logged "install-${component:-library}" "$cmake" --install "$build" --prefix "$prefix" \
      ${component:+--component "$component"}
  done
  cmake_args+=(-DCMAKE_PREFIX_PATH="$prefix")
fi
logged configure "$cmake" "${cmake_args[@]}"
logged build "$cmake" --build "$work/build"

# Go builds the guide's module, which takes the binding from its source
# folder; natively cgo finds libfrostcap-sim through the installed
# frostcap-sim.pc.
exe=""
[[ $kind == windows ]] && exe=.exe
programs=("$work/build/first_backup_c$exe" "$work/build/first_backup_cpp$exe")
if [[ -n $go ]]; then
  if [[ $kind == windows ]]; then
    go_env=(GOOS=windows GOARCH=amd64 CGO_ENABLED=0)
  else
    go_env=(PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig")
  fi
  (cd "$examples/first-backup/go" &&
    logged go-build env GOPROXY=off GOFLAGS=-mod=readonly "${go_env[@]}" "$go" build \
      -o "$work/build/first_backup_go$exe" .)
  programs+=("$work/build/first_backup_go$exe")
fi
[[ $kind == native && -n $python ]] && programs+=("$examples/first-backup/first_backup.py")

for path in "${programs[@]}"; do
  program=$(basename "${path%.*}")
  [[ $path == *.py ]] && program=first_backup_python
  if [[ $kind == windows ]]; then
    # The model's vssapi.dll lies in its own folder of the archive; the run
    # puts it beside the program, where Wine takes it when told to.
    bash "$wine_runner" --work "$work/$program" --wine "$wine" --examples "$examples" \
      --dll-dir "$prefix/bin" --dll-name frostcap.dll \
      --extra-dll "../$libdir/frostcap-model/vssapi.dll" --overrides vssapi=n \
      --expect '^backup succeeded$' -- "$path"
    output=$work/$program/output.txt
  else
    mkdir -p "$work/$program"
    output=$work/$program/output.txt
    run=("$path")
    [[ $path == *.py ]] && run=("$python" "$path")
    FROSTCAP_SIM_SCENARIO=$examples/two-writers.json FROSTCAP_SIM_RECORD=$work/$program/record.jsonl \
      LD_LIBRARY_PATH=$prefix/$libdir FROSTCAP_LIBRARY=$prefix/$libdir/libfrostcap-sim.so \
      PYTHONPATH=$source/bindings/python PYTHONDONTWRITEBYTECODE=1 \
      "${run[@]}" >"$output" || fail "$program exited with $?: $(cat "$output")"
    grep -q '"text":"SetBackupSucceeded([^"]*true)' "$work/$program/record.jsonl" &&
      ! grep -q '"text":"SetBackupSucceeded([^"]*false)' "$work/$program/record.jsonl" ||
      fail "$program did not tell the writers of a successful backup"
  fi
  reads=$(grep -c ' bytes read inside the copy$' "$output" || true)
  [[ $reads -eq 5 && $(tail -n 1 "$output") == "backup succeeded" ]] ||
    fail "$program read $reads files, not the component's 5:$(printf '\n  %s' "$(cat "$output")")"
  echo "$program: the component's $reads files read inside the copy, backup succeeded"
done
