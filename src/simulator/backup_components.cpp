#include "simulator/backup_components.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "simulator/documents.h"
#include "simulator/rules.h"
#include "simulator/shadow_copy.h"
#include "simulator/volume_names.h"
#include "simulator/writer_objects.h"
#include "status/status.h"

namespace frostcap::simulator {
namespace {

constexpr Status code(std::uint32_t value) { return static_cast<Status>(value); }

constexpr Status kObjectNotFound = code(0x80042308);  // VSS_E_OBJECT_NOT_FOUND
constexpr Status kAlreadyExists = code(0x8004230D);   // VSS_E_OBJECT_ALREADY_EXISTS
constexpr Status kProviderError = code(0x8004230F);   // VSS_E_UNEXPECTED_PROVIDER_ERROR
constexpr Status kVolumeNotSupportedByProvider = code(0x8004230E);
constexpr Status kInvalidArgument = code(0x80070057);  // E_INVALIDARG
constexpr Status kInvalidDocument = code(0x80042311);  // VSS_E_INVALID_XML_DOCUMENT

constexpr std::int32_t kNoWritersAttribute = 0x10;      // VSS_VOLSNAP_ATTR_NO_WRITERS
constexpr std::int32_t kTransportableAttribute = 0x20;  // VSS_VOLSNAP_ATTR_TRANSPORTABLE
constexpr std::int32_t kAllContexts = -1;               // VSS_CTX_ALL
constexpr std::uint32_t kLastBackupType = 6;            // VSS_BT_OTHER
constexpr std::size_t kMaxVolumesPerSet = 64;
constexpr std::uint32_t kObjectNone = 1;         // VSS_OBJECT_NONE
constexpr std::uint32_t kObjectSnapshotSet = 2;  // VSS_OBJECT_SNAPSHOT_SET
constexpr std::uint32_t kObjectSnapshot = 3;     // VSS_OBJECT_SNAPSHOT
constexpr std::uint32_t kObjectProvider = 4;     // VSS_OBJECT_PROVIDER

// The contexts SetContext takes: VSS_CTX_BACKUP, _FILE_SHARE_BACKUP,
// _NAS_ROLLBACK, _APP_ROLLBACK, _CLIENT_ACCESSIBLE, _CLIENT_ACCESSIBLE_WRITERS
// and _ALL, the first six optionally with the attributes a requester may add
// (transportable, rollback recovery, TxF recovery).
bool isContext(std::int32_t context) {
  constexpr std::int32_t kAddable = kTransportableAttribute | 0x800000 | 0x2000000;
  if (context == kAllContexts) return true;
  switch (context & ~kAddable) {
    case 0x00:
    case 0x10:
    case 0x19:
    case 0x09:
    case 0x1D:
    case 0x0D:
      return true;
    default:
      return false;
  }
}

// Where an object of VSS_CTX_ALL sees every copy, others see their context's.
bool inContext(std::int32_t context, const SnapshotProperties& copy) {
  return context == kAllContexts || copy.context == context;
}

std::string text(std::u16string_view value) { return recordText(value); }
std::string text(const vss::Guid& value) { return recordText(value); }
std::string flag(bool value) { return value ? "true" : "false"; }

// How an operation's failure shows in the record.
std::string outcomeText(const std::string& call, Status result, const std::string& reason = {}) {
  return call + ".Result(" + text(formatStatus(result)) + (reason.empty() ? "" : "; " + reason) +
         ")";
}

struct AddedComponent {
  vss::Guid instanceId;
  vss::Guid classId;
  std::uint32_t type = 0;
  std::u16string logicalPath;
  std::u16string name;
  bool operator==(const AddedComponent&) const = default;
};

// A volume of the object's set; once taken, the copy belongs to the service's
// store, where DeleteSnapshots may end it before the object goes.
struct SnapshotEntry {
  vss::Guid id;
  const Volume* volume = nullptr;
  bool taken = false;
};

// What finishes only when an asynchronous operation is waited on; shared with
// the operations, which may outlive the object.
struct Progress {
  bool metadataGathered = false;
  bool prepared = false;
  bool setTaken = false;
  bool writerStatusGathered = false;
};

class SimulatedBackupComponents final : public ModelBackupComponents, HandedOut {
 public:
  explicit SimulatedBackupComponents(StatePtr state) : HandedOut(std::move(state)) {}

  // The copies go with the object, as non-persistent shadow copies end when
  // the requester releases its backup.
  ~SimulatedBackupComponents() override {
    state_->note("Release", "Release()");
    removeCopies();
  }

  Status initializeForBackup() override {
    const Status status = state_->enter("InitializeForBackup");
    if (failed(status)) return status;
    if (initialized_) return state_->breach("InitializeForBackup", rules::kInitializeOnce);
    initialized_ = true;
    return status;
  }
  Status initializeFromDocument(const std::u16string& document) override {
    const std::string call = "InitializeForBackup";
    const Status status = state_->enter(call, "document");
    if (failed(status)) return status;
    if (initialized_) return state_->breach(call, rules::kInitializeOnce);
    const std::optional<BackupDocument> backup = readBackupComponentsDocument(document);
    if (!backup) return kInvalidDocument;
    initialized_ = true;
    backupState_ = {backup->selectComponents, backup->bootable, backup->backupType,
                    backup->partialFileSupport};
    backupStateSet_ = true;
    context_ = backup->context;
    for (const DocumentComponent& c : backup->components) {
      added_.push_back({c.instanceId, c.classId, c.type, c.logicalPath, c.name});
    }
    return status;
  }
  Status saveAsXml(std::u16string& document) override {
    const std::string call = "SaveAsXML";
    Status status = state_->enter(call);
    if (failed(status) || failed(status = usable(call))) return status;
    BackupDocument backup{backupState_.selectComponents,
                          backupState_.bootable,
                          backupState_.type,
                          backupState_.partial,
                          context_,
                          std::nullopt,
                          {},
                          {}};
    if (setStarted_) backup.snapshotSetId = setId_;
    for (const SnapshotEntry& snapshot : snapshots_) backup.snapshotIds.push_back(snapshot.id);
    for (const AddedComponent& c : added_) {
      backup.components.push_back({c.instanceId, c.classId, c.type, c.logicalPath, c.name});
    }
    document = backupComponentsDocument(backup);
    return status;
  }
  Status setBackupState(bool selectComponents, bool bootable, std::uint32_t type,
                        bool partial) override {
    const std::string call = "SetBackupState";
    Status status = state_->enter(call, flag(selectComponents) + "," + flag(bootable) + "," +
                                            std::to_string(type) + "," + flag(partial));
    if (failed(status) || failed(status = usable(call))) return status;
    if (type > kLastBackupType) return kInvalidArgument;
    backupState_ = {selectComponents, bootable, type, partial};
    backupStateSet_ = true;
    return status;
  }
  Status setContext(std::int32_t context) override {
    const std::string call = "SetContext";
    Status status = state_->enter(call, std::to_string(context));
    if (failed(status) || failed(status = usable(call))) return status;
    if (contextSet_) return state_->breach(call, rules::kContextOnce);
    if (!isContext(context)) return kInvalidArgument;
    // The documented order sets the context first; nothing says the other
    // order is refused. Without SetContext the context is VSS_CTX_BACKUP.
    if (backupStateSet_) state_->assume(call, "accepted after SetBackupState");
    context_ = context;
    contextSet_ = true;
    return status;
  }
  Status disableWriterClasses(const std::vector<vss::Guid>& classIds) override {
    return chooseWriters("DisableWriterClasses", classIds, [&] {
      disabledClasses_.insert(disabledClasses_.end(), classIds.begin(), classIds.end());
    });
  }
  Status disableWriterInstances(const std::vector<vss::Guid>& instanceIds) override {
    return chooseWriters("DisableWriterInstances", instanceIds, [&] {
      disabledInstances_.insert(disabledInstances_.end(), instanceIds.begin(), instanceIds.end());
    });
  }
  Status enableWriterClasses(const std::vector<vss::Guid>& classIds) override {
    return chooseWriters("EnableWriterClasses", classIds, [&] {
      if (!enabledClasses_) enabledClasses_.emplace();
      enabledClasses_->insert(enabledClasses_->end(), classIds.begin(), classIds.end());
    });
  }
  Status gatherWriterMetadata(std::unique_ptr<vss::Async>& async) override {
    return startAsync(
        "GatherWriterMetadata", async,
        [&](const std::string& call) {
          // Once per object, whether or not the gathering succeeds.
          if (metadataRequested_) return state_->breach(call, rules::kMetadataOnce);
          metadataRequested_ = true;
          return Status{0};
        },
        [] { return Status{0}; }, [](Progress& progress) { progress.metadataGathered = true; });
  }
  Status getWriterMetadataCount(std::uint32_t& count) override {
    const std::string call = "GetWriterMetadataCount";
    Status status = state_->enter(call);
    if (failed(status) || failed(status = metadataReadable(call))) return status;
    count = static_cast<std::uint32_t>(reportedWriters().size());
    return status;
  }
  Status getWriterMetadata(std::uint32_t index, vss::Guid& instanceId,
                           std::unique_ptr<vss::WriterMetadata>& metadata) override {
    const std::string call = "GetWriterMetadata";
    Status status = state_->enter(call, std::to_string(index));
    if (failed(status) || failed(status = metadataReadable(call))) return status;
    const auto writers = reportedWriters();
    if (index >= writers.size()) return kInvalidArgument;
    instanceId = writers[index]->instanceId;
    metadata = makeWriterMetadata(state_, *writers[index]);
    return status;
  }
  Status freeWriterMetadata() override {
    const std::string call = "FreeWriterMetadata";
    Status status = state_->enter(call);
    if (failed(status) || failed(status = metadataReadable(call))) return status;
    progress_->metadataGathered = false;
    return status;
  }
  Status addComponent(const vss::Guid& instanceId, const vss::Guid& classId, std::uint32_t type,
                      const std::u16string& logicalPath, const std::u16string& name) override {
    const std::string call = "AddComponent";
    Status status =
        state_->enter(call, text(instanceId) + "," + text(classId) + "," + std::to_string(type) +
                                "," + text(logicalPath) + "," + text(name));
    if (failed(status) || failed(status = usable(call))) return status;
    if (!writersTakePart()) return state_->breach(call, rules::kWritersInContext);
    if (!progress_->metadataGathered) return state_->breach(call, rules::kComponentAfterMetadata);
    if (prepareRequested_) return state_->breach(call, rules::kComponentBeforePreparation);
    const AddedComponent component{instanceId, classId, type, logicalPath, name};
    if (!writerHas(component)) return kObjectNotFound;
    if (std::find(added_.begin(), added_.end(), component) != added_.end()) return kAlreadyExists;
    added_.push_back(component);
    return status;
  }
  Status setBackupSucceeded(const vss::Guid& instanceId, const vss::Guid& classId,
                            std::uint32_t type, const std::u16string& logicalPath,
                            const std::u16string& name, bool succeeded) override {
    const std::string call = "SetBackupSucceeded";
    Status status =
        state_->enter(call, text(instanceId) + "," + text(classId) + "," + std::to_string(type) +
                                "," + text(logicalPath) + "," + text(name) + "," + flag(succeeded));
    if (failed(status) || failed(status = usable(call))) return status;
    // Requesters are told not to mark components after a failed snapshot,
    // but no status is documented for it.
    if (!progress_->setTaken) state_->assume(call, "accepted without shadow copies");
    const AddedComponent component{instanceId, classId, type, logicalPath, name};
    if (std::find(added_.begin(), added_.end(), component) == added_.end()) {
      return kObjectNotFound;
    }
    return status;
  }
  Status startSnapshotSet(vss::Guid& snapshotSetId) override {
    const std::string call = "StartSnapshotSet";
    Status status = state_->enter(call);
    if (failed(status) || failed(status = usable(call))) return status;
    if (setStarted_) return state_->breach(call, rules::kOneSet);
    if (context_ == kAllContexts) return state_->breach(call, rules::kNoSetInAllContexts);
    setStarted_ = true;
    snapshotSetId = setId_ = state_->newIdentifier();
    return status;
  }
  Status addToSnapshotSet(const std::u16string& volumePath, const vss::Guid& providerId,
                          vss::Guid& snapshotId) override {
    const std::string call = "AddToSnapshotSet";
    Status status = state_->enter(call, text(volumePath) + "," + text(providerId));
    if (failed(status) || failed(status = usable(call))) return status;
    if (!setStarted_) return state_->breach(call, rules::kSetStarted);
    if (snapshotRequested_) return state_->breach(call, rules::kSetOpen);
    const Volume* volume = state_->findVolume(volumePath);
    if (!hasVolumeNameForm(volumePath, volume ? volume->name : u"")) {
      return state_->breach(call, rules::kVolumeNameForm);
    }
    if (volume == nullptr) return kObjectNotFound;
    if (std::any_of(snapshots_.begin(), snapshots_.end(),
                    [&](const SnapshotEntry& s) { return s.volume == volume; })) {
      return kAlreadyExists;
    }
    if (snapshots_.size() == kMaxVolumesPerSet) return state_->breach(call, rules::kVolumesPerSet);
    // The system's provider makes no transportable copies.
    if ((context_ & kTransportableAttribute) != 0) return kVolumeNotSupportedByProvider;
    snapshotId = state_->newIdentifier();
    snapshots_.push_back({snapshotId, volume, false});
    return status;
  }
  Status prepareForBackup(std::unique_ptr<vss::Async>& async) override {
    return startAsync(
        "PrepareForBackup", async,
        [&](const std::string& call) {
          if (!writersTakePart()) return state_->breach(call, rules::kWritersInContext);
          if (!backupStateSet_) return state_->breach(call, rules::kBackupStateFirst);
          if (!setStarted_) return state_->breach(call, rules::kSetStarted);
          assumeWritersUngathered(call);
          prepareRequested_ = true;
          return Status{0};
        },
        [] { return Status{0}; }, [](Progress& progress) { progress.prepared = true; });
  }
  Status doSnapshotSet(std::unique_ptr<vss::Async>& async) override {
    return startAsync(
        "DoSnapshotSet", async,
        [&](const std::string& call) {
          if (!setStarted_) return state_->breach(call, rules::kSetStarted);
          if (snapshotRequested_) return state_->breach(call, rules::kSetOpen);
          if (writersTakePart() && !progress_->prepared) {
            return state_->breach(call, rules::kPreparedFirst);
          }
          assumeWritersUngathered(call);
          snapshotRequested_ = true;
          return Status{0};
        },
        [&] { return takeCopies(); }, [](Progress& progress) { progress.setTaken = true; });
  }
  Status getSnapshotProperties(const vss::Guid& snapshotId, std::u16string& device) override {
    SnapshotProperties properties;
    const Status status = snapshotProperties(snapshotId, properties);
    if (!failed(status)) device = properties.device;
    return status;
  }
  Status snapshotProperties(const vss::Guid& snapshotId, SnapshotProperties& properties) override {
    const std::string call = "GetSnapshotProperties";
    Status status = state_->enter(call, text(snapshotId));
    if (failed(status) || failed(status = usable(call))) return status;
    // A copy of this object's own set exists once the set has been waited for.
    const auto own = std::find_if(snapshots_.begin(), snapshots_.end(),
                                  [&](const SnapshotEntry& s) { return s.id == snapshotId; });
    if (own != snapshots_.end() && (!progress_->setTaken || !own->taken)) return kObjectNotFound;
    const std::optional<SnapshotProperties> found = state_->snapshots().find(snapshotId);
    if (!found || (own == snapshots_.end() && !inContext(context_, *found))) return kObjectNotFound;
    properties = *found;
    return status;
  }
  Status query(const vss::Guid& queriedId, std::uint32_t queriedType, std::uint32_t returnedType,
               std::vector<SnapshotProperties>& snapshots) override {
    const std::string call = "Query";
    Status status = state_->enter(call, text(queriedId) + "," + std::to_string(queriedType) + "," +
                                            std::to_string(returnedType));
    if (failed(status) || failed(status = usable(call))) return status;
    if (queriedId != vss::Guid{} || queriedType != kObjectNone ||
        (returnedType != kObjectSnapshot && returnedType != kObjectProvider)) {
      return kInvalidArgument;
    }
    if (returnedType == kObjectProvider) return status;
    for (SnapshotProperties& copy : state_->snapshots().list()) {
      if (inContext(context_, copy)) snapshots.push_back(std::move(copy));
    }
    return status;
  }
  Status deleteSnapshots(const vss::Guid& id, std::uint32_t type, bool force, std::int32_t& deleted,
                         vss::Guid& notDeleted) override {
    const std::string call = "DeleteSnapshots";
    Status status = state_->enter(call, text(id) + "," + std::to_string(type) + "," + flag(force));
    if (failed(status) || failed(status = usable(call))) return status;
    deleted = 0;
    notDeleted = {};
    if (type != kObjectSnapshotSet && type != kObjectSnapshot) return kInvalidArgument;
    for (const SnapshotProperties& copy : state_->snapshots().list()) {
      if (!inContext(context_, copy) || (type == kObjectSnapshotSet ? copy.setId : copy.id) != id) {
        continue;
      }
      if (state_->snapshots().remove(copy.id)) state_->removeShadowCopy(copy.device);
      ++deleted;
    }
    return deleted == 0 ? kObjectNotFound : status;
  }
  Status isVolumeSupported(const vss::Guid& providerId, const std::u16string& volume,
                           bool& supported) override {
    const std::string call = "IsVolumeSupported";
    Status status = state_->enter(call, text(volume) + "," + text(providerId));
    if (failed(status) || failed(status = usable(call))) return status;
    const Volume* named = state_->findVolume(volume);
    if (!hasVolumeNameForm(volume, named ? named->name : u"")) {
      return state_->breach(call, rules::kVolumeNameForm);
    }
    if (named == nullptr) return kObjectNotFound;
    supported = (context_ & kTransportableAttribute) == 0;
    return status;
  }
  Status gatherWriterStatus(std::unique_ptr<vss::Async>& async) override {
    return startAsync(
        "GatherWriterStatus", async,
        [&](const std::string& call) {
          // Writers are asked for their status in every context; whether a
          // context without writers answers is not documented.
          if (!writersTakePart()) state_->assume(call, "accepted in a context without writers");
          return Status{0};
        },
        [] { return Status{0}; }, [](Progress& progress) { progress.writerStatusGathered = true; });
  }
  Status getWriterStatusCount(std::uint32_t& count) override {
    const std::string call = "GetWriterStatusCount";
    Status status = state_->enter(call);
    if (failed(status) || failed(status = statusReadable(call))) return status;
    count = static_cast<std::uint32_t>(reportedWriters().size());
    return status;
  }
  Status getWriterStatus(std::uint32_t index, vss::WriterStatus& writerStatus) override {
    const std::string call = "GetWriterStatus";
    Status status = state_->enter(call, std::to_string(index));
    if (failed(status) || failed(status = statusReadable(call))) return status;
    const auto writers = reportedWriters();
    if (index >= writers.size()) return kInvalidArgument;
    const WriterSpec& writer = *writers[index];
    writerStatus = {writer.instanceId, writer.classId, writer.name, writer.state, writer.status};
    return status;
  }
  Status freeWriterStatus() override {
    const std::string call = "FreeWriterStatus";
    Status status = state_->enter(call);
    if (failed(status) || failed(status = statusReadable(call))) return status;
    progress_->writerStatusGathered = false;
    return status;
  }
  Status getWriterComponentsCount(std::uint32_t& count) override {
    const std::string call = "GetWriterComponentsCount";
    Status status = state_->enter(call);
    if (failed(status) || failed(status = usable(call))) return status;
    count = static_cast<std::uint32_t>(writersInDocument().size());
    return status;
  }
  Status getWriterComponents(std::uint32_t index,
                             std::unique_ptr<vss::WriterComponents>& components) override {
    const std::string call = "GetWriterComponents";
    Status status = state_->enter(call, std::to_string(index));
    if (failed(status) || failed(status = usable(call))) return status;
    const auto writers = writersInDocument();
    if (index >= writers.size()) return kInvalidArgument;
    components = makeWriterComponents(state_, *writers[index], componentsInBackup(*writers[index]));
    return status;
  }
  Status backupComplete(std::unique_ptr<vss::Async>& async) override {
    return startAsync(
        "BackupComplete", async,
        [&](const std::string& call) {
          if (!writersTakePart()) return state_->breach(call, rules::kWritersInContext);
          if (!progress_->setTaken) return state_->breach(call, rules::kSnapshotFirst);
          return Status{0};
        },
        [] { return Status{0}; }, [](Progress&) {});
  }
  // Ends the backup: its shadow copies go, and the object takes no further
  // step. Without anything under way it changes nothing but that.
  Status abortBackup() override {
    const std::string call = "AbortBackup";
    Status status = state_->enter(call);
    if (failed(status) || failed(status = usable(call))) return status;
    // Copies already made end, unless persistent.
    removeCopies();
    aborted_ = true;
    return status;
  }

 private:
  // Whether the object takes calls at all.
  Status usable(const std::string& call) const {
    if (!initialized_) return state_->breach(call, rules::kInitializeFirst);
    if (aborted_) return state_->breach(call, rules::kNotAborted);
    return Status{0};
  }
  Status metadataReadable(const std::string& call) const {
    const Status status = usable(call);
    if (failed(status) || progress_->metadataGathered) return status;
    return state_->breach(call, rules::kMetadataGathered);
  }
  Status statusReadable(const std::string& call) const {
    const Status status = usable(call);
    if (failed(status) || progress_->writerStatusGathered) return status;
    return state_->breach(call, rules::kStatusGathered);
  }
  bool writersTakePart() const { return (context_ & kNoWritersAttribute) == 0; }
  bool persistent() const {
    return context_ != kAllContexts && (context_ & kPersistentAttribute) != 0;
  }

  // Writers would take part but were never asked for their metadata. The
  // documentation says the call fails; requesters that image whole volumes,
  // widely deployed, make it and succeed, so the model accepts it.
  void assumeWritersUngathered(const std::string& call) {
    if (!writersTakePart() || metadataRequested_) return;
    state_->assume(call,
                   "accepted in a context with writers without GatherWriterMetadata, which "
                   "https://learn.microsoft.com/windows/win32/vss/shadow-copy-creation-details "
                   "says fails; deployed imaging requesters make this call");
  }

  // EnableWriterClasses, DisableWriterClasses and DisableWriterInstances:
  // `choose` changes which writers take part, as long as the metadata has
  // not been asked for; they are documented to have no effect after that.
  template <typename Choose>
  Status chooseWriters(const std::string& call, const std::vector<vss::Guid>& ids, Choose choose) {
    std::string arguments;
    for (const vss::Guid& id : ids) arguments += (arguments.empty() ? "" : ",") + text(id);
    Status status = state_->enter(call, arguments);
    if (failed(status) || failed(status = usable(call))) return status;
    if (ids.empty()) return kInvalidArgument;
    if (!metadataRequested_) choose();
    return status;
  }

  // The object's copies end with it, unless persistent; so do they when the
  // backup is aborted.
  void removeCopies() {
    if (persistent()) return;
    for (SnapshotEntry& snapshot : snapshots_) {
      if (!snapshot.taken) continue;
      const std::optional<SnapshotProperties> copy = state_->snapshots().find(snapshot.id);
      if (copy && state_->snapshots().remove(snapshot.id)) state_->removeShadowCopy(copy->device);
    }
  }

  // Starts an asynchronous operation: `check` decides whether the call is
  // accepted, `work` runs at once and gives the operation's own status, and
  // `finish` marks it done once it has been waited on. A planned failure of
  // the operation keeps its work from running at all.
  template <typename Check, typename Work, typename Finish>
  Status startAsync(const std::string& call, std::unique_ptr<vss::Async>& async, Check check,
                    Work work, Finish finish) {
    Status status = state_->enter(call);
    if (failed(status) || failed(status = usable(call))) return status;
    status = check(call);
    if (failed(status)) return status;
    const std::optional<Status> planned = state_->plannedOutcome(call + ".Result");
    Status result = 0;
    if (planned && failed(*planned)) {
      result = *planned;
    } else {
      result = work();
      if (planned && !failed(result)) result = *planned;
    }
    if (failed(result) && planned) state_->note(call + ".Result", outcomeText(call, result));
    async = makeAsync(state_, call, result, [progress = progress_, finish] { finish(*progress); });
    return status;
  }

  // Copies every volume of the set; all or nothing. The copies then belong
  // to the service's store.
  Status takeCopies() {
    std::vector<std::pair<SnapshotProperties, std::unique_ptr<ShadowCopy>>> made;
    try {
      const std::int64_t created = timestampNow();
      for (SnapshotEntry& snapshot : snapshots_) {
        const int number = state_->nextShadowCopyNumber();
        std::unique_ptr<ShadowCopy> copy;
        // A volume without files has a shadow copy in name only.
        if (!snapshot.volume->directory.empty()) {
          copy = std::make_unique<ShadowCopy>(snapshot.volume->directory, number,
                                              CopyOptions{{}, persistent()});
        }
        SnapshotProperties properties;
        properties.id = snapshot.id;
        properties.setId = setId_;
        properties.context = context_;
        properties.attributes = context_;
        properties.setCount = static_cast<std::int32_t>(snapshots_.size());
        properties.volumeName = state_->volumeGuidPath(*snapshot.volume);
        properties.device = snapshot.volume->device.value_or(copy ? copy->deviceName()
                                                                  : shadowCopyDeviceName(number));
        properties.created = created;
        if (copy) properties.directory = copy->directory();
        made.emplace_back(std::move(properties), std::move(copy));
      }
      for (auto& [properties, copy] : made) {
        const std::filesystem::path directory = properties.directory;
        state_->snapshots().add(properties, std::move(copy));
        if (!directory.empty()) state_->addShadowCopy(properties.device, directory);
      }
    } catch (const std::exception& error) {
      for (const auto& [properties, copy] : made) {
        if (state_->snapshots().remove(properties.id)) state_->removeShadowCopy(properties.device);
      }
      state_->note("DoSnapshotSet.Result",
                   outcomeText("DoSnapshotSet", kProviderError, error.what()));
      return kProviderError;
    }
    for (SnapshotEntry& snapshot : snapshots_) snapshot.taken = true;
    return Status{0};
  }

  // The writers taking part: none in a context without writers, otherwise
  // those of the enabled classes (all when none were enabled), in scenario
  // order.
  std::vector<const WriterSpec*> reportedWriters() const {
    std::vector<const WriterSpec*> writers;
    if (!writersTakePart()) return writers;
    const auto among = [](const std::vector<vss::Guid>& ids, const vss::Guid& id) {
      return std::find(ids.begin(), ids.end(), id) != ids.end();
    };
    for (const WriterSpec& writer : state_->scenario().writers) {
      if (enabledClasses_ && !among(*enabledClasses_, writer.classId)) continue;
      if (among(disabledClasses_, writer.classId) || among(disabledInstances_, writer.instanceId)) {
        continue;
      }
      writers.push_back(&writer);
    }
    return writers;
  }

  // The writers with components in the backup's document, in the order the
  // service reports writers: GetWriterComponents counts these, not every
  // writer whose status it reports.
  std::vector<const WriterSpec*> writersInDocument() const {
    std::vector<const WriterSpec*> writers;
    for (const WriterSpec* writer : reportedWriters()) {
      if (!componentsInBackup(*writer).empty()) writers.push_back(writer);
    }
    return writers;
  }

  bool writerHas(const AddedComponent& wanted) const {
    for (const WriterSpec* writer : reportedWriters()) {
      if (writer->instanceId != wanted.instanceId || writer->classId != wanted.classId) continue;
      return std::any_of(writer->components.begin(), writer->components.end(),
                         [&](const ComponentSpec& component) {
                           return component.type == wanted.type &&
                                  component.logicalPath == wanted.logicalPath &&
                                  component.name == wanted.name;
                         });
    }
    return false;
  }

  // A writer's components in the backup: those added for it, each with the
  // failure the scenario gives it (none if it gives none), then any failed
  // components the scenario names that were not added.
  std::vector<FailedComponentSpec> componentsInBackup(const WriterSpec& writer) const {
    std::vector<FailedComponentSpec> components;
    const auto failureOf = [&](const std::u16string& name) {
      const auto found =
          std::find_if(writer.failedComponents.begin(), writer.failedComponents.end(),
                       [&](const FailedComponentSpec& failed) { return failed.name == name; });
      return found == writer.failedComponents.end() ? vss::ComponentFailure{} : found->failure;
    };
    for (const AddedComponent& component : added_) {
      if (component.instanceId == writer.instanceId) {
        components.push_back({component.name, failureOf(component.name)});
      }
    }
    for (const FailedComponentSpec& failed : writer.failedComponents) {
      if (std::none_of(components.begin(), components.end(),
                       [&](const FailedComponentSpec& c) { return c.name == failed.name; })) {
        components.push_back(failed);
      }
    }
    return components;
  }

  std::shared_ptr<Progress> progress_ = std::make_shared<Progress>();
  bool initialized_ = false;
  bool contextSet_ = false;
  std::int32_t context_ = 0;  // VSS_CTX_BACKUP until set
  bool backupStateSet_ = false;
  struct BackupState {
    bool selectComponents = false;
    bool bootable = false;
    std::uint32_t type = 0;
    bool partial = false;
  };
  BackupState backupState_;
  std::optional<std::vector<vss::Guid>> enabledClasses_;
  std::vector<vss::Guid> disabledClasses_;
  std::vector<vss::Guid> disabledInstances_;
  vss::Guid setId_;
  bool metadataRequested_ = false;
  std::vector<AddedComponent> added_;
  bool setStarted_ = false;
  bool prepareRequested_ = false;
  bool snapshotRequested_ = false;
  bool aborted_ = false;
  std::vector<SnapshotEntry> snapshots_;
};

}  // namespace

std::unique_ptr<ModelBackupComponents> makeBackupComponents(std::shared_ptr<ServiceState> state) {
  return std::make_unique<SimulatedBackupComponents>(std::move(state));
}

}  // namespace frostcap::simulator
