#include "backup/writer_status.h"

#include <memory>
#include <vector>

#include "frame/await_async.h"
#include "frame/messages.h"
#include "vss/constants.h"

namespace frostcap {
namespace {

namespace label = messages::label;

// Queues why one component of a partly failed writer failed.
StepResult reportComponent(Snapshot& snapshot, vss::Component& component) {
  std::u16string name;
  Status status = component.getComponentName(name);
  if (failed(status)) return callFailure(label::kPartialGetComponentName, status);
  std::unique_ptr<vss::ComponentEx2> extended;
  status = vss::obtained(component.queryComponentEx2(extended), extended);
  if (failed(status)) return callFailure(label::kPartialQueryComponentEx2, status);
  vss::ComponentFailure failure;
  status = extended->getFailure(failure);
  if (failed(status)) return callFailure(label::kPartialGetFailure, status);

  if (failed(failure.hr)) {
    snapshot.messages.append(messages::componentServiceFailure(name, failure.hr));
  }
  if (failed(failure.hrApplication)) {
    snapshot.messages.append(messages::componentApplicationFailure(name, failure.hrApplication));
  }
  if (!failure.applicationMessage.empty()) {
    snapshot.messages.append(messages::componentCustomFailure(name, failure.applicationMessage));
  }
  return StepResult::success();
}

// The failing writer's entry in the list of writers with components in the
// backup. That list has an index space of its own, so the entry is found by
// the writer's instance: first at the writer's own status index, which is
// where a service that lists the same writers in both finds it, then among the
// others. Where the service does not say which writer an entry is, the status
// index is taken as it stands. No entry at all: the writer has no component
// in the backup, so there is nothing to report.
StepResult findWriterComponents(vss::BackupComponents& service, std::uint32_t statusIndex,
                                const vss::Guid& instanceId,
                                std::unique_ptr<vss::WriterComponents>& found) {
  std::uint32_t count = 0;
  const bool listed = !failed(service.getWriterComponentsCount(count));
  std::vector<std::uint32_t> candidates{statusIndex};
  if (listed) {
    if (statusIndex >= count) candidates.clear();
    for (std::uint32_t index = 0; index < count; ++index) {
      if (index != statusIndex) candidates.push_back(index);
    }
  }
  for (const std::uint32_t index : candidates) {
    std::unique_ptr<vss::WriterComponents> components;
    const Status status = vss::obtained(service.getWriterComponents(index, components), components);
    if (failed(status)) return callFailure(label::kPartialGetWriterComponents, status);
    vss::Guid instance;
    vss::Guid writerClass;
    const bool stated = !failed(components->getWriterInfo(instance, writerClass));
    if (stated ? instance == instanceId : index == statusIndex) {
      found = std::move(components);
      return StepResult::success();
    }
  }
  return StepResult::success();
}

StepResult reportComponents(Snapshot& snapshot, std::uint32_t writerIndex,
                            const vss::Guid& instanceId) {
  std::unique_ptr<vss::WriterComponents> components;
  const StepResult located =
      findWriterComponents(*snapshot.backupComponents, writerIndex, instanceId, components);
  if (!located.ok || !components) return located;
  std::uint32_t count = 0;
  Status status = components->getComponentCount(count);
  if (failed(status)) return callFailure(label::kPartialGetComponentCount, status);
  for (std::uint32_t index = 0; index < count; ++index) {
    std::unique_ptr<vss::Component> component;
    status = vss::obtained(components->getComponent(index, component), component);
    if (failed(status)) return callFailure(label::kPartialGetComponent, status);
    const StepResult result = reportComponent(snapshot, *component);
    if (!result.ok) return result;
  }
  return StepResult::success();
}

}  // namespace

StepResult reportWriterStatus(Snapshot& snapshot) {
  vss::BackupComponents& service = *snapshot.backupComponents;
  std::unique_ptr<vss::Async> async;
  Status status = service.gatherWriterStatus(async);
  status = vss::finishAsync(status, std::move(async));
  // A backup of volumes alone runs in a context without writers, where no
  // writer metadata was gathered; a service that then refuses to gather
  // writer status as out of sequence has no writer to report.
  if (status == vss::kBadState && snapshot.selectedWriters.empty()) return StepResult::success();
  if (failed(status)) return callFailure(label::kGatherWriterStatus, status);

  std::uint32_t count = 0;
  status = service.getWriterStatusCount(count);
  // The count belongs to the gathering, and reports under its label.
  if (failed(status)) return callFailure(label::kGatherWriterStatus, status);

  for (std::uint32_t index = 0; index < count; ++index) {
    vss::WriterStatus writer;
    status = service.getWriterStatus(index, writer);
    if (failed(status)) return callFailure(label::kGetWriterStatus, status);
    if (writer.failure == vss::kWriterErrorPartialFailure) {
      const StepResult result = reportComponents(snapshot, index, writer.instanceId);
      if (!result.ok) return result;
    }
    if (failed(writer.failure)) {
      return StepResult::failure(messages::writerFailed(writer.name, writer.failure));
    }
  }
  return StepResult::success();
}

}  // namespace frostcap
