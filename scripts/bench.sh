#!/usr/bin/env bash
# Builds the benchmarks with the native preset, runs them, keeps the results
# as JSON and prints a summary with the growth ratios.
#
#   scripts/bench.sh            the full run: every size, five repetitions
#                               (a few minutes; the first run also creates the
#                               inventory's directories, up to a million files)
#   scripts/bench.sh --smoke    the smallest sizes once, briefly: checks that
#                               every benchmark still builds and runs
#
# Further arguments go to frostcap_bench (e.g. --benchmark_filter=Inventory).
# The results go to build/native/bench/results.json (smoke.json for --smoke).
# FROSTCAP_BENCH_DATA chooses where the inventory's directories are kept.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=full
if [[ ${1:-} == --smoke ]]; then
  mode=smoke
  shift
fi

if ! dpkg-query -W -f='${Status}' libbenchmark-dev 2>/dev/null | grep -q 'install ok installed'; then
  echo "bench.sh: the benchmarks need Google Benchmark: apt-get install libbenchmark-dev" >&2
  exit 1
fi

cmake --preset native >/dev/null
cmake --build --preset native --target frostcap_bench

bench=build/native/bench/frostcap_bench
if [[ ${mode} == smoke ]]; then
  out=build/native/bench/smoke.json
  # Only the smallest size pair of each benchmark, so that no large directory
  # is ever created here.
  flags=(
    '--benchmark_filter=^BM_(PreparationPhase|ComponentCatalogue)/(500|1000)$|^BM_InventoryComponents/(1000|2000)$|^BM_(InventoryDescriptor|BareListing)/(5000|10000)$|^BM_StringQueue/(1000|2000)$|^BM_ModelServesInstancesOfOneClass/(5000|10000)$|^BM_Trace(OffBesideBypass|On)/10$|^BM_(EscapeCatalogueText|TranslatePath|FormatStatus)/'
    --benchmark_min_time=0.002
  )
else
  out=build/native/bench/results.json
  flags=(--benchmark_repetitions=5 --benchmark_display_aggregates_only=true)
fi

"${bench}" "${flags[@]}" --benchmark_out="${out}" --benchmark_out_format=json "$@"
echo
python3 scripts/bench_summary.py "${out}"
