#include "support/fake_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <stdexcept>

#include "platform/platform.h"

namespace frostcap::test {

std::string text(const std::u16string& value) { return platform::wideToUtf8(value); }
std::string text(const vss::Guid& value) { return text(platform::formatGuid(value)); }

namespace {

constexpr Status kBadState = static_cast<Status>(0x80042301);        // VSS_E_BAD_STATE
constexpr Status kObjectNotFound = static_cast<Status>(0x80042308);  // VSS_E_OBJECT_NOT_FOUND
constexpr Status kInvalidArgument = static_cast<Status>(0x80070057);

std::string flag(bool value) { return value ? "true" : "false"; }

// Every fake object counts itself alive for as long as the library holds it.
class Counted {
 public:
  explicit Counted(FakeService& service) : service_(service) { service_.objectCreated(); }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;
  ~Counted() { service_.objectDestroyed(); }

 protected:
  FakeService& service_;
};

class FakeAsync final : public vss::Async, Counted {
 public:
  FakeAsync(FakeService& service, std::string op) : Counted(service), op_(std::move(op)) {}

  Status wait() override {
    waited_ = true;
    return service_.enter(op_ + ".Wait");
  }
  Status queryStatus(Status& operation) override {
    if (!waited_) ADD_FAILURE() << op_ << ": QueryStatus before Wait";
    const Status status = service_.enter(op_ + ".QueryStatus");
    operation = service_.enter(op_ + ".Result");
    return status;
  }

 private:
  std::string op_;
  bool waited_ = false;
};

class FakeFileDescriptor final : public vss::FileDescriptor, Counted {
 public:
  FakeFileDescriptor(FakeService& service, const FakeFile& file) : Counted(service), file_(file) {}

  Status getPath(std::optional<std::u16string>& path) override {
    const Status status = service_.enter("GetPath");
    if (!failed(status)) path = file_.path;
    return status;
  }
  Status getFilespec(std::u16string& filespec) override {
    const Status status = service_.enter("GetFilespec");
    if (!failed(status)) filespec = file_.filespec.value_or(u"");
    return status;
  }
  Status getRecursive(bool& recursive) override {
    const Status status = service_.enter("GetRecursive");
    if (!failed(status)) recursive = file_.recursive;
    return status;
  }

 private:
  const FakeFile& file_;
};

// Hands out the descriptor at `index` of `files`.
Status fileAt(FakeService& service, const std::string& op, std::uint32_t index,
              const std::vector<FakeFile>& files, std::unique_ptr<vss::FileDescriptor>& file) {
  const Status status = service.enter(op, std::to_string(index));
  if (failed(status)) return status;
  if (index >= files.size()) return kInvalidArgument;
  file = std::make_unique<FakeFileDescriptor>(service, files[index]);
  return status;
}

class FakeMetadataComponent final : public vss::WriterMetadataComponent, Counted {
 public:
  FakeMetadataComponent(FakeService& service, const FakeComponent& component)
      : Counted(service), component_(component) {}

  Status getComponentInfo(vss::ComponentInfo& info) override {
    const Status status = service_.enter("GetComponentInfo", text(component_.name));
    if (failed(status)) return status;
    info = {component_.type,
            component_.logicalPath,
            component_.name,
            component_.selectable,
            static_cast<std::uint32_t>(component_.files.size()),
            static_cast<std::uint32_t>(component_.databases.size()),
            static_cast<std::uint32_t>(component_.logs.size()),
            this};
    service_.infoObtained();
    return status;
  }
  Status freeComponentInfo(vss::ComponentInfo& info) override {
    if (info.block != this || !service_.infoReturned()) {
      ADD_FAILURE() << "FreeComponentInfo of a block that is not outstanding";
    }
    info.block = nullptr;
    return service_.enter("FreeComponentInfo", text(component_.name));
  }
  Status getFile(std::uint32_t index, std::unique_ptr<vss::FileDescriptor>& file) override {
    return fileAt(service_, "GetFile", index, component_.files, file);
  }
  Status getDatabaseFile(std::uint32_t index, std::unique_ptr<vss::FileDescriptor>& file) override {
    return fileAt(service_, "GetDatabaseFile", index, component_.databases, file);
  }
  Status getDatabaseLogFile(std::uint32_t index,
                            std::unique_ptr<vss::FileDescriptor>& file) override {
    return fileAt(service_, "GetDatabaseLogFile", index, component_.logs, file);
  }

 private:
  const FakeComponent& component_;
};

class FakeMetadata final : public vss::WriterMetadata, Counted {
 public:
  FakeMetadata(FakeService& service, const FakeWriter& writer)
      : Counted(service), writer_(writer) {}

  Status getIdentity(vss::WriterIdentity& identity) override {
    const Status status = service_.enter("GetIdentity", text(writer_.name));
    if (!failed(status)) identity = {writer_.instanceId, writer_.classId, writer_.name};
    return status;
  }

  Status getFileCounts(vss::FileCounts& counts) override {
    const Status status = service_.enter("GetFileCounts", text(writer_.name));
    if (!failed(status)) {
      counts = {0, static_cast<std::uint32_t>(writer_.excludes.size()),
                static_cast<std::uint32_t>(writer_.components.size())};
    }
    return status;
  }
  Status getExcludeFile(std::uint32_t index, std::unique_ptr<vss::FileDescriptor>& file) override {
    return fileAt(service_, "GetExcludeFile", index, writer_.excludes, file);
  }
  Status getComponent(std::uint32_t index,
                      std::unique_ptr<vss::WriterMetadataComponent>& component) override {
    const Status status = service_.enter("GetComponent", std::to_string(index));
    if (failed(status)) return status;
    if (index >= writer_.components.size()) return kInvalidArgument;
    component = std::make_unique<FakeMetadataComponent>(service_, writer_.components[index]);
    return status;
  }

 private:
  const FakeWriter& writer_;
};

class FakeComponentEx2 final : public vss::ComponentEx2, Counted {
 public:
  FakeComponentEx2(FakeService& service, const FakeFailedComponent& component)
      : Counted(service), component_(component) {}
  Status getFailure(vss::ComponentFailure& failure) override {
    const Status status = service_.enter("GetFailure", text(component_.name));
    if (!failed(status)) failure = component_.failure;
    return status;
  }

 private:
  const FakeFailedComponent& component_;
};

class FakeWriterComponent final : public vss::Component, Counted {
 public:
  FakeWriterComponent(FakeService& service, const FakeFailedComponent& component)
      : Counted(service), component_(component) {}
  Status getComponentName(std::u16string& name) override {
    const Status status = service_.enter("GetComponentName");
    if (!failed(status)) name = component_.name;
    return status;
  }
  Status queryComponentEx2(std::unique_ptr<vss::ComponentEx2>& component) override {
    const Status status = service_.enter("QueryInterface(IVssComponentEx2)");
    if (!failed(status)) component = std::make_unique<FakeComponentEx2>(service_, component_);
    return status;
  }

 private:
  const FakeFailedComponent& component_;
};

class FakeWriterComponents final : public vss::WriterComponents, Counted {
 public:
  FakeWriterComponents(FakeService& service, const FakeWriter& writer)
      : Counted(service), writer_(writer) {}
  Status getWriterInfo(vss::Guid& instanceId, vss::Guid& classId) override {
    const Status status = service_.enter("GetWriterInfo", text(writer_.name));
    if (!failed(status)) {
      instanceId = writer_.instanceId;
      classId = writer_.classId;
    }
    return status;
  }
  Status getComponentCount(std::uint32_t& count) override {
    const Status status = service_.enter("GetComponentCount", text(writer_.name));
    if (!failed(status)) count = static_cast<std::uint32_t>(writer_.failedComponents.size());
    return status;
  }
  Status getComponent(std::uint32_t index, std::unique_ptr<vss::Component>& component) override {
    const Status status =
        service_.enter("IVssWriterComponents::GetComponent", std::to_string(index));
    if (failed(status)) return status;
    if (index >= writer_.failedComponents.size()) return kInvalidArgument;
    component = std::make_unique<FakeWriterComponent>(service_, writer_.failedComponents[index]);
    return status;
  }

 private:
  const FakeWriter& writer_;
};

class FakeBackupComponents final : public vss::BackupComponents, Counted {
 public:
  explicit FakeBackupComponents(FakeService& service) : Counted(service) {}

  Status initializeForBackup() override { return service_.enter("InitializeForBackup"); }
  Status setBackupState(bool selectComponents, bool bootable, std::uint32_t type,
                        bool partial) override {
    return service_.enter("SetBackupState", flag(selectComponents) + "," + flag(bootable) + "," +
                                                std::to_string(type) + "," + flag(partial));
  }
  Status setContext(std::int32_t context) override {
    return service_.enter("SetContext", std::to_string(context));
  }
  Status enableWriterClasses(const std::vector<vss::Guid>& classIds) override {
    std::string args;
    for (const vss::Guid& id : classIds) args += (args.empty() ? "" : ",") + text(id);
    const Status status = service_.enter("EnableWriterClasses", args);
    if (!failed(status)) service_.enabledClasses = classIds;
    return status;
  }
  Status gatherWriterMetadata(std::unique_ptr<vss::Async>& async) override {
    if (gathered_) ADD_FAILURE() << "metadata gathered twice on one backup-components object";
    const Status status = service_.enter("GatherWriterMetadata");
    if (failed(status)) return status;
    gathered_ = true;
    async = std::make_unique<FakeAsync>(service_, "GatherWriterMetadata");
    return status;
  }
  Status getWriterMetadataCount(std::uint32_t& count) override {
    const Status status = service_.enter("GetWriterMetadataCount");
    if (failed(status)) return status;
    if (!gathered_) return kBadState;
    count = static_cast<std::uint32_t>(service_.reportedWriters().size());
    return status;
  }
  Status getWriterMetadata(std::uint32_t index, vss::Guid& instanceId,
                           std::unique_ptr<vss::WriterMetadata>& metadata) override {
    const Status status = service_.enter("GetWriterMetadata", std::to_string(index));
    if (failed(status)) return status;
    const auto writers = service_.reportedWriters();
    if (!gathered_) return kBadState;
    if (index >= writers.size()) return kInvalidArgument;
    instanceId = writers[index]->instanceId;
    metadata = std::make_unique<FakeMetadata>(service_, *writers[index]);
    return status;
  }
  Status addComponent(const vss::Guid& instanceId, const vss::Guid& classId, std::uint32_t type,
                      const std::u16string& logicalPath, const std::u16string& name) override {
    return service_.enter("AddComponent", text(instanceId) + "," + text(classId) + "," +
                                              std::to_string(type) + "," + text(logicalPath) + "," +
                                              text(name));
  }
  Status setBackupSucceeded(const vss::Guid& instanceId, const vss::Guid& classId,
                            std::uint32_t type, const std::u16string& logicalPath,
                            const std::u16string& name, bool succeeded) override {
    return service_.enter("SetBackupSucceeded", text(instanceId) + "," + text(classId) + "," +
                                                    std::to_string(type) + "," + text(logicalPath) +
                                                    "," + text(name) + "," + flag(succeeded));
  }
  Status startSnapshotSet(vss::Guid& snapshotSetId) override {
    const Status status = service_.enter("StartSnapshotSet");
    if (!failed(status)) snapshotSetId = {0x5e7, 0, 0, {}};
    return status;
  }
  Status addToSnapshotSet(const std::u16string& volume, const vss::Guid& providerId,
                          vss::Guid& snapshotId) override {
    const Status status = service_.enter("AddToSnapshotSet", text(volume) + "," + text(providerId));
    if (!failed(status))
      snapshotId = {static_cast<std::uint32_t>(++service_.nextSnapshot), 0, 0, {}};
    return status;
  }
  Status prepareForBackup(std::unique_ptr<vss::Async>& async) override {
    return startAsync("PrepareForBackup", async);
  }
  Status doSnapshotSet(std::unique_ptr<vss::Async>& async) override {
    return startAsync("DoSnapshotSet", async);
  }
  Status getSnapshotProperties(const vss::Guid& snapshotId, std::u16string& device) override {
    const Status status = service_.enter("GetSnapshotProperties", text(snapshotId));
    if (failed(status)) return status;
    const std::size_t number = snapshotId.data1;
    if (number == 0 || number > static_cast<std::size_t>(service_.nextSnapshot)) {
      return kObjectNotFound;
    }
    device = number <= service_.deviceNames.size()
                 ? service_.deviceNames[number - 1]
                 : u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy" +
                       platform::utf8ToWide(std::to_string(number));
    return status;
  }
  Status gatherWriterStatus(std::unique_ptr<vss::Async>& async) override {
    return startAsync("GatherWriterStatus", async);
  }
  Status getWriterStatusCount(std::uint32_t& count) override {
    const Status status = service_.enter("GetWriterStatusCount");
    if (!failed(status)) count = static_cast<std::uint32_t>(service_.reportedWriters().size());
    return status;
  }
  Status getWriterStatus(std::uint32_t index, vss::WriterStatus& writerStatus) override {
    const Status status = service_.enter("GetWriterStatus", std::to_string(index));
    if (failed(status)) return status;
    const auto writers = service_.reportedWriters();
    if (index >= writers.size()) return kInvalidArgument;
    const FakeWriter& writer = *writers[index];
    writerStatus = {writer.instanceId, writer.classId, writer.name, 0, writer.failure};
    return status;
  }
  Status getWriterComponentsCount(std::uint32_t& count) override {
    const Status status = service_.enter("GetWriterComponentsCount");
    if (!failed(status)) count = static_cast<std::uint32_t>(service_.reportedWriters().size());
    return status;
  }
  Status getWriterComponents(std::uint32_t index,
                             std::unique_ptr<vss::WriterComponents>& components) override {
    const Status status = service_.enter("GetWriterComponents", std::to_string(index));
    if (failed(status)) return status;
    const auto writers = service_.reportedWriters();
    if (index >= writers.size()) return kInvalidArgument;
    components = std::make_unique<FakeWriterComponents>(service_, *writers[index]);
    return status;
  }
  Status backupComplete(std::unique_ptr<vss::Async>& async) override {
    return startAsync("BackupComplete", async);
  }

 private:
  Status startAsync(const std::string& op, std::unique_ptr<vss::Async>& async) {
    const Status status = service_.enter(op);
    if (!failed(status)) async = std::make_unique<FakeAsync>(service_, op);
    return status;
  }

  bool gathered_ = false;
};

}  // namespace

FakeService::FakeService() {
  previousFactory_ =
      vss::setBackupComponentsFactory([this](std::unique_ptr<vss::BackupComponents>& out) {
        const Status status = enter("CreateVssBackupComponents");
        if (!failed(status)) out = std::make_unique<FakeBackupComponents>(*this);
        if (out && wrapper) out = wrapper(std::move(out));
        return status;
      });
}

FakeService::Wrapper FakeService::wrapper;

FakeService::~FakeService() { vss::setBackupComponentsFactory(std::move(previousFactory_)); }

void FakeService::fail(const std::string& op, Status status, int occurrence) {
  faults_[{op, occurrence}] = {status, Throw::kNothing};
}

void FakeService::raise(const std::string& op, Throw kind, int occurrence) {
  faults_[{op, occurrence}] = {0, kind};
}

void FakeService::answer(const std::string& op, Status status) { answers_[op] = status; }

Status FakeService::enter(const std::string& op, std::string args) {
  // The operation's own status is not a call, only an answer.
  if (!op.ends_with(".Result")) calls_.push_back({op, std::move(args)});
  const int occurrence = ++counts_[op];
  const auto fault = faults_.find({op, occurrence});
  if (fault == faults_.end()) {
    const auto answer = answers_.find(op);
    return answer == answers_.end() ? Status{0} : answer->second;
  }
  switch (fault->second.kind) {
    case Throw::kBadAlloc:
      throw std::bad_alloc();
    case Throw::kStandard:
      throw std::runtime_error("fault injected into " + op);
    case Throw::kNonStandard:
      throw 42;
    case Throw::kNothing:
      break;
  }
  return fault->second.status;
}

bool FakeService::infoReturned() {
  if (outstandingInfo_ == 0) return false;
  --outstandingInfo_;
  return true;
}

std::vector<std::string> FakeService::log(const std::string& omit) const {
  std::vector<std::string> lines;
  for (const Call& call : calls_) {
    if (omit.empty() || call.op.find(omit) == std::string::npos) lines.push_back(call.text());
  }
  return lines;
}

std::vector<std::string> FakeService::logSince(std::size_t first) const {
  std::vector<std::string> lines;
  for (std::size_t i = first; i < calls_.size(); ++i) lines.push_back(calls_[i].text());
  return lines;
}

int FakeService::count(const std::string& op) const {
  return static_cast<int>(
      std::count_if(calls_.begin(), calls_.end(), [&](const Call& call) { return call.op == op; }));
}

std::vector<const FakeWriter*> FakeService::reportedWriters() const {
  std::vector<const FakeWriter*> reported;
  for (const FakeWriter& writer : writers) {
    if (!enabledClasses || std::find(enabledClasses->begin(), enabledClasses->end(),
                                     writer.classId) != enabledClasses->end()) {
      reported.push_back(&writer);
    }
  }
  return reported;
}

}  // namespace frostcap::test
