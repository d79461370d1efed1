#include "simulator/writer_objects.h"

#include <functional>
#include <optional>
#include <utility>

#include "platform/platform.h"
#include "simulator/documents.h"
#include "vss/call_text.h"
#include "vss/constants.h"

namespace frostcap::simulator {
namespace {

using vss::kAsyncPending;
using vss::kInvalidArgument;
constexpr Status kFalse = 1;  // S_FALSE
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
    return answer("GetPath", path, [&] { return file_.path; });
  }
  Status getFilespec(std::u16string& filespec) override {
    return answer("GetFilespec", filespec, [&] { return file_.filespec; });
  }
  Status getRecursive(bool& recursive) override {
    return answer("GetRecursive", recursive, [&] { return file_.recursive; });
  }
  Status getAlternateLocation(std::u16string& location) override {
    return answer("GetAlternateLocation", location, [&] { return file_.alternateLocation; });
  }
  // Writers that say nothing of it need every kind of backup and copy.
  Status getBackupTypeMask(std::uint32_t& mask) override {
    return answer("GetBackupTypeMask", mask, [] { return kAllBackupsAndSnapshotsRequired; });
  }

 private:
  const FileSpec& file_;
};

// Takes `call` for the element `index` of `elements` and hands out the
// object `Simulated` over it; past the end, E_INVALIDARG.
template <typename Simulated, typename Element, typename Object>
Status elementAt(const StatePtr& state, std::string call, std::uint32_t index,
                 const std::vector<Element>& elements, std::unique_ptr<Object>& object) {
  const Call taken(*state, std::move(call), std::to_string(index));
  if (taken.refused()) return taken.status();
  if (index >= elements.size()) return kInvalidArgument;
  object = std::make_unique<Simulated>(state, elements[index]);
  return taken.status();
}

Status fileAt(const StatePtr& state, std::string call, std::uint32_t index,
              const std::vector<FileSpec>& files, std::unique_ptr<vss::FileDescriptor>& file) {
  return elementAt<SimulatedFileDescriptor>(state, std::move(call), index, files, file);
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
    return answer(
        "GetIdentity", identity,
        [&] {
          return vss::WriterIdentity{writer_.instanceId, writer_.classId, writer_.name};
        },
        recordText(writer_.name));
  }

  Status getFileCounts(vss::FileCounts& counts) override {
    return answer(
        "GetFileCounts", counts,
        [&] {
          return vss::FileCounts{0, static_cast<std::uint32_t>(writer_.excludes.size()),
                                 static_cast<std::uint32_t>(writer_.components.size())};
        },
        recordText(writer_.name));
  }
  Status getExcludeFile(std::uint32_t index, std::unique_ptr<vss::FileDescriptor>& file) override {
    return fileAt(state_, "GetExcludeFile", index, writer_.excludes, file);
  }
  Status getComponent(std::uint32_t index,
                      std::unique_ptr<vss::WriterMetadataComponent>& component) override {
    return elementAt<SimulatedMetadataComponent>(state_, "GetComponent", index, writer_.components,
                                                 component);
  }
  Status getRestoreMethod(RestoreMethodSpec& method, std::uint32_t& mappings) override {
    const Call call(*state_, "GetRestoreMethod", recordText(writer_.name));
    if (call.refused()) return call.status();
    mappings = static_cast<std::uint32_t>(writer_.alternateLocations.size());
    if (!writer_.restoreMethod) return kFalse;
    method = *writer_.restoreMethod;
    return call.status();
  }
  Status getAlternateLocationMapping(std::uint32_t index,
                                     std::unique_ptr<vss::FileDescriptor>& mapping) override {
    return fileAt(state_, "GetAlternateLocationMapping", index, writer_.alternateLocations,
                  mapping);
  }
  Status getBackupSchema(std::uint32_t& schema) override {
    return answer(
        "GetBackupSchema", schema, [&] { return writer_.backupSchema; }, recordText(writer_.name));
  }
  Status saveAsXml(std::u16string& document) override {
    return answer(
        "SaveAsXML", document, [&] { return writerMetadataDocument(writer_); },
        recordText(writer_.name));
  }

 private:
  const WriterSpec& writer_;
};

class SimulatedComponentEx2 final : public vss::ComponentEx2, HandedOut {
 public:
  SimulatedComponentEx2(StatePtr state, FailedComponentSpec component)
      : HandedOut(std::move(state)), component_(std::move(component)) {}
  Status getFailure(vss::ComponentFailure& failure) override {
    return answer(
        "GetFailure", failure, [&] { return component_.failure; }, recordText(component_.name));
  }

 private:
  FailedComponentSpec component_;
};

class SimulatedComponent final : public vss::Component, HandedOut {
 public:
  SimulatedComponent(StatePtr state, FailedComponentSpec component)
      : HandedOut(std::move(state)), component_(std::move(component)) {}
  Status getComponentName(std::u16string& name) override {
    return answer("GetComponentName", name, [&] { return component_.name; });
  }
  Status queryComponentEx2(std::unique_ptr<vss::ComponentEx2>& component) override {
    return answer(
        "QueryInterface", component,
        [&] { return std::make_unique<SimulatedComponentEx2>(state_, component_); },
        "IVssComponentEx2");
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
    const Call call(*state_, "GetWriterInfo", recordText(writer_.name));
    if (call.refused()) return call.status();
    instanceId = writer_.instanceId;
    classId = writer_.classId;
    return call.status();
  }
  Status getComponentCount(std::uint32_t& count) override {
    return answer(
        "GetComponentCount", count, [&] { return static_cast<std::uint32_t>(components_.size()); },
        recordText(writer_.name));
  }
  Status getComponent(std::uint32_t index, std::unique_ptr<vss::Component>& component) override {
    return elementAt<SimulatedComponent>(state_, "IVssWriterComponents::GetComponent", index,
                                         components_, component);
  }

 private:
  const WriterSpec& writer_;
  std::vector<FailedComponentSpec> components_;
};

}  // namespace

std::string recordText(std::u16string_view value) { return vss::callText(value); }
std::string recordText(const vss::Guid& value) { return vss::callText(value); }

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
