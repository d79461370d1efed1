#!/usr/bin/python3
"""Summarises a frostcap_bench result file (Google Benchmark JSON).

Prints, as Markdown tables: each benchmark's time per iteration and rates;
for every benchmark run at sizes N and 2N, time(2N) / time(N); and the
inventory's time over the bare directory listing's at each size. Times are
CPU times, the median of the repetitions when there are several. Exits with
status 1 when a benchmark reported an error, so that a smoke run catches
benchmarks that no longer work.
"""

import json
import sys

NS_PER_UNIT = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
DOUBLING_LIMIT = 2.3
INVENTORY_LIMIT = 1.5


def load(path):
    """Returns (runs by name in first-seen order, names that failed)."""
    with open(path, encoding="utf-8") as stream:
        data = json.load(stream)
    samples, medians, failed = {}, {}, []
    for run in data.get("benchmarks", []):
        name = run.get("run_name", run["name"])
        if run.get("error_occurred"):
            failed.append(f"{name}: {run.get('error_message', '')}")
            continue
        if run.get("run_type") == "aggregate":
            if run.get("aggregate_name") == "median":
                medians[name] = run
            continue
        samples.setdefault(name, []).append(run)
    runs = {}
    for name, repetitions in samples.items():
        if name in medians:
            runs[name] = medians[name]
        else:
            # Without an aggregate, the repetition with the median CPU time.
            ordered = sorted(repetitions, key=lambda r: r["cpu_time"])
            runs[name] = ordered[len(ordered) // 2]
    return data.get("context", {}), runs, failed


def nanoseconds(run):
    return run["cpu_time"] * NS_PER_UNIT[run.get("time_unit", "ns")]


def readable_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def readable_rate(value, unit):
    if not value:
        return ""
    for prefix, scale in (("G", 1e9), ("M", 1e6), ("k", 1e3)):
        if value >= scale:
            return f"{value / scale:.3g} {prefix}{unit}/s"
    return f"{value:.3g} {unit}/s"


def split_size(name):
    """'BM_Foo/1000' -> ('BM_Foo', 1000); a name without a size -> (name, None)."""
    family, _, last = name.rpartition("/")
    return (family, int(last)) if family and last.isdigit() else (name, None)


def main(argv):
    if len(argv) != 2:
        print(f"usage: {argv[0]} RESULT.json", file=sys.stderr)
        return 2
    context, runs, failed = load(argv[1])

    caches = ", ".join(
        f"L{c['level']} {c['type'][0].lower()} {c['size'] // 1024} KiB"
        for c in context.get("caches", [])
    )
    print(f"Host: {context.get('num_cpus', '?')} CPUs at {context.get('mhz_per_cpu', '?')} MHz"
          f"{'; ' + caches if caches else ''}\n")

    print("| benchmark | CPU time | items/s | bytes/s |")
    print("|---|---:|---:|---:|")
    for name, run in runs.items():
        print(f"| {name} | {readable_time(nanoseconds(run))} "
              f"| {readable_rate(run.get('items_per_second'), '')} "
              f"| {readable_rate(run.get('bytes_per_second'), 'B')} |")

    by_family = {}
    for name, run in runs.items():
        family, size = split_size(name)
        if size is not None:
            by_family.setdefault(family, {})[size] = nanoseconds(run)
    print("\n| benchmark | N → 2N | time(2N) / time(N) |")
    print("|---|---|---:|")
    for family, sizes in by_family.items():
        for size in sorted(sizes):
            if 2 * size in sizes:
                ratio = sizes[2 * size] / sizes[size]
                flag = "" if ratio <= DOUBLING_LIMIT else f" (over {DOUBLING_LIMIT})"
                print(f"| {family} | {size:,} → {2 * size:,} | {ratio:.2f}{flag} |")

    library = by_family.get("BM_InventoryDescriptor", {})
    bare = by_family.get("BM_BareListing", {})
    common = sorted(set(library) & set(bare))
    if common:
        print("\n| files | inventory | bare listing | inventory / bare |")
        print("|---:|---:|---:|---:|")
        for size in common:
            ratio = library[size] / bare[size]
            flag = "" if ratio <= INVENTORY_LIMIT else f" (over {INVENTORY_LIMIT})"
            print(f"| {size:,} | {readable_time(library[size])} | {readable_time(bare[size])} "
                  f"| {ratio:.2f}{flag} |")

    traced = {split_size(name)[1]: run for name, run in runs.items()
              if split_size(name)[0] == "BM_TraceOffBesideBypass"}
    if traced:
        print("\n| components | bypass | trace off | off / bypass |")
        print("|---:|---:|---:|---:|")
        for size, run in sorted(traced.items()):
            print(f"| {size:,} | {readable_time(run['bypass_us'] * 1e3)} "
                  f"| {readable_time(run['off_us'] * 1e3)} | {run['off_per_bypass']:.3f} |")

    if failed:
        print("\nFailed benchmarks:", file=sys.stderr)
        for line in failed:
            print(f"  {line}", file=sys.stderr)
        return 1
    if not runs:
        print("no benchmark results in the file", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
