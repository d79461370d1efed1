#pragma once

// The command line read once into a value that says everything the run is to
// do; nothing after parsing looks at the arguments again.

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace frostcap::cli {

using Seconds = std::chrono::duration<double>;

// A component as the command line names it: database|filegroup:PATH:NAME[:FALLBACK],
// belonging to the --writer given before it.
struct ComponentChoice {
  std::string writer;
  bool database = false;
  std::string logicalPath, name, fallback;
};

// Which exit codes of the --exec command mean that the backup succeeded:
// inclusive ranges.
using ExitCodeRanges = std::vector<std::pair<int, int>>;

// How the command waits for a busy service and retries a snapshot set that
// failed for a reason the service documents as passing.
struct RetryPolicy {
  Seconds busyLimit{600};  // how long to keep trying while another set is in progress
  Seconds busyWait{10};    // the pause between those tries
  unsigned transientRetries = 0;
  Seconds transientWait{600};
};

enum class Action { kWriters, kFiles, kSnapshot, kDoctor };

struct Command {
  Action action = Action::kSnapshot;
  std::string name = "snapshot";
  bool json = false;
  bool raw = false;
  std::string scenario;
  std::string record;
  std::string trace;  // --trace: the library's trace file
  std::vector<std::string> volumes;
  std::vector<std::string> writers;
  std::vector<ComponentChoice> components;
  unsigned backupType = 5;
  bool systemProvider = false;
  bool listCatalogue = false;
  bool listFiles = false;
  bool walk = false;             // --files: list what lies below listed directories
  bool withoutExcluded = false;  // --files: leave out the files writers exclude
  bool addVolumes = true;
  std::vector<std::string> exec;  // the command after --exec, with its arguments
  ExitCodeRanges successCodes{{0, 0}};
  std::optional<Seconds> timeout;
  Seconds grace{10};  // how long a child has to end after a signal is passed on
  RetryPolicy retry;
};

// Either the command, or the exit code the run ends with at once (help,
// version, usage errors, which parsing has already printed).
struct Parsed {
  std::optional<Command> command;
  int exitCode = 0;
};

Parsed parseCommandLine(int argc, char** argv);

// The backup type's name (full, incremental, ...) or "type N".
std::string backupTypeName(unsigned type);

// A volume name as the service requires it: a drive letter, a volume GUID
// path or a mount folder ends with a backslash (c: -> c:\). Host directories
// given to the simulated service without a scenario stay as they are.
std::string volumeName(std::string name);

}  // namespace frostcap::cli
