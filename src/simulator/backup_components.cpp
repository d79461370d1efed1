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
#include "simulator/rules.h"
#include "simulator/shadow_copy.h"
#include "simulator/volume_names.h"
#include "simulator/writer_objects.h"
#include "status/status.h"

namespace frostcap::simulator {
namespace {

constexpr Status code(std::uint32_t value) { return static_cast<Status>(value); }

constexpr Status kObjectNotFound = code(0x80042308);      // VSS_E_OBJECT_NOT_FOUND
constexpr Status kAlreadyExists = code(0x8004230D);       // VSS_E_OBJECT_ALREADY_EXISTS
constexpr Status kProviderError = code(0x8004230F);       // VSS_E_UNEXPECTED_PROVIDER_ERROR
constexpr Status kUnsupportedContext = code(0x8004231B);  // VSS_E_UNSUPPORTED_CONTEXT
constexpr Status kInvalidArgument = code(0x80070057);     // E_INVALIDARG

constexpr std::int32_t kPersistentAttribute = 0x01;  // VSS_VOLSNAP_ATTR_PERSISTENT
constexpr std::int32_t kNoWritersAttribute = 0x10;   // VSS_VOLSNAP_ATTR_NO_WRITERS
constexpr std::uint32_t kLastBackupType = 6;         // VSS_BT_OTHER

std::string text(std::u16string_view value) { return recordText(value); }
std::string text(const vss::Guid& value) { return recordText(value); }
std::string flag(bool value) { return value ? "true" : "false"; }

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

struct SnapshotEntry {
  vss::Guid id;
  const Volume* volume = nullptr;
  std::u16string device;             // set once the copy exists
  std::unique_ptr<ShadowCopy> copy;  // none for a volume without files
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
  Status setBackupState(bool selectComponents, bool bootable, std::uint32_t type,
                        bool partial) override {
    const std::string call = "SetBackupState";
    Status status = state_->enter(call, flag(selectComponents) + "," + flag(bootable) + "," +
                                            std::to_string(type) + "," + flag(partial));
    if (failed(status) || failed(status = usable(call))) return status;
    if (type > kLastBackupType) return kInvalidArgument;
    // The documented order sets the context first; nothing says the other
    // order is refused.
    if (!contextSet_) state_->assume(call, "accepted before SetContext");
    backupStateSet_ = true;
    return status;
  }
  Status setContext(std::int32_t context) override {
    const std::string call = "SetContext";
    Status status = state_->enter(call, std::to_string(context));
    if (failed(status) || failed(status = usable(call))) return status;
    if (contextSet_) return state_->breach(call, rules::kContextOnce);
    // Persistent copies would outlive the simulation; only backup contexts,
    // whose copies end with the backup, are offered.
    if ((context & kPersistentAttribute) != 0) return kUnsupportedContext;
    context_ = context;
    contextSet_ = true;
    forgetWriters();
    return status;
  }
  Status enableWriterClasses(const std::vector<vss::Guid>& classIds) override {
    const std::string call = "EnableWriterClasses";
    std::string arguments;
    for (const vss::Guid& id : classIds) arguments += (arguments.empty() ? "" : ",") + text(id);
    Status status = state_->enter(call, arguments);
    if (failed(status) || failed(status = usable(call))) return status;
    if (classIds.empty()) return kInvalidArgument;
    // Documented to have no effect once the metadata is being gathered.
    if (metadataRequested_) return status;
    if (!enabledClasses_) enabledClasses_.emplace();
    enabledClasses_->insert(enabledClasses_->end(), classIds.begin(), classIds.end());
    forgetWriters();
    return status;
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
    count = static_cast<std::uint32_t>(reportedWriters().writers.size());
    return status;
  }
  Status getWriterMetadata(std::uint32_t index, vss::Guid& instanceId,
                           std::unique_ptr<vss::WriterMetadata>& metadata) override {
    const std::string call = "GetWriterMetadata";
    Status status = state_->enter(call, std::to_string(index));
    if (failed(status) || failed(status = metadataReadable(call))) return status;
    const auto& writers = reportedWriters().writers;
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
    if (!reportedWriters().offered.contains(component)) return kObjectNotFound;
    if (!added_.insert(component).second) return kAlreadyExists;
    addedNames_[instanceId].push_back(name);
    document_.reset();
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
    if (!added_.contains({instanceId, classId, type, logicalPath, name})) return kObjectNotFound;
    return status;
  }
  Status startSnapshotSet(vss::Guid& snapshotSetId) override {
    const std::string call = "StartSnapshotSet";
    Status status = state_->enter(call);
    if (failed(status) || failed(status = usable(call))) return status;
    if (setStarted_) return state_->breach(call, rules::kOneSet);
    setStarted_ = true;
    snapshotSetId = state_->newIdentifier();
    return status;
  }
  Status addToSnapshotSet(const std::u16string& volumePath, const vss::Guid& providerId,
                          vss::Guid& snapshotId) override {
    const std::string call = "AddToSnapshotSet";
    Status status = state_->enter(call, text(volumePath) + "," + text(providerId));
    if (failed(status) || failed(status = usable(call))) return status;
    if (!setStarted_) return state_->breach(call, rules::kSetStarted);
    if (snapshotRequested_) return state_->breach(call, rules::kSetOpen);
    const std::u16string key = volumeKey(volumePath);
    const auto& volumes = state_->scenario().volumes;
    const auto volume = std::find_if(volumes.begin(), volumes.end(),
                                     [&](const Volume& v) { return volumeKey(v.name) == key; });
    if (volume == volumes.end()) return kObjectNotFound;
    if (std::any_of(snapshots_.begin(), snapshots_.end(),
                    [&](const SnapshotEntry& s) { return s.volume == &*volume; })) {
      return kAlreadyExists;
    }
    snapshotId = state_->newIdentifier();
    snapshots_.push_back({snapshotId, &*volume, {}, nullptr});
    return status;
  }
  Status prepareForBackup(std::unique_ptr<vss::Async>& async) override {
    return startAsync(
        "PrepareForBackup", async,
        [&](const std::string& call) {
          if (!writersTakePart()) return state_->breach(call, rules::kWritersInContext);
          if (!backupStateSet_) return state_->breach(call, rules::kBackupStateFirst);
          if (!setStarted_) return state_->breach(call, rules::kSetStarted);
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
          snapshotRequested_ = true;
          return Status{0};
        },
        [&] { return takeCopies(); }, [](Progress& progress) { progress.setTaken = true; });
  }
  Status getSnapshotProperties(const vss::Guid& snapshotId, std::u16string& device) override {
    const std::string call = "GetSnapshotProperties";
    Status status = state_->enter(call, text(snapshotId));
    if (failed(status) || failed(status = usable(call))) return status;
    const auto snapshot = std::find_if(snapshots_.begin(), snapshots_.end(),
                                       [&](const SnapshotEntry& s) { return s.id == snapshotId; });
    // A copy the service deleted (its storage filled up) is no longer found.
    if (snapshot == snapshots_.end() || !progress_->setTaken || !snapshot->taken ||
        (snapshot->copy && snapshot->copy->vanished())) {
      return kObjectNotFound;
    }
    device = snapshot->device;
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
    count = static_cast<std::uint32_t>(reportedWriters().writers.size());
    return status;
  }
  Status getWriterStatus(std::uint32_t index, vss::WriterStatus& writerStatus) override {
    const std::string call = "GetWriterStatus";
    Status status = state_->enter(call, std::to_string(index));
    if (failed(status) || failed(status = statusReadable(call))) return status;
    const auto& writers = reportedWriters().writers;
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
    const auto& writers = writersInDocument();
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

  void removeCopies() {
    for (SnapshotEntry& snapshot : snapshots_) {
      if (snapshot.copy && snapshot.taken) state_->removeShadowCopy(snapshot.device);
      snapshot.copy.reset();
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

  // Copies every volume of the set; all or nothing. No two live copies share
  // a device name: numbers a scenario volume names are skipped, and a copy
  // whose name is live already (the same volume's own name, in another
  // backup) fails the set. A volume whose provider maps no device (an empty
  // name) leads nowhere.
  Status takeCopies() {
    try {
      for (SnapshotEntry& snapshot : snapshots_) {
        const int number = state_->nextShadowCopyNumber();
        // A volume without files has a shadow copy in name only.
        if (!snapshot.volume->directory.empty()) {
          snapshot.copy = std::make_unique<ShadowCopy>(
              snapshot.volume->directory, number,
              CopyOptions{[state = state_](int n) { return state->deviceNumberReserved(n); }});
        }
        snapshot.device = snapshot.volume->device.value_or(
            snapshot.copy ? snapshot.copy->deviceName() : shadowCopyDeviceName(number));
        if (snapshot.copy && !snapshot.device.empty() &&
            !state_->addShadowCopy(snapshot.device, snapshot.copy->directory())) {
          snapshot.copy.reset();
          throw std::runtime_error("the device name " + text(snapshot.device) + " is in use");
        }
        snapshot.taken = true;
        if (snapshot.copy && snapshot.volume->vanishAfter) {
          snapshot.copy->vanishAfter(*snapshot.volume->vanishAfter);
        }
      }
    } catch (const std::exception& error) {
      removeCopies();
      for (SnapshotEntry& snapshot : snapshots_) {
        snapshot.device.clear();
        snapshot.taken = false;
      }
      state_->note("DoSnapshotSet.Result",
                   outcomeText("DoSnapshotSet", kProviderError, error.what()));
      return kProviderError;
    }
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
    for (const WriterSpec& writer : state_->scenario().writers) {
      if (enabledClasses_ && !enabled.contains(writer.classId)) continue;
      reported_->writers.push_back(&writer);
      for (const ComponentSpec& c : writer.components) {
        reported_->offered.insert(
            {writer.instanceId, writer.classId, c.type, c.logicalPath, c.name});
      }
    }
    return *reported_;
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
  std::optional<std::vector<vss::Guid>> enabledClasses_;
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
