#include "backup/completion.h"

#include <algorithm>
#include <memory>

#include "backup/writer_status.h"
#include "frame/await_async.h"
#include "frame/messages.h"
#include "vss/constants.h"

namespace frostcap {
namespace {

// A component selected after the preparation was never added to the backup,
// and the service may refuse to mark what it does not hold. That refusal
// concerns this component alone: the others are still marked and the backup
// declared complete, so that their writers learn of it.
bool refusedAsNeverAdded(const Selection& selection, Status status) {
  return status == vss::kObjectNotFound && !selection.added();
}

}  // namespace

StepResult completeBackup(Snapshot& snapshot, bool succeeded) {
  // A volume-only backup is not declared complete, and one whose preparation
  // stopped before every writer was reached has nothing consistent to declare.
  const auto reached = [](const auto& selected) { return !selected.second.instanceIds.empty(); };
  if (snapshot.selectedWriters.empty() || !snapshot.backupComponents ||
      !std::all_of(snapshot.selectedWriters.begin(), snapshot.selectedWriters.end(), reached)) {
    return StepResult::success();
  }
  vss::BackupComponents& service = *snapshot.backupComponents;

  for (const auto& [writerId, writer] : snapshot.selectedWriters) {
    for (const Selection& selection : writer.selections) {
      // Each component goes to the instance it was added for; one selected
      // after the preparation, to the writer's first instance.
      const ComponentRecord& record = selection.component;
      const Status status = service.setBackupSucceeded(
          selection.addedFor.value_or(writer.instanceIds.front()), *writer.classId,
          record.componentType, record.logicalPath, record.componentName, succeeded);
      if (failed(status) && !refusedAsNeverAdded(selection, status)) {
        return callFailure(messages::label::kSetBackupSucceeded, status);
      }
    }
  }

  std::unique_ptr<vss::Async> async;
  const Status status = service.backupComplete(async);
  const StepResult result =
      vss::awaitAsync(messages::label::kBackupComplete, status, std::move(async));
  if (!result.ok) return result;
  return reportWriterStatus(snapshot);
}

}  // namespace frostcap
