#include "frame/await_async.h"

#include "frame/messages.h"

namespace frostcap::vss {

StepResult awaitAsync(std::u16string_view label, Status status, std::unique_ptr<Async> async) {
  if (failed(status)) return callFailure(label, status);
  if (!async) return StepResult::success();
  status = async->wait();
  if (failed(status)) return callFailure(label, status);
  Status operation = 0;
  status = async->queryStatus(operation);
  if (failed(status)) return callFailure(label, status);
  // Positive codes (pending, cancelled) are not failures.
  if (failed(operation)) return callFailure(label, operation);
  return StepResult::success();
}

}  // namespace frostcap::vss
