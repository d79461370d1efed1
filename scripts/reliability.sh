#!/usr/bin/env bash
# The checks beyond the ordinary test run: the whole native suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer (preset native-asan, which
# also builds the fuzz targets; the Python binding's suite runs there too,
# with the sanitizer's shared runtime preloaded into the interpreter, so that
# its threads sharing one snapshot meet a checked library), frostcap_tests
# under valgrind's memcheck as a second opinion, and every fuzz target for a
# bounded time. Any finding fails the script; a fuzzer's crashing input is
# kept under build/native-asan/fuzz-runs.
#
# FROSTCAP_FUZZ_SECONDS sets the time per fuzz target (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_missing cmake ninja-build clang libclang-rt-14-dev valgrind googletest \
  nlohmann-json3-dev libcli11-dev

echo "== native-asan: build and every native test"
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan
ctest --preset native-asan

echo "== valgrind memcheck: frostcap_tests"
cmake --preset native >/dev/null
cmake --build --preset native --target frostcap_tests
valgrind --error-exitcode=1 --leak-check=full --quiet \
  build/native/tests/frostcap_tests --gtest_brief=1

echo "== fuzzing, ${FROSTCAP_FUZZ_SECONDS:-20} s per target"
runs=build/native-asan/fuzz-runs
for seeds in fuzz/corpus/*/; do
  target=$(basename "${seeds}")
  mkdir -p "${runs}/${target}/corpus" "${runs}/${target}/findings"
  # New inputs go to the first directory; the committed seeds stay as they are.
  if ! "build/native-asan/fuzz/frostcap_fuzz_${target}" \
    -max_total_time="${FROSTCAP_FUZZ_SECONDS:-20}" -print_final_stats=1 \
    -artifact_prefix="${runs}/${target}/findings/" \
    "${runs}/${target}/corpus" "${seeds}" >"${runs}/${target}/log" 2>&1; then
    tail -n 40 "${runs}/${target}/log"
    echo "fuzz target ${target} found a problem; its input is in ${runs}/${target}/findings" >&2
    exit 1
  fi
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "${runs}/${target}/log")
  echo "${target}: ${executions} executions, no finding"
done
