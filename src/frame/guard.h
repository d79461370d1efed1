#pragma once

#include <exception>
#include <utility>

#include "frame/messages.h"
#include "frame/step_result.h"

namespace frostcap {

// Runs an inner routine so that no exception leaves it: a standard exception
// becomes a failure carrying its what() text, any other a failure with the
// uncaught token. If even that text cannot be built, the failure has no text.
template <typename Routine>
StepResult runGuarded(Routine&& routine) noexcept {
  try {
    return std::forward<Routine>(routine)();
  } catch (const std::exception& error) {
    try {
      return StepResult::failure(messages::exceptionDetail(error.what()));
    } catch (...) {
    }
  } catch (...) {
    try {
      return StepResult::failure(std::u16string(messages::kUncaught));
    } catch (...) {
    }
  }
  return StepResult{false, {}};
}

}  // namespace frostcap
