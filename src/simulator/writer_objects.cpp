#include "simulator/writer_objects.h"

#include <functional>
#include <optional>
#include <utility>

#include "platform/platform.h"
#include "simulator/documents.h"

namespace frostcap::simulator {
namespace {

constexpr Status kAsyncPending = static_cast<Status>(0x00042309);     // VSS_S_ASYNC_PENDING
constexpr Status kInvalidArgument = static_cast<Status>(0x80070057);  // E_INVALIDARG
constexpr Status kFalse = 1;                                          // S_FALSE
// VSS_FSBT_ALL_BACKUP_REQUIRED | VSS_FSBT_ALL_SNAPSHOT_REQUIRED
constexpr std::uint32_t kAllBackupsAndSnapshotsRequired = 0x0F0F;

// An operation whose work was done when it started; it counts as finished,
// and says so, only once it has been waited on, as the real one may still be
// running until then.
class SimulatedAsync final : public vss::Async, HandedOut {
 public:
  SimulatedAsync(StatePtr state, std::string call, Status result, std::function<void()> finished)
      : HandedOut(std::move(state)),
        call_(std::move(call)),
        result_(result),
        finished_(std::move(finished)) {}

  Status wait() override {
    const Status status = state_->enter(call_ + ".Wait");
    if (failed(status) || waited_) return status;
    waited_ = true;
    if (!failed(result_) && finished_) finished_();
    return status;
  }
  Status queryStatus(Status& operation) override {
    const Status status = state_->enter(call_ + ".QueryStatus");
    if (!failed(status)) operation = waited_ ? result_ : kAsyncPending;
    return status;
  }

 private:
  std::string call_;
  Status result_;
  std::function<void()> finished_;
  bool waited_ = false;
};

class SimulatedFileDescriptor final : public ModelFileDescriptor, HandedOut {
 public:
  SimulatedFileDescriptor(StatePtr state, const FileSpec& file)
      : HandedOut(std::move(state)), file_(file) {}

  Status getPath(std::optional<std::u16string>& path) override {
    const Status status = state_->enter("GetPath");
    if (!failed(status)) path = file_.path;
    return status;
  }
  Status getFilespec(std::u16string& filespec) override {
    const Status status = state_->enter("GetFilespec");
    if (!failed(status)) filespec = file_.filespec;
    return status;
  }
  Status getRecursive(bool& recursive) override {
    const Status status = state_->enter("GetRecursive");
    if (!failed(status)) recursive = file_.recursive;
    return status;
  }
  Status getAlternateLocation(std::u16string& location) override {
    const Status status = state_->enter("GetAlternateLocation");
    if (!failed(status)) location = file_.alternateLocation;
    return status;
  }
  // Writers that say nothing of it need every kind of backup and copy.
  Status getBackupTypeMask(std::uint32_t& mask) override {
    const Status status = state_->enter("GetBackupTypeMask");
    if (!failed(status)) mask = kAllBackupsAndSnapshotsRequired;
    return status;
  }

 private:
  const FileSpec& file_;
};

Status fileAt(const StatePtr& state, const std::string& call, std::uint32_t index,
              const std::vector<FileSpec>& files, std::unique_ptr<vss::FileDescriptor>& file) {
  const Status status = state->enter(call, std::to_string(index));
  if (failed(status)) return status;
  if (index >= files.size()) return kInvalidArgument;
  file = std::make_unique<SimulatedFileDescriptor>(state, files[index]);
  return status;
}

class SimulatedMetadataComponent final : public vss::WriterMetadataComponent, HandedOut {
 public:
  SimulatedMetadataComponent(StatePtr state, const ComponentSpec& component)
      : HandedOut(std::move(state)), component_(component) {}

  Status getComponentInfo(vss::ComponentInfo& info) override {
    const Status status = state_->enter("GetComponentInfo", recordText(component_.name));
    if (failed(status)) return status;
    info = {component_.type,
            component_.logicalPath,
            component_.name,
            component_.selectable,
            static_cast<std::uint32_t>(component_.files.size()),
            static_cast<std::uint32_t>(component_.databases.size()),
            static_cast<std::uint32_t>(component_.logs.size()),
            this};
    state_->componentInfoLent();
    return status;
  }
  // The block comes back whatever the call then answers, or throws.
  Status freeComponentInfo(vss::ComponentInfo& info) override {
    const bool lent = info.block == this && state_->componentInfoReturned();
    info.block = nullptr;
    const Status status = state_->enter("FreeComponentInfo", recordText(component_.name));
    if (!lent) {
      state_->note("Misuse", "Misuse(FreeComponentInfo: a description not handed out)");
      return kInvalidArgument;
    }
    return status;
  }
  Status getFile(std::uint32_t index, std::unique_ptr<vss::FileDescriptor>& file) override {
    return fileAt(state_, "GetFile", index, component_.files, file);
  }
  Status getDatabaseFile(std::uint32_t index, std::unique_ptr<vss::FileDescriptor>& file) override {
    return fileAt(state_, "GetDatabaseFile", index, component_.databases, file);
  }
  Status getDatabaseLogFile(std::uint32_t index,
                            std::unique_ptr<vss::FileDescriptor>& file) override {
    return fileAt(state_, "GetDatabaseLogFile", index, component_.logs, file);
  }

 private:
  const ComponentSpec& component_;
};

class SimulatedMetadata final : public ModelWriterMetadata, HandedOut {
 public:
  SimulatedMetadata(StatePtr state, const WriterSpec& writer)
      : HandedOut(std::move(state)), writer_(writer) {}

  Status getIdentity(vss::WriterIdentity& identity) override {
    const Status status = state_->enter("GetIdentity", recordText(writer_.name));
    if (!failed(status)) identity = {writer_.instanceId, writer_.classId, writer_.name};
    return status;
  }

  Status getFileCounts(vss::FileCounts& counts) override {
    const Status status = state_->enter("GetFileCounts", recordText(writer_.name));
    if (!failed(status)) {
      counts = {0, static_cast<std::uint32_t>(writer_.excludes.size()),
                static_cast<std::uint32_t>(writer_.components.size())};
    }
    return status;
  }
  Status getExcludeFile(std::uint32_t index, std::unique_ptr<vss::FileDescriptor>& file) override {
    return fileAt(state_, "GetExcludeFile", index, writer_.excludes, file);
  }
  Status getComponent(std::uint32_t index,
                      std::unique_ptr<vss::WriterMetadataComponent>& component) override {
    const Status status = state_->enter("GetComponent", std::to_string(index));
    if (failed(status)) return status;
    if (index >= writer_.components.size()) return kInvalidArgument;
    component = std::make_unique<SimulatedMetadataComponent>(state_, writer_.components[index]);
    return status;
  }
  Status getRestoreMethod(RestoreMethodSpec& method, std::uint32_t& mappings) override {
    const Status status = state_->enter("GetRestoreMethod", recordText(writer_.name));
    if (failed(status)) return status;
    mappings = static_cast<std::uint32_t>(writer_.alternateLocations.size());
    if (!writer_.restoreMethod) return kFalse;
    method = *writer_.restoreMethod;
    return status;
  }
  Status getAlternateLocationMapping(std::uint32_t index,
                                     std::unique_ptr<vss::FileDescriptor>& mapping) override {
    return fileAt(state_, "GetAlternateLocationMapping", index, writer_.alternateLocations,
                  mapping);
  }
  Status getBackupSchema(std::uint32_t& schema) override {
    const Status status = state_->enter("GetBackupSchema", recordText(writer_.name));
    if (!failed(status)) schema = writer_.backupSchema;
    return status;
  }
  Status saveAsXml(std::u16string& document) override {
    const Status status = state_->enter("SaveAsXML", recordText(writer_.name));
    if (!failed(status)) document = writerMetadataDocument(writer_);
    return status;
  }

 private:
  const WriterSpec& writer_;
};

class SimulatedComponentEx2 final : public vss::ComponentEx2, HandedOut {
 public:
  SimulatedComponentEx2(StatePtr state, FailedComponentSpec component)
      : HandedOut(std::move(state)), component_(std::move(component)) {}
  Status getFailure(vss::ComponentFailure& failure) override {
    const Status status = state_->enter("GetFailure", recordText(component_.name));
    if (!failed(status)) failure = component_.failure;
    return status;
  }

 private:
  FailedComponentSpec component_;
};

class SimulatedComponent final : public vss::Component, HandedOut {
 public:
  SimulatedComponent(StatePtr state, FailedComponentSpec component)
      : HandedOut(std::move(state)), component_(std::move(component)) {}
  Status getComponentName(std::u16string& name) override {
    const Status status = state_->enter("GetComponentName");
    if (!failed(status)) name = component_.name;
    return status;
  }
  Status queryComponentEx2(std::unique_ptr<vss::ComponentEx2>& component) override {
    const Status status = state_->enter("QueryInterface", "IVssComponentEx2");
    if (!failed(status)) component = std::make_unique<SimulatedComponentEx2>(state_, component_);
    return status;
  }

 private:
  FailedComponentSpec component_;
};

// A writer's components in the backup: those added for it, each with the
// failure the scenario gives it (none if it gives none), then any failed
// components the scenario names that were not added.
class SimulatedWriterComponents final : public vss::WriterComponents, HandedOut {
 public:
  SimulatedWriterComponents(StatePtr state, const WriterSpec& writer,
                            std::vector<FailedComponentSpec> components)
      : HandedOut(std::move(state)), writer_(writer), components_(std::move(components)) {}

  Status getWriterInfo(vss::Guid& instanceId, vss::Guid& classId) override {
    const Status status = state_->enter("GetWriterInfo", recordText(writer_.name));
    if (!failed(status)) {
      instanceId = writer_.instanceId;
      classId = writer_.classId;
    }
    return status;
  }
  Status getComponentCount(std::uint32_t& count) override {
    const Status status = state_->enter("GetComponentCount", recordText(writer_.name));
    if (!failed(status)) count = static_cast<std::uint32_t>(components_.size());
    return status;
  }
  Status getComponent(std::uint32_t index, std::unique_ptr<vss::Component>& component) override {
    const Status status =
        state_->enter("IVssWriterComponents::GetComponent", std::to_string(index));
    if (failed(status)) return status;
    if (index >= components_.size()) return kInvalidArgument;
    component = std::make_unique<SimulatedComponent>(state_, components_[index]);
    return status;
  }

 private:
  const WriterSpec& writer_;
  std::vector<FailedComponentSpec> components_;
};

}  // namespace

std::string recordText(std::u16string_view value) { return platform::wideToUtf8(value); }
std::string recordText(const vss::Guid& value) { return recordText(platform::formatGuid(value)); }

std::unique_ptr<vss::Async> makeAsync(StatePtr state, std::string call, Status result,
                                      std::function<void()> finished) {
  return std::make_unique<SimulatedAsync>(std::move(state), std::move(call), result,
                                          std::move(finished));
}

std::unique_ptr<ModelWriterMetadata> makeWriterMetadata(StatePtr state, const WriterSpec& writer) {
  return std::make_unique<SimulatedMetadata>(std::move(state), writer);
}

std::unique_ptr<vss::WriterComponents> makeWriterComponents(
    StatePtr state, const WriterSpec& writer, std::vector<FailedComponentSpec> components) {
  return std::make_unique<SimulatedWriterComponents>(std::move(state), writer,
                                                     std::move(components));
}

}  // namespace frostcap::simulator
