#pragma once

// The environments that break backups in the field, each known by a status
// that the service or COM answers (two by what the command itself sees), with
// what it means and what to do about it. `frostcap doctor` looks every
// failure of its trial up here, and the checks of the system take their
// advice from the same rows: one text per environment.

#include <string>
#include <string_view>
#include <vector>

#include "system.h"

namespace frostcap::cli {

struct FieldEnvironment {
  // Statuses as headers spell them ("0x8004230C"), or one of the command's
  // own signs below.
  std::vector<std::string_view> signs;
  // kProblem, or kCannotTell where the answer says nothing of this machine.
  Verdict verdict;
  std::string_view meaning;
  std::string_view fix;
};

// The signs of the two environments that no status names: a copy made
// without a device path, and a trial that outlasted the command's --timeout.
inline constexpr std::string_view kNoDevicePath = "no device path";
inline constexpr std::string_view kTrialTimedOut = "--timeout";

const std::vector<FieldEnvironment>& fieldEnvironments();

// The row of `sign`; every sign the command uses has one.
const FieldEnvironment& fieldEnvironment(std::string_view sign);

// The first row with a status that one of the library's messages quotes;
// nullptr when none does.
const FieldEnvironment* recogniseEnvironment(const std::vector<std::string>& messages);

}  // namespace frostcap::cli
