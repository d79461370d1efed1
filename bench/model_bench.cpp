// The simulated service serving n instances of one writer class, as a
// requester meets them: each writer's metadata and status by index, a
// component added for each, and each writer's components in the backup. Time
// should grow with n, as the model keeps nothing that grows faster than its
// input (before it cached what it reports, 20,000 instances took 15 s and
// 40,000 took 75 s).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <utility>

#include "simulator/backup_components.h"
#include "simulator/scenario.h"
#include "simulator/simulation.h"

namespace frostcap::bench {
namespace {

const vss::Guid kClass{
    0x5D1A2C40, 0x7E3B, 0x4F6A, {0x9C, 0x21, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x51}};

std::unique_ptr<simulator::Simulation> instancesOfOneClass(std::int64_t count) {
  simulator::Scenario scenario;
  for (std::int64_t i = 0; i < count; ++i) {
    simulator::WriterSpec& writer = scenario.writers.emplace_back();
    writer.classId = kClass;
    writer.instanceId = {static_cast<std::uint32_t>(i), 1, 2, {3}};
    writer.name = u"Mail Store Writer";
    writer.components.push_back({1, u"Mail", u"Mailbox Database", true, {}, {}, {}});
  }
  return simulator::Simulation::fromScenario(std::move(scenario));
}

Status waited(std::unique_ptr<vss::Async> async) {
  Status operation = 0;
  if (failed(async->wait()) || failed(async->queryStatus(operation))) return 1;
  return operation;
}

void BM_ModelServesInstancesOfOneClass(benchmark::State& state) {
  const std::int64_t count = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    const std::unique_ptr<simulator::Simulation> model = instancesOfOneClass(count);
    std::unique_ptr<simulator::ModelBackupComponents> backup;
    state.ResumeTiming();
    std::unique_ptr<vss::Async> metadata, status;
    if (failed(model->createBackupComponents(backup)) || failed(backup->initializeForBackup()) ||
        failed(backup->enableWriterClasses({kClass})) ||
        failed(backup->gatherWriterMetadata(metadata)) || failed(waited(std::move(metadata))) ||
        failed(backup->gatherWriterStatus(status)) || failed(waited(std::move(status)))) {
      state.SkipWithError("the model refused the listing");
      return;
    }
    for (std::int64_t i = 0; i < count; ++i) {
      vss::Guid instance;
      std::unique_ptr<vss::WriterMetadata> writer;
      vss::WriterStatus writerStatus;
      if (failed(backup->getWriterMetadata(static_cast<std::uint32_t>(i), instance, writer)) ||
          failed(backup->getWriterStatus(static_cast<std::uint32_t>(i), writerStatus)) ||
          failed(backup->addComponent(instance, kClass, 1, u"Mail", u"Mailbox Database"))) {
        state.SkipWithError("a writer is missing");
        return;
      }
    }
    for (std::int64_t i = 0; i < count; ++i) {
      std::unique_ptr<vss::WriterComponents> components;
      if (failed(backup->getWriterComponents(static_cast<std::uint32_t>(i), components))) {
        state.SkipWithError("a writer's components are missing");
        return;
      }
    }
    state.PauseTiming();
    backup.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ModelServesInstancesOfOneClass)
    ->Arg(5'000)
    ->Arg(10'000)
    ->Arg(20'000)
    ->Arg(40'000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace frostcap::bench
