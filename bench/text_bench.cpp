// The small text routines that run once per record or per message: escaping
// for the catalogue, path translation through many volumes, status texts, and
// the string queues the host reads from.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "frame/string_queue.h"
#include "inventory/path_translation.h"
#include "numbered.h"
#include "status/status.h"

namespace frostcap::bench {
namespace {

// A path-like text of `length` units: mostly plain letters, with backslashes,
// a quote, a control character, accented letters and a surrogate pair.
std::u16string escapeInput(std::int64_t length) {
  static constexpr std::u16string_view kPiece =
      u"Storage\\Caf\u00e9 \"East\"\\Quarterly\t\U0001F4E6 Exports\\Shard 0042\\";
  std::u16string text;
  while (static_cast<std::int64_t>(text.size()) < length) text += kPiece;
  text.resize(static_cast<std::size_t>(length));
  // Cutting may leave a lone high surrogate at the end; that is a case the
  // function handles too.
  return text;
}

void BM_EscapeCatalogueText(benchmark::State& state) {
  const std::u16string input = escapeInput(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(escapeCatalogueText(input));
  state.SetBytesProcessed(state.iterations() * state.range(0) *
                          static_cast<std::int64_t>(sizeof(char16_t)));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EscapeCatalogueText)->Arg(64)->Arg(128)->Arg(4'096)->Arg(8'192);

// `pairs` volumes mounted at shadow copy devices; the path lies on the last
// volume, so every pair is compared.
void BM_TranslatePath(benchmark::State& state) {
  const std::int64_t pairs = state.range(0);
  std::vector<std::u16string> volumes;
  std::vector<std::u16string> devices;
  for (std::int64_t i = 0; i < pairs; ++i) {
    volumes.push_back(numbered(u"C:\\Mount Points\\Data Volume ", 1000 + i) + u'\\');
    devices.push_back(numbered(u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy", 1000 + i) +
                      u'\\');
  }
  const std::u16string path = numbered(u"c:\\mount points\\data volume ", 1000 + pairs - 1) +
                              u"\\Databases\\Mailbox Store 17\\Logs\\";
  for (auto _ : state) benchmark::DoNotOptimize(translatePath(path, volumes, devices));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TranslatePath)->Arg(32)->Arg(64)->Arg(128);

void BM_FormatStatus(benchmark::State& state, Status status) {
  for (auto _ : state) benchmark::DoNotOptimize(formatStatus(status));
  state.SetItemsProcessed(state.iterations());
}
// The service's own table (its last row), a system error wrapped as a status,
// and a code nobody describes.
BENCHMARK_CAPTURE(BM_FormatStatus, service_table, static_cast<Status>(0x00042321));
BENCHMARK_CAPTURE(BM_FormatStatus, system_code, static_cast<Status>(0x80070005));
BENCHMARK_CAPTURE(BM_FormatStatus, fallback, static_cast<Status>(0xA0001234));

// Appends N mount-path-sized entries to a fresh queue, then drains it.
void BM_StringQueue(benchmark::State& state) {
  const std::int64_t count = state.range(0);
  const std::u16string entry = u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy12\\";
  for (auto _ : state) {
    StringQueue queue;
    for (std::int64_t i = 0; i < count; ++i) queue.append(entry);
    std::size_t length = 0;
    std::size_t total = 0;
    while (*queue.readNext(&length) != u'\0') total += length;
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_StringQueue)->Arg(1'000)->Arg(2'000)->Arg(100'000)->Arg(200'000);

}  // namespace
}  // namespace frostcap::bench
