#pragma once

// The seam to the shadow copy service: exactly the requester operations the
// library calls, as abstract interfaces. On Windows a COM adapter implements
// them over the real service; tests and the simulated service implement them
// too. Every operation returns the service's status (negative: failure).
// Results come back as the library's own values; objects the service hands
// out come back as owned handles, and destroying a handle releases the object.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "status/status.h"

namespace frostcap::vss {

using platform::Guid;

// An asynchronous operation (IVssAsync).
class Async {
 public:
  virtual ~Async() = default;
  virtual Status wait() = 0;                          // Wait(INFINITE)
  virtual Status queryStatus(Status& operation) = 0;  // the operation's own status
};

// A writer's description of some files (IVssWMFiledesc).
class FileDescriptor {
 public:
  virtual ~FileDescriptor() = default;
  virtual Status getPath(std::optional<std::u16string>& path) = 0;  // nothing: no path at all
  virtual Status getFilespec(std::u16string& filespec) = 0;
  virtual Status getRecursive(bool& recursive) = 0;
};

// The parts of a component's description (VSS_COMPONENTINFO) the library
// reads. The service's own block stays alive, behind `block`, until it is
// handed back with WriterMetadataComponent::freeComponentInfo.
struct ComponentInfo {
  std::uint32_t type = 0;
  std::u16string logicalPath;    // empty when the service gave none
  std::u16string componentName;  // empty when the service gave none
  bool selectable = false;
  std::uint32_t fileCount = 0;
  std::uint32_t databaseCount = 0;
  std::uint32_t logFileCount = 0;
  void* block = nullptr;
};

// A component as a writer's metadata describes it (IVssWMComponent).
class WriterMetadataComponent {
 public:
  virtual ~WriterMetadataComponent() = default;
  virtual Status getComponentInfo(ComponentInfo& info) = 0;
  // Hands the description's block back; its failure is reported, so it is an
  // operation of its own rather than a destructor.
  virtual Status freeComponentInfo(ComponentInfo& info) = 0;
  virtual Status getFile(std::uint32_t index, std::unique_ptr<FileDescriptor>& file) = 0;
  virtual Status getDatabaseFile(std::uint32_t index, std::unique_ptr<FileDescriptor>& file) = 0;
  virtual Status getDatabaseLogFile(std::uint32_t index, std::unique_ptr<FileDescriptor>& file) = 0;
};

struct FileCounts {
  std::uint32_t includeFiles = 0;
  std::uint32_t excludeFiles = 0;
  std::uint32_t components = 0;
};

// Which writer a metadata entry belongs to (IVssExamineWriterMetadata::GetIdentity).
struct WriterIdentity {
  Guid instanceId;
  Guid classId;
  std::u16string name;
};

// One writer's metadata (IVssExamineWriterMetadata).
class WriterMetadata {
 public:
  virtual ~WriterMetadata() = default;
  virtual Status getIdentity(WriterIdentity& identity) = 0;
  virtual Status getFileCounts(FileCounts& counts) = 0;
  virtual Status getExcludeFile(std::uint32_t index, std::unique_ptr<FileDescriptor>& file) = 0;
  virtual Status getComponent(std::uint32_t index,
                              std::unique_ptr<WriterMetadataComponent>& component) = 0;
};

// What a component reports about its failure (IVssComponentEx2::GetFailure).
struct ComponentFailure {
  Status hr = 0;
  Status hrApplication = 0;
  std::u16string applicationMessage;
};

class ComponentEx2 {
 public:
  virtual ~ComponentEx2() = default;
  virtual Status getFailure(ComponentFailure& failure) = 0;
};

// A component of a writer taking part in the backup (IVssComponent).
class Component {
 public:
  virtual ~Component() = default;
  virtual Status getComponentName(std::u16string& name) = 0;
  // QueryInterface for IVssComponentEx2.
  virtual Status queryComponentEx2(std::unique_ptr<ComponentEx2>& component) = 0;
};

// The components of one writer in the backup (IVssWriterComponents).
class WriterComponents {
 public:
  virtual ~WriterComponents() = default;
  // The writer they belong to (GetWriterInfo).
  virtual Status getWriterInfo(Guid& instanceId, Guid& classId) = 0;
  virtual Status getComponentCount(std::uint32_t& count) = 0;
  virtual Status getComponent(std::uint32_t index, std::unique_ptr<Component>& component) = 0;
};

// The parts of a writer's status the library reads (GetWriterStatus).
struct WriterStatus {
  Guid instanceId;
  Guid classId;
  std::u16string name;
  std::int32_t state = 0;
  Status failure = 0;
};

// The service's backup-components object: the requester's handle on one
// backup. Destroying it releases it, which ends the backup's shadow copies.
class BackupComponents {
 public:
  virtual ~BackupComponents() = default;

  virtual Status initializeForBackup() = 0;
  virtual Status setBackupState(bool selectComponents, bool bootableSystemState,
                                std::uint32_t backupType, bool partialFileSupport) = 0;
  virtual Status setContext(std::int32_t context) = 0;
  virtual Status enableWriterClasses(const std::vector<Guid>& classIds) = 0;
  virtual Status gatherWriterMetadata(std::unique_ptr<Async>& async) = 0;
  virtual Status getWriterMetadataCount(std::uint32_t& count) = 0;
  virtual Status getWriterMetadata(std::uint32_t index, Guid& instanceId,
                                   std::unique_ptr<WriterMetadata>& metadata) = 0;
  virtual Status addComponent(const Guid& instanceId, const Guid& classId,
                              std::uint32_t componentType, const std::u16string& logicalPath,
                              const std::u16string& componentName) = 0;
  virtual Status setBackupSucceeded(const Guid& instanceId, const Guid& classId,
                                    std::uint32_t componentType, const std::u16string& logicalPath,
                                    const std::u16string& componentName, bool succeeded) = 0;
  virtual Status startSnapshotSet(Guid& snapshotSetId) = 0;
  virtual Status addToSnapshotSet(const std::u16string& volumePath, const Guid& providerId,
                                  Guid& snapshotId) = 0;
  virtual Status prepareForBackup(std::unique_ptr<Async>& async) = 0;
  virtual Status doSnapshotSet(std::unique_ptr<Async>& async) = 0;
  // The shadow copy's device object name; the properties are freed inside.
  virtual Status getSnapshotProperties(const Guid& snapshotId, std::u16string& deviceObject) = 0;
  virtual Status gatherWriterStatus(std::unique_ptr<Async>& async) = 0;
  virtual Status getWriterStatusCount(std::uint32_t& count) = 0;
  virtual Status getWriterStatus(std::uint32_t index, WriterStatus& status) = 0;
  // The writers with components in the backup, in an index space of their
  // own: not that of getWriterStatus.
  virtual Status getWriterComponentsCount(std::uint32_t& count) = 0;
  virtual Status getWriterComponents(std::uint32_t index,
                                     std::unique_ptr<WriterComponents>& components) = 0;
  virtual Status backupComplete(std::unique_ptr<Async>& async) = 0;
};

}  // namespace frostcap::vss
