#include "lean_service.h"

#include <utility>

#include "vss/constants.h"
#include "vss/factory.h"

namespace frostcap::bench {
namespace {

constexpr Status kOk = 0;
using vss::kInvalidArgument;

class LeanAsync final : public vss::Async {
 public:
  Status wait() override { return kOk; }
  Status queryStatus(Status& operation) override {
    operation = kOk;
    return kOk;
  }
};

class LeanFileDescriptor final : public vss::FileDescriptor {
 public:
  explicit LeanFileDescriptor(const LeanFile& file) : file_(file) {}
  Status getPath(std::optional<std::u16string>& path) override {
    path = file_.path;
    return kOk;
  }
  Status getFilespec(std::u16string& filespec) override {
    filespec = file_.filespec;
    return kOk;
  }
  Status getRecursive(bool& recursive) override {
    recursive = file_.recursive;
    return kOk;
  }

 private:
  const LeanFile& file_;
};

Status describe(const std::vector<LeanFile>& files, std::uint32_t index,
                std::unique_ptr<vss::FileDescriptor>& out) {
  if (index >= files.size()) return kInvalidArgument;
  out = std::make_unique<LeanFileDescriptor>(files[index]);
  return kOk;
}

class LeanMetadataComponent final : public vss::WriterMetadataComponent {
 public:
  explicit LeanMetadataComponent(const LeanComponent& component) : component_(component) {}

  // The strings are copied, as the real adapter copies them out of the
  // service's block.
  Status getComponentInfo(vss::ComponentInfo& info) override {
    info.type = component_.type;
    info.logicalPath = component_.logicalPath;
    info.componentName = component_.name;
    info.selectable = component_.selectable;
    info.fileCount = static_cast<std::uint32_t>(component_.files.size());
    info.databaseCount = 0;
    info.logFileCount = 0;
    return kOk;
  }
  Status freeComponentInfo(vss::ComponentInfo&) override { return kOk; }
  Status getFile(std::uint32_t index, std::unique_ptr<vss::FileDescriptor>& file) override {
    return describe(component_.files, index, file);
  }
  Status getDatabaseFile(std::uint32_t, std::unique_ptr<vss::FileDescriptor>&) override {
    return kInvalidArgument;
  }
  Status getDatabaseLogFile(std::uint32_t, std::unique_ptr<vss::FileDescriptor>&) override {
    return kInvalidArgument;
  }

 private:
  const LeanComponent& component_;
};

class LeanWriterMetadata final : public vss::WriterMetadata {
 public:
  explicit LeanWriterMetadata(const LeanWriter& writer) : writer_(writer) {}
  Status getIdentity(vss::WriterIdentity& identity) override {
    identity.instanceId = writer_.instanceId;
    identity.classId = writer_.classId;
    return kOk;
  }
  Status getFileCounts(vss::FileCounts& counts) override {
    counts.includeFiles = 0;
    counts.excludeFiles = static_cast<std::uint32_t>(writer_.excludes.size());
    counts.components = static_cast<std::uint32_t>(writer_.components.size());
    return kOk;
  }
  Status getExcludeFile(std::uint32_t index, std::unique_ptr<vss::FileDescriptor>& file) override {
    return describe(writer_.excludes, index, file);
  }
  Status getComponent(std::uint32_t index,
                      std::unique_ptr<vss::WriterMetadataComponent>& component) override {
    if (index >= writer_.components.size()) return kInvalidArgument;
    component = std::make_unique<LeanMetadataComponent>(writer_.components[index]);
    return kOk;
  }

 private:
  const LeanWriter& writer_;
};

class LeanBackupComponents final : public vss::BackupComponents {
 public:
  explicit LeanBackupComponents(std::shared_ptr<const LeanWriters> writers)
      : writers_(std::move(writers)) {}

  Status initializeForBackup() override { return kOk; }
  Status setBackupState(bool, bool, std::uint32_t, bool) override { return kOk; }
  Status setContext(std::int32_t) override { return kOk; }
  Status enableWriterClasses(const std::vector<vss::Guid>&) override { return kOk; }
  Status gatherWriterMetadata(std::unique_ptr<vss::Async>& async) override {
    return finished(async);
  }
  Status getWriterMetadataCount(std::uint32_t& count) override {
    count = static_cast<std::uint32_t>(writers_->size());
    return kOk;
  }
  Status getWriterMetadata(std::uint32_t index, vss::Guid& instanceId,
                           std::unique_ptr<vss::WriterMetadata>& metadata) override {
    if (index >= writers_->size()) return kInvalidArgument;
    const LeanWriter& writer = (*writers_)[index];
    instanceId = writer.instanceId;
    metadata = std::make_unique<LeanWriterMetadata>(writer);
    return kOk;
  }
  Status addComponent(const vss::Guid&, const vss::Guid&, std::uint32_t, const std::u16string&,
                      const std::u16string&) override {
    return kOk;
  }
  Status setBackupSucceeded(const vss::Guid&, const vss::Guid&, std::uint32_t,
                            const std::u16string&, const std::u16string&, bool) override {
    return kOk;
  }
  Status startSnapshotSet(vss::Guid& snapshotSetId) override {
    snapshotSetId = benchGuid(0);
    return kOk;
  }
  Status addToSnapshotSet(const std::u16string&, const vss::Guid&, vss::Guid& snapshotId) override {
    snapshotId = benchGuid(1);
    return kOk;
  }
  Status prepareForBackup(std::unique_ptr<vss::Async>& async) override { return finished(async); }
  Status doSnapshotSet(std::unique_ptr<vss::Async>& async) override { return finished(async); }
  Status getSnapshotProperties(const vss::Guid&, std::u16string& deviceObject) override {
    deviceObject = u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1";
    return kOk;
  }
  Status gatherWriterStatus(std::unique_ptr<vss::Async>& async) override { return finished(async); }
  Status getWriterStatusCount(std::uint32_t& count) override {
    count = 0;
    return kOk;
  }
  Status getWriterStatus(std::uint32_t, vss::WriterStatus&) override { return kInvalidArgument; }
  Status getWriterComponentsCount(std::uint32_t& count) override {
    count = 0;
    return kOk;
  }
  Status getWriterComponents(std::uint32_t, std::unique_ptr<vss::WriterComponents>&) override {
    return kInvalidArgument;
  }
  Status backupComplete(std::unique_ptr<vss::Async>& async) override { return finished(async); }

 private:
  static Status finished(std::unique_ptr<vss::Async>& async) {
    async = std::make_unique<LeanAsync>();
    return kOk;
  }

  std::shared_ptr<const LeanWriters> writers_;
};

}  // namespace

std::unique_ptr<vss::BackupComponents> makeLeanBackupComponents(
    std::shared_ptr<const LeanWriters> writers) {
  return std::make_unique<LeanBackupComponents>(std::move(writers));
}

LeanFactoryScope::LeanFactoryScope(std::shared_ptr<const LeanWriters> writers)
    : previous_(vss::setBackupComponentsFactory(
          [writers = std::move(writers)](std::unique_ptr<vss::BackupComponents>& out) {
            out = makeLeanBackupComponents(writers);
            return kOk;
          })) {}

LeanFactoryScope::~LeanFactoryScope() { vss::setBackupComponentsFactory(std::move(previous_)); }

vss::Guid benchGuid(std::uint32_t seed) {
  return {0x5eed0000u + seed, 0x0b0e, 0x4c11, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
}

}  // namespace frostcap::bench
