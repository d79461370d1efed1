#include "simulator/backup_components.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
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
#include "vss/call_text.h"
#include "vss/constants.h"

namespace frostcap::simulator {
namespace {

// The contexts SetContext takes: VSS_CTX_BACKUP, _FILE_SHARE_BACKUP,
// _NAS_ROLLBACK, _APP_ROLLBACK, _CLIENT_ACCESSIBLE, _CLIENT_ACCESSIBLE_WRITERS
// and _ALL, the first six optionally with the attributes a requester may add
// (transportable, rollback recovery, TxF recovery).
bool isContext(std::int32_t context) {
  constexpr std::int32_t kAddable = vss::kAttributeTransportable | 0x800000 | 0x2000000;
  if (context == vss::kContextAll) return true;
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
  return context == vss::kContextAll || copy.context == context;
}

std::string text(std::u16string_view value) { return recordText(value); }
std::string text(const vss::Guid& value) { return recordText(value); }
std::string flag(bool value) { return vss::flagText(value); }

// How an operation's failure shows in the record.
std::string outcomeText(const std::string& call, Status result, const std::string& reason = {}) {
  return call + ".Result(" + text(formatStatus(result)) + (reason.empty() ? "" : "; " + reason) +
         ")";
}

struct GuidLess {
  bool operator()(const vss::Guid& a, const vss::Guid& b) const {
    return std::memcmp(&a, &b, sizeof(vss::Guid)) < 0;
  }
};

struct AddedComponent {
  vss::Guid instanceId;
  vss::Guid classId;
  std::uint32_t type = 0;
  std::u16string logicalPath;
  std::u16string name;
};

struct AddedLess {
  bool operator()(const AddedComponent& a, const AddedComponent& b) const {
    if (const int order = std::memcmp(&a.instanceId, &b.instanceId, sizeof(vss::Guid))) {
      return order < 0;
    }
    if (const int order = std::memcmp(&a.classId, &b.classId, sizeof(vss::Guid))) return order < 0;
    return std::tie(a.type, a.logicalPath, a.name) < std::tie(b.type, b.logicalPath, b.name);
  }
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
    Call call(*state_, "InitializeForBackup");
    if (!call.admit(rules::kInitializeOnce, !initialized_)) return call.status();
    initialized_ = true;
    return call.status();
  }
  Status initializeFromDocument(const std::u16string& document) override {
    Call call(*state_, "InitializeForBackup", "document");
    if (!call.admit(rules::kInitializeOnce, !initialized_)) return call.status();
    const std::optional<BackupDocument> backup = readBackupComponentsDocument(document);
    if (!backup) return vss::kInvalidXmlDocument;
    initialized_ = true;
    backupState_ = {backup->selectComponents, backup->bootable, backup->backupType,
                    backup->partialFileSupport};
    backupStateSet_ = true;
    context_ = backup->context;
    for (const DocumentComponent& c : backup->components) {
      add({c.instanceId, c.classId, c.type, c.logicalPath, c.name});
    }
    return call.status();
  }
  Status saveAsXml(std::u16string& document) override {
    Call call = enter("SaveAsXML");
    if (call.refused()) return call.status();
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
    return call.status();
  }
  Status setBackupState(bool selectComponents, bool bootable, std::uint32_t type,
                        bool partial) override {
    Call call = enter("SetBackupState", flag(selectComponents) + "," + flag(bootable) + "," +
                                            std::to_string(type) + "," + flag(partial));
    if (call.refused()) return call.status();
    if (type > vss::kBackupTypeOther) return vss::kInvalidArgument;
    backupState_ = {selectComponents, bootable, type, partial};
    backupStateSet_ = true;
    return call.status();
  }
  Status setContext(std::int32_t context) override {
    Call call = enter("SetContext", std::to_string(context));
    if (!call.admit(rules::kContextOnce, !contextSet_)) return call.status();
    if (!isContext(context)) return vss::kInvalidArgument;
    // The documented order sets the context first; nothing says the other
    // order is refused. Without SetContext the context is VSS_CTX_BACKUP.
    if (backupStateSet_) state_->assume(call.name(), "accepted after SetBackupState");
    context_ = context;
    contextSet_ = true;
    forgetWriters();
    return call.status();
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
    Call call = enter("GatherWriterMetadata");
    if (!call.admit(rules::kMetadataOnce, !metadataRequested_)) return call.status();
    // Once per object, whether or not the gathering succeeds.
    metadataRequested_ = true;
    return start(call, async, &Progress::metadataGathered);
  }
  Status getWriterMetadataCount(std::uint32_t& count) override {
    return countWriters(enter("GetWriterMetadataCount"), rules::kMetadataGathered,
                        progress_->metadataGathered, count);
  }
  Status getWriterMetadata(std::uint32_t index, vss::Guid& instanceId,
                           std::unique_ptr<vss::WriterMetadata>& metadata) override {
    Call call = enter("GetWriterMetadata", std::to_string(index));
    if (!call.admit(rules::kMetadataGathered, progress_->metadataGathered)) return call.status();
    const auto& writers = reportedWriters().writers;
    if (index >= writers.size()) return vss::kInvalidArgument;
    instanceId = writers[index]->instanceId;
    metadata = makeWriterMetadata(state_, *writers[index]);
    return call.status();
  }
  Status freeWriterMetadata() override {
    return forget(enter("FreeWriterMetadata"), rules::kMetadataGathered,
                  progress_->metadataGathered);
  }
  Status addComponent(const vss::Guid& instanceId, const vss::Guid& classId, std::uint32_t type,
                      const std::u16string& logicalPath, const std::u16string& name) override {
    Call call =
        enter("AddComponent", text(instanceId) + "," + text(classId) + "," + std::to_string(type) +
                                  "," + text(logicalPath) + "," + text(name));
    if (!call.admit(rules::kWritersInContext, writersTakePart()) ||
        !call.admit(rules::kComponentAfterMetadata, progress_->metadataGathered) ||
        !call.admit(rules::kComponentBeforePreparation, !prepareRequested_)) {
      return call.status();
    }
    const AddedComponent component{instanceId, classId, type, logicalPath, name};
    if (!reportedWriters().offered.contains(component)) return vss::kObjectNotFound;
    if (!add(component)) return vss::kObjectAlreadyExists;
    return call.status();
  }
  Status setBackupSucceeded(const vss::Guid& instanceId, const vss::Guid& classId,
                            std::uint32_t type, const std::u16string& logicalPath,
                            const std::u16string& name, bool succeeded) override {
    Call call = enter("SetBackupSucceeded", text(instanceId) + "," + text(classId) + "," +
                                                std::to_string(type) + "," + text(logicalPath) +
                                                "," + text(name) + "," + flag(succeeded));
    if (call.refused()) return call.status();
    // Requesters are told not to mark components after a failed snapshot,
    // but no status is documented for it.
    if (!progress_->setTaken) state_->assume(call.name(), "accepted without shadow copies");
    if (!added_.contains({instanceId, classId, type, logicalPath, name})) {
      return vss::kObjectNotFound;
    }
    return call.status();
  }
  Status startSnapshotSet(vss::Guid& snapshotSetId) override {
    Call call = enter("StartSnapshotSet");
    if (!call.admit(rules::kOneSet, !setStarted_) ||
        !call.admit(rules::kNoSetInAllContexts, context_ != vss::kContextAll)) {
      return call.status();
    }
    setStarted_ = true;
    snapshotSetId = setId_ = state_->newIdentifier(persistent());
    return call.status();
  }
  Status addToSnapshotSet(const std::u16string& volumePath, const vss::Guid& providerId,
                          vss::Guid& snapshotId) override {
    Call call = enter("AddToSnapshotSet", text(volumePath) + "," + text(providerId));
    const Volume* volume = state_->findVolume(volumePath);
    if (!call.admit(rules::kSetStarted, setStarted_) ||
        !call.admit(rules::kSetOpen, !snapshotRequested_) ||
        !call.admit(rules::kVolumeNameForm,
                    hasVolumeNameForm(volumePath, volume ? volume->name : u""))) {
      return call.status();
    }
    if (volume == nullptr) return vss::kObjectNotFound;
    if (std::any_of(snapshots_.begin(), snapshots_.end(),
                    [&](const SnapshotEntry& s) { return s.volume == volume; })) {
      return vss::kObjectAlreadyExists;
    }
    if (!call.admit(rules::kVolumesPerSet, snapshots_.size() < vss::kMaxVolumesPerSet)) {
      return call.status();
    }
    // The system's provider makes no transportable copies.
    if ((context_ & vss::kAttributeTransportable) != 0) {
      return vss::kVolumeNotSupportedByProvider;
    }
    snapshotId = state_->newIdentifier(persistent());
    snapshots_.push_back({snapshotId, volume, false});
    return call.status();
  }
  Status prepareForBackup(std::unique_ptr<vss::Async>& async) override {
    Call call = enter("PrepareForBackup");
    if (!call.admit(rules::kWritersInContext, writersTakePart()) ||
        !call.admit(rules::kBackupStateFirst, backupStateSet_) ||
        !call.admit(rules::kSetStarted, setStarted_)) {
      return call.status();
    }
    assumeWritersUngathered(call.name());
    prepareRequested_ = true;
    return start(call, async, &Progress::prepared);
  }
  Status doSnapshotSet(std::unique_ptr<vss::Async>& async) override {
    Call call = enter("DoSnapshotSet");
    if (!call.admit(rules::kSetStarted, setStarted_) ||
        !call.admit(rules::kSetOpen, !snapshotRequested_) ||
        !call.admit(rules::kPreparedFirst, !writersTakePart() || progress_->prepared)) {
      return call.status();
    }
    assumeWritersUngathered(call.name());
    snapshotRequested_ = true;
    return start(call, async, &Progress::setTaken, [&] { return takeCopies(); });
  }
  Status getSnapshotProperties(const vss::Guid& snapshotId, std::u16string& device) override {
    SnapshotProperties properties;
    const Status status = snapshotProperties(snapshotId, properties);
    if (!failed(status)) device = properties.device;
    return status;
  }
  Status snapshotProperties(const vss::Guid& snapshotId, SnapshotProperties& properties) override {
    Call call = enter("GetSnapshotProperties", text(snapshotId));
    if (call.refused()) return call.status();
    // A copy of this object's own set exists once the set has been waited for.
    const auto own = std::find_if(snapshots_.begin(), snapshots_.end(),
                                  [&](const SnapshotEntry& s) { return s.id == snapshotId; });
    if (own != snapshots_.end() && (!progress_->setTaken || !own->taken)) {
      return vss::kObjectNotFound;
    }
    const std::optional<SnapshotProperties> found = state_->snapshots().find(snapshotId);
    // A copy the service deleted (its storage filled up) is no longer found.
    if (!found || state_->snapshots().vanished(snapshotId) ||
        (own == snapshots_.end() && !inContext(context_, *found))) {
      return vss::kObjectNotFound;
    }
    properties = *found;
    return call.status();
  }
  Status query(const vss::Guid& queriedId, std::uint32_t queriedType, std::uint32_t returnedType,
               std::vector<SnapshotProperties>& snapshots) override {
    Call call = enter("Query", text(queriedId) + "," + std::to_string(queriedType) + "," +
                                   std::to_string(returnedType));
    if (call.refused()) return call.status();
    if (queriedId != vss::Guid{} || queriedType != vss::kObjectNone ||
        (returnedType != vss::kObjectSnapshot && returnedType != vss::kObjectProvider)) {
      return vss::kInvalidArgument;
    }
    if (returnedType == vss::kObjectProvider) return call.status();
    for (SnapshotProperties& copy : state_->snapshots().list()) {
      if (inContext(context_, copy)) snapshots.push_back(std::move(copy));
    }
    return call.status();
  }
  Status deleteSnapshots(const vss::Guid& id, std::uint32_t type, bool force, std::int32_t& deleted,
                         vss::Guid& notDeleted) override {
    Call call = enter("DeleteSnapshots", text(id) + "," + std::to_string(type) + "," + flag(force));
    if (call.refused()) return call.status();
    deleted = 0;
    notDeleted = {};
    if (type != vss::kObjectSnapshotSet && type != vss::kObjectSnapshot) {
      return vss::kInvalidArgument;
    }
    for (const SnapshotProperties& copy : state_->snapshots().list()) {
      if (!inContext(context_, copy) ||
          (type == vss::kObjectSnapshotSet ? copy.setId : copy.id) != id) {
        continue;
      }
      // Only this run's copies have their device names mapped here.
      if (state_->snapshots().remove(copy.id) == SnapshotStore::Removed::kOfThisRun) {
        state_->removeShadowCopy(copy.device);
      }
      ++deleted;
    }
    return deleted == 0 ? vss::kObjectNotFound : call.status();
  }
  Status isVolumeSupported(const vss::Guid& providerId, const std::u16string& volume,
                           bool& supported) override {
    Call call = enter("IsVolumeSupported", text(volume) + "," + text(providerId));
    const Volume* named = state_->findVolume(volume);
    if (!call.admit(rules::kVolumeNameForm, hasVolumeNameForm(volume, named ? named->name : u""))) {
      return call.status();
    }
    if (named == nullptr) return vss::kObjectNotFound;
    supported = (context_ & vss::kAttributeTransportable) == 0;
    return call.status();
  }
  Status gatherWriterStatus(std::unique_ptr<vss::Async>& async) override {
    Call call = enter("GatherWriterStatus");
    if (call.refused()) return call.status();
    // Writers are asked for their status in every context; whether a
    // context without writers answers is not documented.
    if (!writersTakePart()) state_->assume(call.name(), "accepted in a context without writers");
    return start(call, async, &Progress::writerStatusGathered);
  }
  Status getWriterStatusCount(std::uint32_t& count) override {
    return countWriters(enter("GetWriterStatusCount"), rules::kStatusGathered,
                        progress_->writerStatusGathered, count);
  }
  Status getWriterStatus(std::uint32_t index, vss::WriterStatus& writerStatus) override {
    Call call = enter("GetWriterStatus", std::to_string(index));
    if (!call.admit(rules::kStatusGathered, progress_->writerStatusGathered)) {
      return call.status();
    }
    const auto& writers = reportedWriters().writers;
    if (index >= writers.size()) return vss::kInvalidArgument;
    const WriterSpec& writer = *writers[index];
    writerStatus = {writer.instanceId, writer.classId, writer.name, writer.state, writer.status};
    return call.status();
  }
  Status freeWriterStatus() override {
    return forget(enter("FreeWriterStatus"), rules::kStatusGathered,
                  progress_->writerStatusGathered);
  }
  Status getWriterComponentsCount(std::uint32_t& count) override {
    Call call = enter("GetWriterComponentsCount");
    if (call.refused()) return call.status();
    count = static_cast<std::uint32_t>(writersInDocument().size());
    return call.status();
  }
  Status getWriterComponents(std::uint32_t index,
                             std::unique_ptr<vss::WriterComponents>& components) override {
    Call call = enter("GetWriterComponents", std::to_string(index));
    if (call.refused()) return call.status();
    const auto& writers = writersInDocument();
    if (index >= writers.size()) return vss::kInvalidArgument;
    components = makeWriterComponents(state_, *writers[index], componentsInBackup(*writers[index]));
    return call.status();
  }
  Status backupComplete(std::unique_ptr<vss::Async>& async) override {
    Call call = enter("BackupComplete");
    if (!call.admit(rules::kWritersInContext, writersTakePart()) ||
        !call.admit(rules::kSnapshotFirst, progress_->setTaken)) {
      return call.status();
    }
    return start(call, async, nullptr);
  }
  // Ends the backup: its shadow copies go, and the object takes no further
  // step. Without anything under way it changes nothing but that.
  Status abortBackup() override {
    Call call = enter("AbortBackup");
    if (call.refused()) return call.status();
    // Copies already made end, unless persistent.
    removeCopies();
    aborted_ = true;
    return call.status();
  }

 private:
  // A call to an object that takes calls at all: every method's but
  // InitializeForBackup's.
  Call enter(std::string name, const std::string& arguments = {}) {
    Call call(*state_, std::move(name), arguments);
    call.admit(rules::kInitializeFirst, initialized_);
    call.admit(rules::kNotAborted, !aborted_);
    return call;
  }

  // The count of the writers taking part, once what `rule` asks to have
  // gathered (metadata or status) has been, as `gathered` says.
  Status countWriters(Call call, const Rule& rule, bool gathered, std::uint32_t& count) const {
    if (!call.admit(rule, gathered)) return call.status();
    count = static_cast<std::uint32_t>(reportedWriters().writers.size());
    return call.status();
  }
  // Frees what `rule` asks to have gathered: it is no longer readable.
  Status forget(Call call, const Rule& rule, bool& gathered) {
    if (!call.admit(rule, gathered)) return call.status();
    gathered = false;
    return call.status();
  }

  bool writersTakePart() const { return (context_ & vss::kAttributeNoWriters) == 0; }
  bool persistent() const {
    return context_ != vss::kContextAll && (context_ & vss::kAttributePersistent) != 0;
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
  Status chooseWriters(const std::string& name, const std::vector<vss::Guid>& ids, Choose choose) {
    std::string arguments;
    for (const vss::Guid& id : ids) arguments += (arguments.empty() ? "" : ",") + text(id);
    Call call = enter(name, arguments);
    if (call.refused()) return call.status();
    if (ids.empty()) return vss::kInvalidArgument;
    if (!metadataRequested_) {
      choose();
      forgetWriters();
    }
    return call.status();
  }

  // The object's copies end with it, unless persistent; so do they when the
  // backup is aborted. Nothing here allocates: it runs in the destructor.
  void removeCopies() noexcept {
    if (persistent()) return;
    std::u16string device;
    for (SnapshotEntry& snapshot : snapshots_) {
      if (snapshot.taken && state_->snapshots().end(snapshot.id, device) && !device.empty()) {
        state_->removeShadowCopy(device);
      }
    }
  }

  // Starts the asynchronous operation of an admitted call: `work` runs at
  // once and gives the operation's own status, and once the operation has
  // been waited on it is marked `done` in the progress (where it names a
  // mark). A planned failure of the operation keeps its work from running at
  // all.
  Status start(
      const Call& call, std::unique_ptr<vss::Async>& async, bool Progress::*done,
      const std::function<Status()>& work = [] { return Status{0}; }) {
    const std::string& name = call.name();
    const std::optional<Status> planned = state_->plannedOutcome(name + ".Result");
    Status result = 0;
    if (planned && failed(*planned)) {
      result = *planned;
    } else {
      result = work();
      if (planned && !failed(result)) result = *planned;
    }
    if (failed(result) && planned) state_->note(name + ".Result", outcomeText(name, result));
    std::function<void()> finished;
    if (done != nullptr) finished = [progress = progress_, done] { (*progress).*done = true; };
    async = makeAsync(state_, name, result, std::move(finished));
    return call.status();
  }

  // Copies every volume of the set; all or nothing. The copies then belong
  // to the service's store. No two live copies share a device name: numbers
  // a scenario volume names are skipped, and a copy whose name is live
  // already (the same volume's own name, in another backup) fails the set. A
  // volume whose provider maps no device (an empty name) leads nowhere.
  Status takeCopies() {
    std::vector<std::pair<SnapshotProperties, std::unique_ptr<ShadowCopy>>> made;
    try {
      const std::int64_t created = timestampNow();
      for (SnapshotEntry& snapshot : snapshots_) {
        const int number = state_->nextShadowCopyNumber();
        std::unique_ptr<ShadowCopy> copy;
        // A volume without files has a shadow copy in name only.
        if (!snapshot.volume->directory.empty()) {
          copy = std::make_unique<ShadowCopy>(
              snapshot.volume->directory, number,
              CopyOptions{[state = state_](int n) { return state->deviceNumberReserved(n); },
                          persistent()});
          if (snapshot.volume->vanishAfter) copy->vanishAfter(*snapshot.volume->vanishAfter);
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
        if (!directory.empty() && !properties.device.empty() &&
            !state_->addShadowCopy(properties.device, directory)) {
          throw std::runtime_error("the device name " + text(properties.device) + " is in use");
        }
        state_->snapshots().add(properties, std::move(copy));
      }
    } catch (const std::exception& error) {
      for (const auto& [properties, copy] : made) {
        if (state_->snapshots().remove(properties.id) == SnapshotStore::Removed::kOfThisRun) {
          state_->removeShadowCopy(properties.device);
        }
      }
      state_->note("DoSnapshotSet.Result",
                   outcomeText("DoSnapshotSet", vss::kUnexpectedProviderError, error.what()));
      return vss::kUnexpectedProviderError;
    }
    for (SnapshotEntry& snapshot : snapshots_) snapshot.taken = true;
    return Status{0};
  }

  // The writers taking part: none in a context without writers, otherwise
  // those of the enabled classes (all when none were enabled), in scenario
  // order; and their components, to look up. Made once for the object's
  // context and classes, not per call, so that nothing grows faster than the
  // writers and components listed.
  struct Reported {
    std::vector<const WriterSpec*> writers;
    std::set<AddedComponent, AddedLess> offered;
  };
  const Reported& reportedWriters() const {
    if (reported_) return *reported_;
    reported_.emplace();
    if (!writersTakePart()) return *reported_;
    std::set<vss::Guid, GuidLess> enabled;
    if (enabledClasses_) enabled.insert(enabledClasses_->begin(), enabledClasses_->end());
    const auto among = [](const std::vector<vss::Guid>& ids, const vss::Guid& id) {
      return std::find(ids.begin(), ids.end(), id) != ids.end();
    };
    for (const WriterSpec& writer : state_->scenario().writers) {
      if (enabledClasses_ && !enabled.contains(writer.classId)) continue;
      if (among(disabledClasses_, writer.classId) || among(disabledInstances_, writer.instanceId)) {
        continue;
      }
      reported_->writers.push_back(&writer);
      for (const ComponentSpec& c : writer.components) {
        reported_->offered.insert(
            {writer.instanceId, writer.classId, c.type, c.logicalPath, c.name});
      }
    }
    return *reported_;
  }
  // Puts a component in the backup, once: false if it is there already.
  bool add(const AddedComponent& component) {
    if (!added_.insert(component).second) return false;
    addedNames_[component.instanceId].push_back(component.name);
    document_.reset();
    return true;
  }

  void forgetWriters() {
    reported_.reset();
    document_.reset();
  }

  // The writers with components in the backup's document, in the order the
  // service reports writers: GetWriterComponents counts these, not every
  // writer whose status it reports.
  const std::vector<const WriterSpec*>& writersInDocument() const {
    if (document_) return *document_;
    document_.emplace();
    for (const WriterSpec* writer : reportedWriters().writers) {
      if (addedNames_.contains(writer->instanceId) || !writer->failedComponents.empty()) {
        document_->push_back(writer);
      }
    }
    return *document_;
  }

  // A writer's components in the backup: those added for it, each with the
  // failure the scenario gives it (none if it gives none), then any failed
  // components the scenario names that were not added.
  std::vector<FailedComponentSpec> componentsInBackup(const WriterSpec& writer) const {
    std::map<std::u16string, const FailedComponentSpec*> failures;
    for (const FailedComponentSpec& failed : writer.failedComponents) {
      failures.emplace(failed.name, &failed);
    }
    std::vector<FailedComponentSpec> components;
    std::set<std::u16string> names;
    if (const auto added = addedNames_.find(writer.instanceId); added != addedNames_.end()) {
      for (const std::u16string& name : added->second) {
        const auto failure = failures.find(name);
        components.push_back(
            {name, failure == failures.end() ? vss::ComponentFailure{} : failure->second->failure});
        names.insert(name);
      }
    }
    for (const FailedComponentSpec& failed : writer.failedComponents) {
      if (names.insert(failed.name).second) components.push_back(failed);
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
  // reportedWriters() and writersInDocument(), made when first asked for.
  mutable std::optional<Reported> reported_;
  mutable std::optional<std::vector<const WriterSpec*>> document_;
  bool metadataRequested_ = false;
  std::set<AddedComponent, AddedLess> added_;
  // The names of the components added, by writer instance, in their order.
  std::map<vss::Guid, std::vector<std::u16string>, GuidLess> addedNames_;
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
