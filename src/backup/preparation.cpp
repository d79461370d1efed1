#include "backup/preparation.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "catalogue/catalogue.h"
#include "frame/await_async.h"
#include "frame/messages.h"
#include "platform/platform.h"
#include "selection/selection.h"
#include "selection/writer_pairing.h"
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

// The class of every selected writer, in the order of their ids; nothing
// when a writer id is not a GUID.
std::optional<std::vector<platform::Guid>> selectedClasses(const Snapshot& snapshot) {
  std::vector<platform::Guid> classIds;
  classIds.reserve(snapshot.selectedWriters.size());
  for (const auto& [writerId, writer] : snapshot.selectedWriters) {
    if (!writer.classId) return std::nullopt;
    classIds.push_back(*writer.classId);
  }
  return classIds;
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
  const platform::Guid& classId =
      *std::next(snapshot.selectedWriters.begin(), position)->second.classId;
  std::uint32_t first = 0;
  for (const auto& [writerId, writer] : snapshot.selectedWriters) {
    if (writer.classId == classId) break;
    ++first;
  }
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
StepResult addSelectedComponents(vss::BackupComponents& service, SelectedWriter& writer,
                                 const std::vector<Holder>& holders) {
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

  for (Selection& selection : writer.selections) {
    ComponentRecord& component = selection.component;
    auto [holder, entry] = find(component);
    if (entry == nullptr) std::tie(holder, entry) = find(fallbackRecord(component));
    if (entry == nullptr) {
      return StepResult::failure(
          messages::noComponent(component.logicalPath, component.componentName));
    }
    component = *entry;
    const Status status =
        service.addComponent(holder->instanceId, *writer.classId, component.componentType,
                             component.logicalPath, component.componentName);
    if (failed(status)) return callFailure(label::kAddComponent, status);
    selection.addedFor = holder->instanceId;
  }
  return StepResult::success();
}

// The metadata entries of each selected writer, in the service's order. The
// identities the catalogue collected count only when every entry stated one;
// otherwise writers pair with entries by position.
std::map<const SelectedWriter*, std::vector<std::uint32_t>> entriesOfWriters(
    const Snapshot& snapshot, std::uint32_t writerCount, bool byIdentity) {
  std::map<const SelectedWriter*, std::vector<std::uint32_t>> entries;
  for (std::uint32_t position = 0; position < writerCount; ++position) {
    std::optional<vss::WriterIdentity> identity;
    const auto stated = snapshot.writerIdentities.find(position);
    if (byIdentity && stated != snapshot.writerIdentities.end()) identity = stated->second;
    for (const SelectedWriter* writer : writersOfEntry(snapshot, position, identity)) {
      entries[writer].push_back(position);
    }
  }
  return entries;
}

StepResult writerPreparation(Snapshot& snapshot, vss::BackupComponents& service) {
  Status status = service.setBackupState(true, false, snapshot.backupType, false);
  if (failed(status)) return callFailure(label::kSetBackupState, status);
  status = service.setContext(vss::kContextBackup);
  if (failed(status)) return callFailure(label::kSetContext, status);

  const std::optional<std::vector<platform::Guid>> classIds = selectedClasses(snapshot);
  if (!classIds) return StepResult::failure(std::u16string(messages::kBadGuid));
  status = service.enableWriterClasses(*classIds);
  if (failed(status)) return callFailure(label::kEnableWriterClasses, status);

  std::unique_ptr<vss::Async> async;
  status = service.gatherWriterMetadata(async);
  StepResult result = vss::awaitAsync(label::kGatherWriterMetadata, status, std::move(async));
  if (!result.ok) return result;

  std::uint32_t writerCount = 0;
  result = countWriterEntries(service, writerCount);
  if (!result.ok) return result;
  // Every selected writer needs an entry of its own; with the identities the
  // catalogue collects, one or more per selected class (a class may run as
  // several instances), and without them exactly one each. The catalogue's
  // own failure is only a warning: the matching below then finds no
  // components and says so.
  const std::size_t selectedCount = snapshot.selectedWriters.size();
  if (writerCount < selectedCount) {
    return StepResult::failure(std::u16string(messages::kMissingWriter));
  }
  loadWriterComponents(snapshot);
  const bool byIdentity = snapshot.writerIdentities.size() == writerCount;
  const auto entries = entriesOfWriters(snapshot, writerCount, byIdentity);
  if (entries.size() != selectedCount || (!byIdentity && writerCount != selectedCount)) {
    return StepResult::failure(std::u16string(messages::kMissingWriter));
  }

  for (auto& [writerId, writer] : snapshot.selectedWriters) {
    // By position, the writer's instance comes from its own entry and its
    // components from the first entry of its class.
    std::vector<Holder> holders;
    for (const std::uint32_t position : entries.at(&writer)) {
      result = visitWriterEntry(service, position, [&](const WriterEntry& entry) {
        holders.push_back({entry.instanceId, byIdentity ? &catalogueAt(snapshot, entry.position)
                                                        : &catalogueOf(snapshot, entry.position)});
        return StepResult::success();
      });
      if (!result.ok) return result;
    }
    for (const Holder& holder : holders) writer.instanceIds.push_back(holder.instanceId);
    result = addSelectedComponents(service, writer, holders);
    if (!result.ok) return result;
  }
  return StepResult::success();
}

}  // namespace

void forgetPreparation(Snapshot& snapshot) {
  snapshot.backupComponents.reset();
  snapshot.writerCatalogue.clear();
  snapshot.writerIdentities.clear();
  for (auto& [writerId, writer] : snapshot.selectedWriters) writer.forgetPreparation();
}

StepResult preparePhase(Snapshot& snapshot) {
  vss::BackupComponents& service = *snapshot.backupComponents;
  // The status of a refused initialisation is not shown: it nearly always
  // means the process lacks the backup privilege.
  if (failed(service.initializeForBackup())) {
    return StepResult::failure(std::u16string(messages::kNoPermission));
  }
  if (snapshot.selectedWriters.empty()) return volumeOnlyPreparation(service);
  return writerPreparation(snapshot, service);
}

}  // namespace frostcap
