#include "frame/await_async.h"

#include "frame/messages.h"

namespace frostcap::vss {

Status finishAsync(Status status, std::unique_ptr<Async> async) {
  if (failed(status) || !async) return status;
  status = async->wait();
  if (failed(status)) return status;
  Status operation = 0;
  status = async->queryStatus(operation);
  if (failed(status)) return status;
  // Positive codes (pending, cancelled) are not failures.
  return failed(operation) ? operation : status;
}

StepResult awaitAsync(std::u16string_view label, Status status, std::unique_ptr<Async> async) {
  status = finishAsync(status, std::move(async));
  if (failed(status)) return callFailure(label, status);
  return StepResult::success();
}

}  // namespace frostcap::vss
