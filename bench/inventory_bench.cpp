// The file inventory. First one writer file descriptor over a real directory
// of N empty files, beside the plainest listing that produces the same
// records: an opendir/readdir loop. The second is what the file system
// allows; the first should stay close to it. Then a writer with N selected
// components, where what grows is the pairing of components and selections.

#include <benchmark/benchmark.h>
#include <dirent.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "frame/snapshot.h"
#include "inventory/inventory.h"
#include "lean_service.h"
#include "numbered.h"
#include "platform/platform.h"
#include "populated_directory.h"
#include "selection/selection.h"

namespace frostcap::bench {
namespace {

std::u16string widenAscii(const std::string& text) { return {text.begin(), text.end()}; }

// The directory for this size, or an error on `state`.
std::string directoryFor(benchmark::State& state) {
  std::string error;
  std::string directory = populatedDirectory(static_cast<std::size_t>(state.range(0)), error);
  if (directory.empty()) state.SkipWithError(error.c_str());
  return directory;
}

// The records the library writes for the directory: its path in the
// library's form, a backslash, and the name.
std::u16string recordPrefix(const std::string& directory) { return widenAscii(directory) + u'\\'; }

std::int64_t recordBytes(const std::vector<std::u16string>& records) {
  std::int64_t units = 0;
  for (const std::u16string& record : records) units += static_cast<std::int64_t>(record.size());
  return units * static_cast<std::int64_t>(sizeof(char16_t));
}

void report(benchmark::State& state, const std::vector<std::u16string>& records) {
  if (records.size() != static_cast<std::size_t>(state.range(0))) {
    state.SkipWithError("the listing does not hold every file");
    return;
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * recordBytes(records));
}

void BM_InventoryDescriptor(benchmark::State& state) {
  const std::string directory = directoryFor(state);
  if (directory.empty()) return;

  auto writers = std::make_shared<LeanWriters>();
  LeanWriter& writer = writers->emplace_back();
  writer.classId = benchGuid(30);
  writer.instanceId = benchGuid(31);
  writer.components.push_back(
      {2, u"Files", u"Everything", true, {{widenAscii(directory), u"*", false}}});

  Snapshot snapshot;
  snapshot.backupComponents = makeLeanBackupComponents(writers);
  addWriterComponent(snapshot, platform::formatGuid(writer.classId),
                     {2, u"Files", u"Everything", {}});
  // After the snapshot the search runs inside the shadow copy; here the copy
  // is the live directory, which keeps the records comparable.
  const std::u16string root = widenAscii(benchDataRoot()) + u'/';
  snapshot.volumePaths.push_back(root);
  snapshot.mountPaths.append(root);

  for (auto _ : state) {
    const StepResult result = collectWriterFiles(snapshot);
    if (!result.ok) {
      state.SkipWithError("the inventory failed");
      return;
    }
  }
  const std::vector<std::u16string>& records = snapshot.writerFileInfo.entries();
  if (!records.empty() && records.front().rfind(recordPrefix(directory), 0) != 0) {
    state.SkipWithError("the records are not the ones the bare listing builds");
    return;
  }
  report(state, records);
}

// What the library's records cost at the least: read the directory once and
// build each record string from the prefix and the name.
void BM_BareListing(benchmark::State& state) {
  const std::string directory = directoryFor(state);
  if (directory.empty()) return;
  const std::u16string prefix = recordPrefix(directory);
  std::vector<std::u16string> records;

  for (auto _ : state) {
    records.clear();
    DIR* listing = ::opendir(directory.c_str());
    if (listing == nullptr) {
      state.SkipWithError("opendir failed");
      return;
    }
    while (const dirent* entry = ::readdir(listing)) {
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      const std::size_t length = std::strlen(name);
      std::u16string record;
      record.reserve(prefix.size() + length);
      record.append(prefix);
      record.append(name, name + length);
      records.push_back(std::move(record));
    }
    ::closedir(listing);
  }
  report(state, records);
}

// One writer with N components, each with one file descriptor for a folder
// that does not exist here, so that each costs one failed search and one
// record. The host selects three in four; the fourth lies below the one
// before it, and is listed for that one's sake.
void BM_InventoryComponents(benchmark::State& state) {
  const std::int64_t count = state.range(0);
  auto writers = std::make_shared<LeanWriters>();
  LeanWriter& writer = writers->emplace_back();
  writer.classId = benchGuid(40);
  writer.instanceId = benchGuid(41);
  Snapshot snapshot;
  const std::u16string writerId = platform::formatGuid(writer.classId);
  for (std::int64_t i = 0; i < count; ++i) {
    const std::uint32_t type = i % 8 < 4 ? 1 : 2;
    std::u16string path = numbered(u"Instances\\Primary\\Storage Group ", i / 16);
    const std::u16string name = numbered(u"Catalogue database ", i);
    LeanFile file{numbered(u"/nonexistent/frostcap-bench/Databases/Store ", i), u"*.edb", false};
    if (i % 4 == 3) {
      const LeanComponent& parent = writer.components.back();
      path = parent.logicalPath + u'\\' + parent.name;
    } else {
      addWriterComponent(snapshot, writerId, {type, path, name, {}});
    }
    writer.components.push_back({type, std::move(path), name, true, {std::move(file)}});
  }
  snapshot.backupComponents = makeLeanBackupComponents(writers);

  for (auto _ : state) {
    const StepResult result = collectWriterFiles(snapshot);
    if (!result.ok) {
      state.SkipWithError("the inventory failed");
      return;
    }
  }
  if (snapshot.writerFileInfo.size() != static_cast<std::size_t>(count)) {
    state.SkipWithError("a component was not listed");
    return;
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_InventoryComponents)
    ->Arg(1'000)
    ->Arg(2'000)
    ->Arg(10'000)
    ->Arg(20'000)
    ->Arg(50'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond);

// Sizes in pairs (N/2, N), so that each doubling can be read off; the
// library and the bare listing take turns on each size, so that both meet the
// directory in the same state of the caches.
const bool kRegistered = [] {
  for (const std::int64_t size : {5'000, 10'000, 50'000, 100'000, 500'000, 1'000'000}) {
    benchmark::RegisterBenchmark("BM_InventoryDescriptor", BM_InventoryDescriptor)
        ->Arg(size)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_BareListing", BM_BareListing)
        ->Arg(size)
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace
}  // namespace frostcap::bench
