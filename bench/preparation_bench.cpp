// The first phase through the exported function: one writer with N
// components, all selected by the host. Half of the selections name a logical
// path the writer no longer uses, so they are found only under their fallback.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frostcap.h"
#include "lean_service.h"
#include "numbered.h"
#include "platform/platform.h"

namespace frostcap::bench {
namespace {

constexpr std::uint32_t kDatabase = 1;
constexpr std::uint32_t kFilegroup = 2;

std::u16string upperAscii(std::u16string text) {
  for (char16_t& unit : text) {
    if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - u'a' + u'A');
  }
  return text;
}

const frostcap_char* host(const std::u16string& text) {
  return reinterpret_cast<const frostcap_char*>(text.c_str());
}

// Component i of the writer: even ones under the path the host knows (the
// host spells it in capitals), odd ones moved to where the fallback points.
struct Workload {
  std::shared_ptr<LeanWriters> writers = std::make_shared<LeanWriters>();
  std::u16string writerId;
  struct Selection {
    std::uint32_t type;
    std::u16string logicalPath;
    std::u16string name;
    std::u16string fallback;
  };
  std::vector<Selection> selections;

  explicit Workload(std::int64_t count) {
    LeanWriter& writer = writers->emplace_back();
    writer.classId = benchGuid(7);
    writer.instanceId = benchGuid(8);
    writerId = platform::formatGuid(writer.classId);
    writer.components.reserve(static_cast<std::size_t>(count));
    selections.reserve(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
      const bool moved = i % 2 == 1;
      const std::uint32_t type = i % 4 < 2 ? kDatabase : kFilegroup;
      const std::u16string group = numbered(u"Group ", i / 16);
      const std::u16string current =
          (moved ? u"Instances\\Relocated\\Storage\\" : u"Instances\\Primary\\Storage\\") + group;
      const std::u16string name = numbered(u"Catalogue database ", i);
      writer.components.push_back({type, current, name, true, {}});
      if (moved) {
        selections.push_back({type, u"Instances\\Retired\\Storage\\" + group, name, current});
      } else {
        selections.push_back(
            {type, upperAscii(current), upperAscii(name), u"Instances\\Unused\\" + group});
      }
    }
  }

  frostcap_snapshot* configuredHandle() const {
    frostcap_snapshot* handle = frostcap_snapshot_new();
    for (const Selection& s : selections) {
      if (s.type == kDatabase) {
        frostcap_snapshot_addWriterDatabaseComponentFallback(
            handle, host(writerId), host(s.logicalPath), host(s.name), host(s.fallback));
      } else {
        frostcap_snapshot_addWriterFilegroupComponentFallback(
            handle, host(writerId), host(s.logicalPath), host(s.name), host(s.fallback));
      }
    }
    return handle;
  }
};

void BM_PreparationPhase(benchmark::State& state) {
  const Workload workload(state.range(0));
  const LeanFactoryScope factory(workload.writers);
  for (auto _ : state) {
    state.PauseTiming();
    frostcap_snapshot* handle = workload.configuredHandle();
    state.ResumeTiming();
    const int result = frostcap_snapshot_perform_a(handle);
    state.PauseTiming();
    frostcap_snapshot_free(handle, 0);
    if (result != 0) {
      state.SkipWithError("the preparation failed");
      break;
    }
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PreparationPhase)
    ->Arg(500)
    ->Arg(1'000)
    ->Arg(5'000)
    ->Arg(10'000)
    ->Arg(50'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace frostcap::bench
