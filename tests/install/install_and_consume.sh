#!/usr/bin/env bash
# Installs a build of frostcap into a fresh prefix and builds a small C host
# against the installed tree twice, through the CMake package and through
# pkg-config, then runs both: natively, or for the Windows build under Wine
# (with the environment of the Wine fixture) with the installed frostcap.dll
# beside each program. Everything is written under --work.
#
#   install_and_consume.sh --build DIR --kind native|windows --work DIR
#       --cmake CMAKE --generator GENERATOR --cc C_COMPILER --pkg-config PKG_CONFIG
#       [--libdir lib] [--toolchain FILE --wine WINE]
set -euo pipefail

libdir=lib toolchain="" wine=""
while (($#)); do
  case $1 in
    --build) build=$2 ;;
    --kind) kind=$2 ;;
    --work) work=$2 ;;
    --cmake) cmake=$2 ;;
    --generator) generator=$2 ;;
    --cc) cc=$2 ;;
    --pkg-config) pkg_config=$2 ;;
    --libdir) libdir=$2 ;;
    --toolchain) toolchain=$2 ;;
    --wine) wine=$2 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
  shift 2
done
consumer=$(cd "$(dirname "$0")/consumer" && pwd)
prefix=$work/prefix

# shellcheck source=steps.sh
source "$(dirname "$0")/steps.sh"

rm -rf "$work"
mkdir -p "$work"
# Stripped, as the release archive is: what ships is what gets tested.
logged install "$cmake" --install "$build" --prefix "$prefix" --strip

export PKG_CONFIG_LIBDIR=$prefix/$libdir/pkgconfig
version=$("$pkg_config" --modversion frostcap)
grep -qx "#define FROSTCAP_VERSION \"$version\"" "$prefix/include/frostcap.h" ||
  fail "frostcap.pc says version $version, the installed header does not"

# Through the CMake package. The MinGW toolchain confines package searches to
# its own root, so there the package is named by its directory.
cmake_args=(-S "$consumer" -B "$work/cmake" -G "$generator" -DCMAKE_BUILD_TYPE=Release)
if [[ $kind == windows ]]; then
  cmake_args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -Dfrostcap_DIR="$prefix/$libdir/cmake/frostcap")
else
  cmake_args+=(-DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$prefix")
fi
logged cmake-configure "$cmake" "${cmake_args[@]}"
grep -q "frostcap $version from $prefix/$libdir/cmake/frostcap\$" "$work/cmake-configure.log" ||
  fail "find_package did not find frostcap $version in $prefix"
logged cmake-build "$cmake" --build "$work/cmake"

# Through pkg-config, with nothing but the compiler.
mkdir -p "$work/pkg-config"
read -ra flags <<<"$("$pkg_config" --cflags --libs frostcap)"
exe=""
[[ $kind == windows ]] && exe=.exe
logged pkg-config-build "$cc" -std=c99 -Wall -Wextra -pedantic -Werror "$consumer/main.c" \
  "${flags[@]}" -o "$work/pkg-config/consumer$exe"

# Both hosts must load the installed library, ask for a snapshot and get the
# library's answer that no shadow copy service is there.
expected_message='^message \{FATAL_PREFIX\}\{ERR_INIT_VSS\} \(0x80004001: .*\)$'
for way in cmake pkg-config; do
  out=$work/$way/consumer.out
  if [[ $kind == windows ]]; then
    [[ $way == pkg-config ]] && cp "$prefix/bin/frostcap.dll" "$work/$way/"
    # Started from a directory without a DLL, since Windows also searches the
    # current one; output to files, not pipes, which the wineserver would hold.
    (cd "$work" && "$wine" "$work/$way/consumer.exe" >"$out.crlf" 2>"$work/$way/consumer.err") ||
      fail "$way consumer exited with $? ($(cat "$work/$way/consumer.err"))"
    tr -d '\r' <"$out.crlf" >"$out"
  elif [[ $way == cmake ]]; then
    # CMake gave it the library's directory as its run path.
    "$work/$way/consumer" >"$out" || fail "$way consumer exited with $?"
  else
    LD_LIBRARY_PATH=$prefix/$libdir "$work/$way/consumer" >"$out" ||
      fail "$way consumer exited with $?"
  fi
  lines=()
  mapfile -t lines <"$out"
  echo "$way consumer: ${lines[*]}"
  [[ ${#lines[@]} -eq 4 && ${lines[0]} == "header version $version" &&
    ${lines[1]} == "perform_a 1" && ${lines[2]} =~ $expected_message &&
    ${lines[3]} == "done" ]] ||
    fail "$way consumer printed something else:$(printf '\n  %s' "${lines[@]}")"
done
echo "installed frostcap $version: found and used through CMake and pkg-config"
