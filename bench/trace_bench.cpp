// What the trace costs. One full backup over the lean service (preparation,
// the catalogue, the shadow copies, completion) with its backup-components
// object made three ways: by the factory called directly, without the trace's
// code path; through the library's creation with the trace compiled in but
// off; and with the trace on, into a file. The first two alternate within one
// loop, so that both meet the same machine, and their ratio is reported.

#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "backup/preparation.h"
#include "frame/snapshot.h"
#include "frostcap.h"
#include "lean_service.h"
#include "numbered.h"
#include "platform/platform.h"
#include "vss/factory.h"
#include "vss/trace.h"

namespace frostcap::bench {
namespace {

// CPU time of this thread, as the other figures are CPU time: the machine is
// shared, and wall time would measure the neighbours.
struct Clock {
  using duration = std::chrono::nanoseconds;
  using time_point = std::chrono::time_point<Clock, duration>;
  static time_point now() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return time_point(std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec));
  }
};
using Create = Status (*)(std::unique_ptr<vss::BackupComponents>&);

const frostcap_char* host(const std::u16string& text) {
  return reinterpret_cast<const frostcap_char*>(text.c_str());
}

// One writer with `count` file groups of one file each, all selected, and
// the volume they are on.
struct Backup {
  std::shared_ptr<LeanWriters> writers = std::make_shared<LeanWriters>();
  std::u16string writerId;

  explicit Backup(std::int64_t count) {
    LeanWriter& writer = writers->emplace_back();
    writer.classId = benchGuid(7);
    writer.instanceId = benchGuid(8);
    writerId = platform::formatGuid(writer.classId);
    for (std::int64_t i = 0; i < count; ++i) {
      writer.components.push_back({2,
                                   u"Data",
                                   numbered(u"Group ", i),
                                   true,
                                   {{u"C:\\Data\\" + numbered(u"Group ", i), u"*", true}}});
    }
  }

  // The whole backup, its object made by `create`; false when a step failed.
  bool run(Create create) const {
    frostcap_snapshot* handle = frostcap_snapshot_new();
    frostcap_snapshot_addVolumePath(handle, host(u"C:\\"));
    for (const LeanComponent& component : writers->front().components) {
      frostcap_snapshot_addWriterFilegroupComponentFallback(
          handle, host(writerId), host(component.logicalPath), host(component.name), host(u""));
    }
    // What frostcap_snapshot_perform_a does, with the creation chosen here.
    Snapshot& snapshot = handle->state;
    const bool prepared = !failed(create(snapshot.backupComponents)) && preparePhase(snapshot).ok;
    frostcap_snapshot_loadWriterComponents(handle);
    const bool taken = prepared && frostcap_snapshot_perform_b(handle) == 0;
    frostcap_snapshot_free(handle, taken ? 1 : 0);
    return taken;
  }
};

double seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

// The bypass and the trace switched off, alternating; the counters give each
// one's mean time per backup and off / bypass.
void BM_TraceOffBesideBypass(benchmark::State& state) {
  const Backup backup(state.range(0));
  const LeanFactoryScope factory(backup.writers);
  vss::stopTrace();
  // One untimed round first: the first backup of a process pays for its
  // caches and its allocator's first pages.
  if (!backup.run(vss::createUntracedBackupComponents) ||
      !backup.run(vss::createBackupComponents)) {
    state.SkipWithError("the backup failed");
    return;
  }
  Clock::duration bypass{}, off{};
  bool bypassFirst = true;
  for (auto _ : state) {
    // Each goes first in every other round, so that neither inherits the
    // other's warm caches more often.
    bool succeeded = true;
    for (const bool bypassing : {bypassFirst, !bypassFirst}) {
      const Clock::time_point start = Clock::now();
      succeeded &=
          backup.run(bypassing ? vss::createUntracedBackupComponents : vss::createBackupComponents);
      (bypassing ? bypass : off) += Clock::now() - start;
    }
    bypassFirst = !bypassFirst;
    if (!succeeded) {
      state.SkipWithError("the backup failed");
      return;
    }
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["bypass_us"] = seconds(bypass) / runs * 1e6;
  state.counters["off_us"] = seconds(off) / runs * 1e6;
  state.counters["off_per_bypass"] = seconds(off) / seconds(bypass);
}
BENCHMARK(BM_TraceOffBesideBypass)->Arg(10)->Arg(100)->Arg(1'000)->Unit(benchmark::kMicrosecond);

// For information: the same backup with the trace on, into a file that is
// emptied between runs of the benchmark.
void BM_TraceOn(benchmark::State& state) {
  const Backup backup(state.range(0));
  const LeanFactoryScope factory(backup.writers);
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / "frostcap-trace-bench.jsonl";
  std::filesystem::remove(file);
  if (!vss::startTrace(file.u16string())) {
    state.SkipWithError("the trace file cannot be opened");
    return;
  }
  for (auto _ : state) {
    if (!backup.run(vss::createBackupComponents)) {
      state.SkipWithError("the backup failed");
      break;
    }
  }
  vss::stopTrace();
  state.counters["bytes_per_backup"] = static_cast<double>(std::filesystem::file_size(file)) /
                                       static_cast<double>(state.iterations());
  std::filesystem::remove(file);
}
BENCHMARK(BM_TraceOn)->Arg(10)->Arg(100)->Arg(1'000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace frostcap::bench
