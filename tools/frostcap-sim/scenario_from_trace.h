#pragma once

// Turning one run of a trace into a scenario of the model that replays it:
// the writers in the order and with the identities the server gave, their
// components and descriptors, the volumes of the snapshot set with the
// device names the server gave, the writers' states and failures, every
// status a call answered (as a fault of that call's occurrence) and the
// asynchronous operations' outcomes.

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "trace_file.h"

namespace frostcap::replay {

struct ScenarioOptions {
  std::optional<std::size_t> run;  // 1-based; the last run when not given
  // Directories to serve volumes from, by volume name as the trace has it
  // (compared as the service compares volume names).
  std::map<std::u16string, std::filesystem::path> volumeDirectories;
};

struct MadeScenario {
  nlohmann::ordered_json document;
  // Directories named for volumes without one: they are to be made empty,
  // relative to the scenario file's folder.
  std::vector<std::string> emptyDirectories;
  // What the scenario could not carry over, for the person replaying it.
  std::vector<std::string> notes;
};

// Throws TraceError naming the line that is unknown or contradicts those
// before it.
MadeScenario scenarioFromTrace(const TraceFile& trace, const ScenarioOptions& options);

}  // namespace frostcap::replay
