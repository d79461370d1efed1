#!/usr/bin/env bash
# Installs what the build needs and is missing, builds the native library with
# GCC and Clang and the Windows DLL with MinGW-w64, and runs every test: the
# native ones directly, the Windows ones under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_missing cmake ninja-build g++ clang googletest \
  nlohmann-json3-dev g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64

for preset in native native-clang windows; do
  echo "== ${preset}"
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}"
  ctest --preset "${preset}"
done
