#pragma once

#include <memory>
#include <string_view>

#include "frame/step_result.h"
#include "status/status.h"
#include "vss/constants.h"
#include "vss/seam.h"

namespace frostcap::vss {

// Finishes an asynchronous operation that `status` started: waits without a
// time-out, then takes the operation's own status. One label names the start,
// the wait, the status query and a failed operation alike; the status code in
// the text tells them apart. The operation object is released on every path.
StepResult awaitAsync(std::u16string_view label, Status status, std::unique_ptr<Async> async);

// The same wait for a caller that tells one failure from another: the first
// failing status of the start, the wait, the status query or the operation,
// and success when none failed.
Status finishAsync(Status status, std::unique_ptr<Async> async);

// A call that reports success but hands back no object has failed all the
// same; it answers as an invalid pointer would.

template <typename Object>
Status obtained(Status status, const std::unique_ptr<Object>& object) {
  return !failed(status) && !object ? kInvalidPointer : status;
}

}  // namespace frostcap::vss
