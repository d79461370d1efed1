// The component catalogue of W writers with C components each, whose logical
// paths are long and full of characters that must be escaped.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "catalogue/catalogue.h"
#include "frame/snapshot.h"
#include "lean_service.h"
#include "numbered.h"

namespace frostcap::bench {
namespace {

constexpr std::int64_t kWriters = 8;

// About 130 units with a dozen backslashes, quotes, a tab, accented letters
// and a character outside the basic plane.
std::u16string longLogicalPath(std::int64_t writer, std::int64_t component) {
  return numbered(
             u"Service Instances\\Production \"East\"\\Caf\u00e9 R\u00e9servations\\"
             u"Storage Groups\\\tArchive\\Quarterly \U0001F4E6 Exports\\Region ",
             writer) +
         numbered(u"\\Partition ", component % 64) + numbered(u"\\Shard ", component);
}

std::shared_ptr<LeanWriters> catalogueWriters(std::int64_t components) {
  auto writers = std::make_shared<LeanWriters>();
  for (std::int64_t w = 0; w < kWriters; ++w) {
    LeanWriter& writer = writers->emplace_back();
    writer.classId = benchGuid(static_cast<std::uint32_t>(100 + w));
    writer.instanceId = benchGuid(static_cast<std::uint32_t>(200 + w));
    for (std::int64_t c = 0; c < components; ++c) {
      writer.components.push_back({c % 2 == 0 ? 1u : 2u,
                                   longLogicalPath(w, c),
                                   numbered(u"Mailbox \"store\" ", c),
                                   c % 3 != 0,
                                   {}});
    }
  }
  return writers;
}

std::size_t queuedBytes(const StringQueue& queue) {
  std::size_t units = 0;
  for (const std::u16string& line : queue.entries()) units += line.size();
  return units * sizeof(char16_t);
}

void BM_ComponentCatalogue(benchmark::State& state) {
  const std::int64_t components = state.range(0);
  const std::shared_ptr<LeanWriters> writers = catalogueWriters(components);
  Snapshot snapshot;
  snapshot.backupComponents = makeLeanBackupComponents(writers);

  for (auto _ : state) {
    loadWriterComponents(snapshot);
    benchmark::DoNotOptimize(snapshot.writerComponents.size());
  }
  // One header line for all, one per writer, one per component.
  const auto expected = static_cast<std::size_t>(1 + kWriters + kWriters * components);
  if (snapshot.writerComponents.size() != expected || !snapshot.messages.empty()) {
    state.SkipWithError("the catalogue is incomplete");
    return;
  }
  state.SetItemsProcessed(state.iterations() * kWriters * components);
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(queuedBytes(snapshot.writerComponents)));
}
BENCHMARK(BM_ComponentCatalogue)
    ->Arg(500)
    ->Arg(1'000)
    ->Arg(5'000)
    ->Arg(10'000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace frostcap::bench
