#include "backup/completion.h"

#include <memory>

#include "backup/writer_status.h"
#include "frame/await_async.h"
#include "frame/messages.h"

namespace frostcap {

StepResult completeBackup(Snapshot& snapshot, bool succeeded) {
  // A volume-only backup is not declared complete, and one whose preparation
  // stopped before every writer was reached has nothing consistent to declare.
  const std::size_t writerCount = snapshot.writerSelections.size();
  if (writerCount == 0 || !snapshot.backupComponents ||
      snapshot.writerInstanceIds.size() != writerCount ||
      snapshot.writerClassIds.size() != writerCount) {
    return StepResult::success();
  }
  vss::BackupComponents& service = *snapshot.backupComponents;

  std::size_t position = 0;
  for (const auto& [writerId, selections] : snapshot.writerSelections) {
    // Each component goes to the instance it was added for; one selected
    // after the preparation, to the writer's first instance.
    const auto added = snapshot.selectionInstances.find(writerId);
    for (std::size_t index = 0; index < selections.size(); ++index) {
      const ComponentRecord& record = selections[index];
      const vss::Guid& instanceId =
          added != snapshot.selectionInstances.end() && index < added->second.size()
              ? added->second[index]
              : snapshot.writerInstanceIds[position];
      const Status status = service.setBackupSucceeded(
          instanceId, snapshot.writerClassIds[position], record.componentType, record.logicalPath,
          record.componentName, succeeded);
      if (failed(status)) return callFailure(messages::label::kSetBackupSucceeded, status);
    }
    ++position;
  }

  std::unique_ptr<vss::Async> async;
  const Status status = service.backupComplete(async);
  const StepResult result =
      vss::awaitAsync(messages::label::kBackupComplete, status, std::move(async));
  if (!result.ok) return result;
  return reportWriterStatus(snapshot);
}

}  // namespace frostcap
