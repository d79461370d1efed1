#include "simulator/backup_components.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "simulator/shadow_copy.h"
#include "simulator/volume_names.h"
#include "simulator/writer_objects.h"
#include "status/status.h"

namespace frostcap::simulator {
namespace {

constexpr Status code(std::uint32_t value) { return static_cast<Status>(value); }

constexpr Status kBadState = code(0x80042301);            // VSS_E_BAD_STATE
constexpr Status kObjectNotFound = code(0x80042308);      // VSS_E_OBJECT_NOT_FOUND
constexpr Status kVolumeNotSupported = code(0x8004230C);  // VSS_E_VOLUME_NOT_SUPPORTED
constexpr Status kAlreadyExists = code(0x8004230D);       // VSS_E_OBJECT_ALREADY_EXISTS
constexpr Status kProviderError = code(0x8004230F);       // VSS_E_UNEXPECTED_PROVIDER_ERROR
constexpr Status kSetInProgress = code(0x80042316);       // VSS_E_SNAPSHOT_SET_IN_PROGRESS
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

struct AddedComponent {
  vss::Guid instanceId;
  vss::Guid classId;
  std::uint32_t type = 0;
  std::u16string logicalPath;
  std::u16string name;
  bool operator==(const AddedComponent&) const = default;
};

struct SnapshotEntry {
  vss::Guid id;
  const Volume* volume = nullptr;
  std::u16string device;  // set once the copy exists
  std::unique_ptr<ShadowCopy> copy;
};

class SimulatedBackupComponents final : public ModelBackupComponents {
 public:
  explicit SimulatedBackupComponents(StatePtr state) : state_(std::move(state)) {}

  // The copies go with the object, as non-persistent shadow copies end when
  // the requester releases its backup.
  ~SimulatedBackupComponents() override {
    state_->note("Release", "Release()");
    removeCopies();
  }

  Status initializeForBackup() override {
    const Status status = state_->enter("InitializeForBackup");
    if (failed(status)) return status;
    if (initialized_) return kBadState;
    initialized_ = true;
    return status;
  }
  Status setBackupState(bool selectComponents, bool bootable, std::uint32_t type,
                        bool partial) override {
    const Status status =
        state_->enter("SetBackupState", flag(selectComponents) + "," + flag(bootable) + "," +
                                            std::to_string(type) + "," + flag(partial));
    if (failed(status)) return status;
    if (!initialized_) return kBadState;
    if (type > kLastBackupType) return kInvalidArgument;
    return status;
  }
  Status setContext(std::int32_t context) override {
    const Status status = state_->enter("SetContext", std::to_string(context));
    if (failed(status)) return status;
    if (!initialized_) return kBadState;
    // Persistent copies would outlive the simulation; only backup contexts,
    // whose copies end with the backup, are offered.
    if ((context & kPersistentAttribute) != 0) return kUnsupportedContext;
    context_ = context;
    return status;
  }
  Status enableWriterClasses(const std::vector<vss::Guid>& classIds) override {
    std::string arguments;
    for (const vss::Guid& id : classIds) arguments += (arguments.empty() ? "" : ",") + text(id);
    const Status status = state_->enter("EnableWriterClasses", arguments);
    if (failed(status)) return status;
    if (!initialized_ || metadataRequested_) return kBadState;
    if (classIds.empty()) return kInvalidArgument;
    enabledClasses_ = classIds;
    return status;
  }
  Status gatherWriterMetadata(std::unique_ptr<vss::Async>& async) override {
    return startAsync(
        "GatherWriterMetadata", async,
        [&] {
          // Once per object, whether or not the gathering succeeds.
          if (!initialized_ || metadataRequested_) return kBadState;
          metadataRequested_ = true;
          return Status{0};
        },
        [&] { metadataGathered_ = true; });
  }
  Status getWriterMetadataCount(std::uint32_t& count) override {
    const Status status = state_->enter("GetWriterMetadataCount");
    if (failed(status)) return status;
    if (!metadataGathered_) return kBadState;
    count = static_cast<std::uint32_t>(reportedWriters().size());
    return status;
  }
  Status getWriterMetadata(std::uint32_t index, vss::Guid& instanceId,
                           std::unique_ptr<vss::WriterMetadata>& metadata) override {
    const Status status = state_->enter("GetWriterMetadata", std::to_string(index));
    if (failed(status)) return status;
    if (!metadataGathered_) return kBadState;
    const auto writers = reportedWriters();
    if (index >= writers.size()) return kInvalidArgument;
    instanceId = writers[index]->instanceId;
    metadata = makeWriterMetadata(state_, *writers[index]);
    return status;
  }
  Status addComponent(const vss::Guid& instanceId, const vss::Guid& classId, std::uint32_t type,
                      const std::u16string& logicalPath, const std::u16string& name) override {
    const Status status = state_->enter("AddComponent", text(instanceId) + "," + text(classId) +
                                                            "," + std::to_string(type) + "," +
                                                            text(logicalPath) + "," + text(name));
    if (failed(status)) return status;
    if (!metadataGathered_) return kBadState;
    const AddedComponent component{instanceId, classId, type, logicalPath, name};
    if (!writerHas(component)) return kObjectNotFound;
    if (std::find(added_.begin(), added_.end(), component) != added_.end()) return kAlreadyExists;
    added_.push_back(component);
    return status;
  }
  Status setBackupSucceeded(const vss::Guid& instanceId, const vss::Guid& classId,
                            std::uint32_t type, const std::u16string& logicalPath,
                            const std::u16string& name, bool succeeded) override {
    const Status status =
        state_->enter("SetBackupSucceeded", text(instanceId) + "," + text(classId) + "," +
                                                std::to_string(type) + "," + text(logicalPath) +
                                                "," + text(name) + "," + flag(succeeded));
    if (failed(status)) return status;
    if (!initialized_) return kBadState;
    const AddedComponent component{instanceId, classId, type, logicalPath, name};
    if (std::find(added_.begin(), added_.end(), component) == added_.end()) {
      return kObjectNotFound;
    }
    return status;
  }
  Status startSnapshotSet(vss::Guid& snapshotSetId) override {
    const Status status = state_->enter("StartSnapshotSet");
    if (failed(status)) return status;
    if (!initialized_) return kBadState;
    if (setStarted_) return kSetInProgress;
    setStarted_ = true;
    snapshotSetId = state_->newIdentifier();
    return status;
  }
  Status addToSnapshotSet(const std::u16string& volumePath, const vss::Guid& providerId,
                          vss::Guid& snapshotId) override {
    const Status status =
        state_->enter("AddToSnapshotSet", text(volumePath) + "," + text(providerId));
    if (failed(status)) return status;
    if (!setStarted_ || setTaken_) return kBadState;
    const std::u16string key = volumeKey(volumePath);
    const auto& volumes = state_->scenario().volumes;
    const auto volume = std::find_if(volumes.begin(), volumes.end(),
                                     [&](const Volume& v) { return volumeKey(v.name) == key; });
    if (volume == volumes.end()) return kVolumeNotSupported;
    if (std::any_of(snapshots_.begin(), snapshots_.end(),
                    [&](const SnapshotEntry& s) { return s.volume == &*volume; })) {
      return kAlreadyExists;
    }
    snapshotId = state_->newIdentifier();
    snapshots_.push_back({snapshotId, &*volume, {}, nullptr});
    return status;
  }
  Status prepareForBackup(std::unique_ptr<vss::Async>& async) override {
    return startAsync("PrepareForBackup", async, [&] { return initializedOrBadState(); });
  }
  Status doSnapshotSet(std::unique_ptr<vss::Async>& async) override {
    return startAsync(
        "DoSnapshotSet", async, [&] { return !setStarted_ || setTaken_ ? kBadState : Status{0}; },
        [&] { return takeCopies(); });
  }
  Status getSnapshotProperties(const vss::Guid& snapshotId, std::u16string& device) override {
    const Status status = state_->enter("GetSnapshotProperties", text(snapshotId));
    if (failed(status)) return status;
    const auto snapshot = std::find_if(snapshots_.begin(), snapshots_.end(),
                                       [&](const SnapshotEntry& s) { return s.id == snapshotId; });
    if (snapshot == snapshots_.end() || !snapshot->copy) return kObjectNotFound;
    device = snapshot->device;
    return status;
  }
  Status gatherWriterStatus(std::unique_ptr<vss::Async>& async) override {
    return startAsync(
        "GatherWriterStatus", async, [&] { return initializedOrBadState(); },
        [&] { writerStatusGathered_ = true; });
  }
  Status getWriterStatusCount(std::uint32_t& count) override {
    const Status status = state_->enter("GetWriterStatusCount");
    if (failed(status)) return status;
    if (!writerStatusGathered_) return kBadState;
    count = static_cast<std::uint32_t>(reportedWriters().size());
    return status;
  }
  Status getWriterStatus(std::uint32_t index, vss::WriterStatus& writerStatus) override {
    const Status status = state_->enter("GetWriterStatus", std::to_string(index));
    if (failed(status)) return status;
    if (!writerStatusGathered_) return kBadState;
    const auto writers = reportedWriters();
    if (index >= writers.size()) return kInvalidArgument;
    const WriterSpec& writer = *writers[index];
    writerStatus = {writer.instanceId, writer.classId, writer.name, writer.state, writer.status};
    return status;
  }
  Status getWriterComponentsCount(std::uint32_t& count) override {
    const Status status = state_->enter("GetWriterComponentsCount");
    if (failed(status)) return status;
    if (!initialized_) return kBadState;
    count = static_cast<std::uint32_t>(writersInDocument().size());
    return status;
  }
  Status getWriterComponents(std::uint32_t index,
                             std::unique_ptr<vss::WriterComponents>& components) override {
    const Status status = state_->enter("GetWriterComponents", std::to_string(index));
    if (failed(status)) return status;
    if (!initialized_) return kBadState;
    const auto writers = writersInDocument();
    if (index >= writers.size()) return kInvalidArgument;
    components = makeWriterComponents(state_, *writers[index], componentsInBackup(*writers[index]));
    return status;
  }
  Status backupComplete(std::unique_ptr<vss::Async>& async) override {
    return startAsync("BackupComplete", async, [&] { return initializedOrBadState(); });
  }

  Status abortBackup() override {
    const Status status = state_->enter("AbortBackup");
    if (failed(status)) return status;
    if (!initialized_) return kBadState;
    removeCopies();
    aborted_ = true;
    return status;
  }
  Status freeWriterMetadata() override {
    const Status status = state_->enter("FreeWriterMetadata");
    if (failed(status)) return status;
    if (!metadataGathered_) return kBadState;
    metadataGathered_ = false;
    return status;
  }
  Status freeWriterStatus() override {
    const Status status = state_->enter("FreeWriterStatus");
    if (failed(status)) return status;
    if (!writerStatusGathered_) return kBadState;
    writerStatusGathered_ = false;
    return status;
  }

 private:
  Status initializedOrBadState() const { return initialized_ ? Status{0} : kBadState; }

  void removeCopies() {
    for (SnapshotEntry& snapshot : snapshots_) {
      if (snapshot.copy) state_->removeShadowCopy(snapshot.device);
      snapshot.copy.reset();
    }
  }

  // Starts an asynchronous operation: `check` decides whether the call is
  // accepted, `work` runs at once and gives the operation's own status,
  // unless the scenario plans a failure for it, in which case it never runs.
  template <typename Check, typename Work>
  Status startAsync(const std::string& call, std::unique_ptr<vss::Async>& async, Check check,
                    Work work) {
    Status status = state_->enter(call);
    if (failed(status)) return status;
    status = check();
    if (failed(status)) return status;
    const std::optional<Status> planned = state_->plannedOutcome(call + ".Result");
    Status result = 0;
    if (planned && failed(*planned)) {
      result = *planned;
    } else {
      if constexpr (std::is_void_v<std::invoke_result_t<Work>>) {
        work();
      } else {
        result = work();
      }
      if (planned && !failed(result)) result = *planned;
    }
    if (failed(result) && planned) state_->note(call + ".Result", outcomeText(call, result));
    async = makeAsync(state_, call, result);
    return status;
  }
  template <typename Check>
  Status startAsync(const std::string& call, std::unique_ptr<vss::Async>& async, Check check) {
    return startAsync(call, async, check, [] {});
  }

  // Copies every volume of the set; all or nothing.
  Status takeCopies() {
    try {
      for (SnapshotEntry& snapshot : snapshots_) {
        const int number = state_->nextShadowCopyNumber();
        snapshot.copy = std::make_unique<ShadowCopy>(snapshot.volume->directory, number);
        snapshot.device = snapshot.copy->deviceName();
      }
    } catch (const std::exception& error) {
      for (SnapshotEntry& snapshot : snapshots_) {
        snapshot.copy.reset();
        snapshot.device.clear();
      }
      state_->note("DoSnapshotSet.Result",
                   outcomeText("DoSnapshotSet", kProviderError, error.what()));
      return kProviderError;
    }
    for (const SnapshotEntry& snapshot : snapshots_) {
      state_->addShadowCopy(snapshot.device, snapshot.copy->directory());
    }
    setTaken_ = true;
    return Status{0};
  }

  // The writers taking part: none in a context without writers, otherwise
  // those of the enabled classes (all when none were enabled), in scenario
  // order.
  std::vector<const WriterSpec*> reportedWriters() const {
    std::vector<const WriterSpec*> writers;
    if ((context_ & kNoWritersAttribute) != 0) return writers;
    for (const WriterSpec& writer : state_->scenario().writers) {
      if (!enabledClasses_ || std::find(enabledClasses_->begin(), enabledClasses_->end(),
                                        writer.classId) != enabledClasses_->end()) {
        writers.push_back(&writer);
      }
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

  StatePtr state_;
  bool initialized_ = false;
  std::int32_t context_ = 0;
  std::optional<std::vector<vss::Guid>> enabledClasses_;
  bool metadataRequested_ = false;
  bool metadataGathered_ = false;
  bool writerStatusGathered_ = false;
  std::vector<AddedComponent> added_;
  bool setStarted_ = false;
  bool setTaken_ = false;
  bool aborted_ = false;
  std::vector<SnapshotEntry> snapshots_;
};

}  // namespace

std::unique_ptr<ModelBackupComponents> makeBackupComponents(std::shared_ptr<ServiceState> state) {
  return std::make_unique<SimulatedBackupComponents>(std::move(state));
}

}  // namespace frostcap::simulator
