#include "backup/preparation.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "backup/selection.h"
#include "catalogue/catalogue.h"
#include "frame/await_async.h"
#include "frame/messages.h"
#include "platform/platform.h"
#include "vss/constants.h"

namespace frostcap {
namespace {

namespace label = messages::label;

// A writer's catalogue entries indexed by what matchesRecord compares, so that
// each selection is found in constant expected time; the first entry in list
// order wins, as a walk of the list would find it.
class CatalogueIndex {
 public:
  explicit CatalogueIndex(const std::vector<ComponentRecord>& entries) {
    index_.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) index_.try_emplace(recordKey(entries[i]), i);
  }

  const ComponentRecord* find(const std::vector<ComponentRecord>& entries,
                              const ComponentRecord& wanted) const {
    const auto found = index_.find(recordKey(wanted));
    return found == index_.end() ? nullptr : &entries[found->second];
  }

 private:
  std::unordered_map<RecordKey, std::size_t, RecordKeyHash> index_;
};

StepResult volumeOnlyPreparation(vss::BackupComponents& service) {
  Status status = service.setBackupState(false, false, vss::kBackupTypeIncremental, false);
  if (failed(status)) return callFailure(label::kSetBackupState, status);
  status = service.setContext(vss::kContextFileShareBackup);
  if (failed(status)) return callFailure(label::kSetContext, status);
  return StepResult::success();
}

StepResult parseWriterClassIds(Snapshot& snapshot) {
  snapshot.writerClassIds.resize(snapshot.writerSelections.size());
  std::size_t position = 0;
  for (const auto& [writerId, selections] : snapshot.writerSelections) {
    const std::optional<platform::Guid> classId = platform::parseGuid(writerId);
    if (!classId) return StepResult::failure(std::u16string(messages::kBadGuid));
    snapshot.writerClassIds[position++] = *classId;
  }
  return StepResult::success();
}

// The catalogue entries of the metadata entry at `position`; none when the
// catalogue has no entry there.
const std::vector<ComponentRecord>& catalogueAt(const Snapshot& snapshot, std::uint32_t position) {
  static const std::vector<ComponentRecord> kNone;
  const auto entry = snapshot.writerCatalogue.find(position);
  return entry == snapshot.writerCatalogue.end() ? kNone : entry->second;
}

// By position, the catalogue entries of the selected writer at `position` are
// those of the first position that names the same writer class.
const std::vector<ComponentRecord>& catalogueOf(const Snapshot& snapshot, std::uint32_t position) {
  std::uint32_t first = 0;
  while (snapshot.writerClassIds[first] != snapshot.writerClassIds[position]) ++first;
  return catalogueAt(snapshot, first);
}

// One metadata entry that holds components a selected writer may name: the
// instance it belongs to and its catalogue.
struct Holder {
  vss::Guid instanceId;
  const std::vector<ComponentRecord>* catalogue;
};

// Pairs every selection of one writer with the component one of the writer's
// entries reports (the first entry that has it, else the first that has it
// under the fallback logical path), rewrites the selection to the writer's
// spelling and adds it for the instance that holds it.
StepResult addSelectedComponents(Snapshot& snapshot, const std::u16string& writerId,
                                 const vss::Guid& classId, const std::vector<Holder>& holders,
                                 std::vector<ComponentRecord>& selections) {
  std::vector<CatalogueIndex> indexes;
  indexes.reserve(holders.size());
  for (const Holder& holder : holders) indexes.emplace_back(*holder.catalogue);
  const auto find =
      [&](const ComponentRecord& wanted) -> std::pair<const Holder*, const ComponentRecord*> {
    for (std::size_t h = 0; h < holders.size(); ++h) {
      if (const ComponentRecord* entry = indexes[h].find(*holders[h].catalogue, wanted)) {
        return {&holders[h], entry};
      }
    }
    return {nullptr, nullptr};
  };

  vss::BackupComponents& service = *snapshot.backupComponents;
  std::vector<vss::Guid>& instances = snapshot.selectionInstances[writerId];
  for (ComponentRecord& selection : selections) {
    auto [holder, entry] = find(selection);
    if (entry == nullptr) std::tie(holder, entry) = find(fallbackRecord(selection));
    if (entry == nullptr) {
      return StepResult::failure(
          messages::noComponent(selection.logicalPath, selection.componentName));
    }
    selection = *entry;
    const Status status = service.addComponent(holder->instanceId, classId, selection.componentType,
                                               selection.logicalPath, selection.componentName);
    if (failed(status)) return callFailure(label::kAddComponent, status);
    instances.push_back(holder->instanceId);
  }
  return StepResult::success();
}

// The metadata entries of each selected writer, in key order: those whose
// stated class is the writer's, in the service's order. Nothing when an entry
// did not state its identity; writers then pair with entries by position.
std::optional<std::vector<std::vector<std::uint32_t>>> entriesByIdentity(
    const Snapshot& snapshot, std::uint32_t writerCount) {
  if (snapshot.writerIdentities.size() != writerCount) return std::nullopt;
  std::vector<std::vector<std::uint32_t>> entries(snapshot.writerClassIds.size());
  for (const auto& [position, identity] : snapshot.writerIdentities) {
    for (std::size_t writer = 0; writer < entries.size(); ++writer) {
      if (snapshot.writerClassIds[writer] == identity.classId) {
        entries[writer].push_back(static_cast<std::uint32_t>(position));
      }
    }
  }
  return entries;
}

StepResult writerPreparation(Snapshot& snapshot, vss::BackupComponents& service) {
  Status status = service.setBackupState(true, false, snapshot.backupType, false);
  if (failed(status)) return callFailure(label::kSetBackupState, status);
  status = service.setContext(vss::kContextBackup);
  if (failed(status)) return callFailure(label::kSetContext, status);

  StepResult result = parseWriterClassIds(snapshot);
  if (!result.ok) return result;
  status = service.enableWriterClasses(snapshot.writerClassIds);
  if (failed(status)) return callFailure(label::kEnableWriterClasses, status);

  std::unique_ptr<vss::Async> async;
  status = service.gatherWriterMetadata(async);
  result = vss::awaitAsync(label::kGatherWriterMetadata, status, std::move(async));
  if (!result.ok) return result;

  std::uint32_t writerCount = 0;
  status = service.getWriterMetadataCount(writerCount);
  if (failed(status)) return callFailure(label::kGetWriterMetadataCount, status);
  // Every selected writer needs an entry of its own; with the identities the
  // catalogue collects, one or more per selected class (a class may run as
  // several instances), and without them exactly one each. The catalogue's
  // own failure is only a warning: the matching below then finds no
  // components and says so.
  if (writerCount < snapshot.writerSelections.size()) {
    return StepResult::failure(std::u16string(messages::kMissingWriter));
  }
  loadWriterComponents(snapshot);
  const auto byIdentity = entriesByIdentity(snapshot, writerCount);
  const bool everyWriterFound =
      byIdentity ? std::none_of(byIdentity->begin(), byIdentity->end(),
                                [](const auto& entries) { return entries.empty(); })
                 : writerCount == snapshot.writerSelections.size();
  if (!everyWriterFound) return StepResult::failure(std::u16string(messages::kMissingWriter));

  std::uint32_t writer = 0;
  for (auto& [writerId, selections] : snapshot.writerSelections) {
    // By position, the writer's instance comes from its own entry and its
    // components from the first entry of its class.
    const std::vector<std::uint32_t> entries =
        byIdentity ? (*byIdentity)[writer] : std::vector<std::uint32_t>{writer};
    std::vector<Holder> holders;
    for (const std::uint32_t position : entries) {
      vss::Guid instanceId;
      std::unique_ptr<vss::WriterMetadata> metadata;
      status = vss::obtained(service.getWriterMetadata(position, instanceId, metadata), metadata);
      if (failed(status)) return callFailure(label::kGetWriterMetadata, status);
      holders.push_back({instanceId, byIdentity ? &catalogueAt(snapshot, position)
                                                : &catalogueOf(snapshot, position)});
    }
    snapshot.writerInstanceIds.push_back(holders.front().instanceId);
    result = addSelectedComponents(snapshot, writerId, snapshot.writerClassIds[writer], holders,
                                   selections);
    if (!result.ok) return result;
    ++writer;
  }
  return StepResult::success();
}

}  // namespace

void forgetPreparation(Snapshot& snapshot) {
  snapshot.backupComponents.reset();
  snapshot.writerClassIds.clear();
  snapshot.writerInstanceIds.clear();
  snapshot.selectionInstances.clear();
  snapshot.writerCatalogue.clear();
  snapshot.writerIdentities.clear();
}

StepResult preparePhase(Snapshot& snapshot) {
  vss::BackupComponents& service = *snapshot.backupComponents;
  // The status of a refused initialisation is not shown: it nearly always
  // means the process lacks the backup privilege.
  if (failed(service.initializeForBackup())) {
    return StepResult::failure(std::u16string(messages::kNoPermission));
  }
  if (snapshot.writerSelections.empty()) return volumeOnlyPreparation(service);
  return writerPreparation(snapshot, service);
}

}  // namespace frostcap
