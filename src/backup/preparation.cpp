#include "backup/preparation.h"

#include <cstddef>
#include <memory>
#include <unordered_map>
#include <vector>

#include "backup/selection.h"
#include "catalogue/catalogue.h"
#include "frame/messages.h"
#include "platform/platform.h"
#include "vss/await_async.h"

namespace frostcap {
namespace {

namespace label = messages::label;

constexpr std::int32_t kContextBackup = 0x0;            // VSS_CTX_BACKUP
constexpr std::int32_t kContextFileShareBackup = 0x10;  // VSS_CTX_FILE_SHARE_BACKUP
constexpr std::uint32_t kVolumeOnlyBackupType = 2;      // VSS_BT_INCREMENTAL

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
  Status status = service.setBackupState(false, false, kVolumeOnlyBackupType, false);
  if (failed(status)) return callFailure(label::kSetBackupState, status);
  status = service.setContext(kContextFileShareBackup);
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

// The catalogue entries of the writer at `position`: those of the first
// position that names the same writer class.
const std::vector<ComponentRecord>& catalogueOf(const Snapshot& snapshot, std::size_t position) {
  static const std::vector<ComponentRecord> kNone;
  std::size_t first = 0;
  while (snapshot.writerClassIds[first] != snapshot.writerClassIds[position]) ++first;
  const auto entry = snapshot.writerCatalogue.find(first);
  return entry == snapshot.writerCatalogue.end() ? kNone : entry->second;
}

// Pairs every selection of one writer with the writer's own component, tries
// the fallback logical path where needed, rewrites the selection to the
// writer's spelling and adds it to the backup.
StepResult addSelectedComponents(vss::BackupComponents& service, const vss::Guid& instanceId,
                                 const vss::Guid& classId,
                                 const std::vector<ComponentRecord>& catalogue,
                                 std::vector<ComponentRecord>& selections) {
  const CatalogueIndex index(catalogue);
  for (ComponentRecord& selection : selections) {
    const ComponentRecord* entry = index.find(catalogue, selection);
    if (entry == nullptr) entry = index.find(catalogue, fallbackRecord(selection));
    if (entry == nullptr) {
      return StepResult::failure(
          messages::noComponent(selection.logicalPath, selection.componentName));
    }
    selection = *entry;
    const Status status = service.addComponent(instanceId, classId, selection.componentType,
                                               selection.logicalPath, selection.componentName);
    if (failed(status)) return callFailure(label::kAddComponent, status);
  }
  return StepResult::success();
}

StepResult writerPreparation(Snapshot& snapshot, vss::BackupComponents& service) {
  Status status = service.setBackupState(true, false, snapshot.backupType, false);
  if (failed(status)) return callFailure(label::kSetBackupState, status);
  status = service.setContext(kContextBackup);
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
  if (writerCount != snapshot.writerSelections.size()) {
    return StepResult::failure(std::u16string(messages::kMissingWriter));
  }

  // The catalogue's own failure is only a warning: the matching below then
  // finds no components and says so.
  loadWriterComponents(snapshot);

  std::uint32_t position = 0;
  for (auto& [writerId, selections] : snapshot.writerSelections) {
    vss::Guid instanceId;
    std::unique_ptr<vss::WriterMetadata> metadata;
    status = vss::obtained(service.getWriterMetadata(position, instanceId, metadata), metadata);
    if (failed(status)) return callFailure(label::kGetWriterMetadata, status);
    snapshot.writerInstanceIds.push_back(instanceId);
    result = addSelectedComponents(service, instanceId, snapshot.writerClassIds[position],
                                   catalogueOf(snapshot, position), selections);
    if (!result.ok) return result;
    ++position;
  }
  return StepResult::success();
}

}  // namespace

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
