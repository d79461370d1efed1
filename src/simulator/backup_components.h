#pragma once

// The simulated service's backup-components object and everything it hands
// out, behind the same seam as the real service. It keeps the rules the
// service documents: nothing before InitializeForBackup, metadata gathered
// once and read only after that, components added only if the writer has
// them, volumes added only to a started set, and an asynchronous operation
// reports itself pending until it has been waited on.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "simulator/service_state.h"
#include "vss/seam.h"

namespace frostcap::simulator {

// The backup-components object as the model plays it: besides what the
// library calls, the operations other requesters call, which the model's COM
// face hands on.
class ModelBackupComponents : public vss::BackupComponents {
 public:
  // InitializeForBackup with a document SaveAsXML wrote: the backup state,
  // context and components it names are taken over.
  virtual Status initializeFromDocument(const std::u16string& document) = 0;
  virtual Status abortBackup() = 0;
  virtual Status freeWriterMetadata() = 0;
  virtual Status freeWriterStatus() = 0;
  virtual Status disableWriterClasses(const std::vector<vss::Guid>& classIds) = 0;
  virtual Status disableWriterInstances(const std::vector<vss::Guid>& instanceIds) = 0;
  // GetSnapshotProperties with all the service tells, for any copy that
  // Query lists in the object's context.
  virtual Status snapshotProperties(const vss::Guid& snapshotId,
                                    SnapshotProperties& properties) = 0;
  // Query: the copies of the object's context (all of them in VSS_CTX_ALL);
  // asked for providers (VSS_OBJECT_PROVIDER), nothing but the status, as the
  // face describes the one provider the model plays.
  virtual Status query(const vss::Guid& queriedId, std::uint32_t queriedType,
                       std::uint32_t returnedType, std::vector<SnapshotProperties>& snapshots) = 0;
  // DeleteSnapshots of one copy (VSS_OBJECT_SNAPSHOT) or of every copy of a
  // set (VSS_OBJECT_SNAPSHOT_SET) of the object's context; `deleted` counts
  // what went, `notDeleted` names a copy that could not go.
  virtual Status deleteSnapshots(const vss::Guid& id, std::uint32_t type, bool force,
                                 std::int32_t& deleted, vss::Guid& notDeleted) = 0;
  // SaveAsXML: the backup's document, in the schema of the service's.
  virtual Status saveAsXml(std::u16string& document) = 0;
  virtual Status isVolumeSupported(const vss::Guid& providerId, const std::u16string& volume,
                                   bool& supported) = 0;
};

// A new object of the service that `state` describes. Destroying it ends its
// shadow copies.
std::unique_ptr<ModelBackupComponents> makeBackupComponents(std::shared_ptr<ServiceState> state);

}  // namespace frostcap::simulator
