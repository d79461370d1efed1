#include "backup/writer_status.h"

#include <memory>

#include "frame/messages.h"
#include "vss/await_async.h"

namespace frostcap {
namespace {

namespace label = messages::label;

constexpr Status kPartialFailure =
    static_cast<Status>(0x80042336);  // VSS_E_WRITERERROR_PARTIAL_FAILURE

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

StepResult reportComponents(Snapshot& snapshot, std::uint32_t writerIndex) {
  std::unique_ptr<vss::WriterComponents> components;
  Status status = vss::obtained(
      snapshot.backupComponents->getWriterComponents(writerIndex, components), components);
  if (failed(status)) return callFailure(label::kPartialGetWriterComponents, status);
  std::uint32_t count = 0;
  status = components->getComponentCount(count);
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
  StepResult result = vss::awaitAsync(label::kGatherWriterStatus, status, std::move(async));
  if (!result.ok) return result;

  std::uint32_t count = 0;
  status = service.getWriterStatusCount(count);
  // The count belongs to the gathering, and reports under its label.
  if (failed(status)) return callFailure(label::kGatherWriterStatus, status);

  for (std::uint32_t index = 0; index < count; ++index) {
    vss::WriterStatus writer;
    status = service.getWriterStatus(index, writer);
    if (failed(status)) return callFailure(label::kGetWriterStatus, status);
    if (writer.failure == kPartialFailure) {
      result = reportComponents(snapshot, index);
      if (!result.ok) return result;
    }
    if (failed(writer.failure)) {
      return StepResult::failure(messages::writerFailed(writer.name, writer.failure));
    }
  }
  return StepResult::success();
}

}  // namespace frostcap
