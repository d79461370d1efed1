#!/usr/bin/env bash
# Installs what the build needs and is missing, builds the native library with
# GCC and Clang and the Windows DLL with MinGW-w64, and runs every test: the
# native ones directly (also under sanitizers and valgrind, with a benchmark
# smoke run and the fuzzers), the Windows ones under Wine, the bindings' and
# other-language hosts' ones in both, and the NuGet package's last.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_missing cmake ninja-build g++ clang googletest libcli11-dev python3-pytest \
  nlohmann-json3-dev libbenchmark-dev libclang-rt-14-dev valgrind \
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 pkg-config \
  llvm lld mono-mcs mono-devel libnunit-cil-dev nunit-console golang-go

build_and_test() {
  echo "== $1"
  # Every toolchain is installed above: none of their tests may be skipped.
  cmake --preset "$1" -DFROSTCAP_REQUIRE_HOST_TOOLCHAINS=ON >/dev/null
  cmake --build --preset "$1"
  ctest --preset "$1"
}

build_and_test native
build_and_test native-clang
echo "== benchmarks, smoke run"
bash scripts/bench.sh --smoke
# Sanitizers, valgrind and the fuzzers.
FROSTCAP_FUZZ_SECONDS=${FROSTCAP_FUZZ_SECONDS:-15} bash scripts/reliability.sh
# The Windows build last, so that the run ends with its summary; then the
# NuGet package, which needs both builds.
build_and_test windows
echo "== the NuGet package, installed and used"
bash tests/install/consume_nuget.sh --windows-build build/windows \
  --sim-library build/native/src/simulator/libfrostcap-sim.so --work build/windows/nuget-consumer
