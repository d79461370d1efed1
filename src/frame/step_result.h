#pragma once

#include <string>
#include <utility>

namespace frostcap {

// The outcome of an internal step: a step stops at its first failure and hands
// its text to the exported function, which turns it into a message.
struct StepResult {
  bool ok = true;
  std::u16string text;  // empty when ok

  static StepResult success() { return {}; }
  static StepResult failure(std::u16string text) { return {false, std::move(text)}; }
};

}  // namespace frostcap
