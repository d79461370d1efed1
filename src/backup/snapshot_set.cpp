#include "backup/snapshot_set.h"

#include <memory>
#include <vector>

#include "backup/writer_status.h"
#include "frame/await_async.h"
#include "frame/messages.h"

namespace frostcap {
namespace {

namespace label = messages::label;

// Starts an asynchronous operation of the service and waits for it.
template <typename Start>
StepResult runAsync(std::u16string_view callLabel, Start start) {
  std::unique_ptr<vss::Async> async;
  const Status status = start(async);
  return vss::awaitAsync(callLabel, status, std::move(async));
}

}  // namespace

StepResult createSnapshotSet(Snapshot& snapshot) {
  vss::BackupComponents& service = *snapshot.backupComponents;
  vss::Guid snapshotSetId;
  Status status = service.startSnapshotSet(snapshotSetId);
  if (failed(status)) return callFailure(label::kStartSnapshotSet, status);

  std::vector<vss::Guid> snapshotIds;
  snapshotIds.reserve(snapshot.volumePaths.size());
  for (const std::u16string& volume : snapshot.volumePaths) {
    vss::Guid snapshotId;
    status = service.addToSnapshotSet(volume, snapshot.providerId, snapshotId);
    if (failed(status)) return callFailure(label::kAddToSnapshotSet, status);
    snapshotIds.push_back(snapshotId);
  }

  if (!snapshot.selectedWriters.empty()) {
    StepResult result = runAsync(label::kPrepareForBackup,
                                 [&](auto& async) { return service.prepareForBackup(async); });
    if (!result.ok) return result;
    result = reportWriterStatus(snapshot);
    if (!result.ok) return result;
  }

  StepResult result =
      runAsync(label::kDoSnapshotSet, [&](auto& async) { return service.doSnapshotSet(async); });
  if (!result.ok) return result;
  result = reportWriterStatus(snapshot);
  if (!result.ok) return result;

  for (const vss::Guid& snapshotId : snapshotIds) {
    std::u16string device;
    status = service.getSnapshotProperties(snapshotId, device);
    if (failed(status)) return callFailure(label::kGetSnapshotProperties, status);
    snapshot.shadowDevices.push_back(std::move(device));
  }
  return StepResult::success();
}

void queueMountPaths(Snapshot& snapshot) {
  for (const std::u16string& device : snapshot.shadowDevices) {
    if (device.empty()) continue;
    std::u16string mountPath = device;
    if (mountPath.back() != u'\\') mountPath.push_back(u'\\');
    snapshot.mountPaths.append(std::move(mountPath));
  }
}

}  // namespace frostcap
