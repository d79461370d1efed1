#pragma once

// The command line read once into a value that says everything the run is to
// do; nothing after parsing looks at the arguments again.

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace frostcap::cli {

// A component as the command line names it: database|filegroup:PATH:NAME[:FALLBACK],
// belonging to the --writer given before it.
struct ComponentChoice {
  std::string writer;
  bool database = false;
  std::string logicalPath, name, fallback;
};

enum class Action { kWriters, kFiles, kSnapshot, kDoctor };

struct Command {
  Action action = Action::kSnapshot;
  std::string name = "snapshot";
  bool json = false;
  bool raw = false;
  std::string scenario;
  std::string record;
  std::vector<std::string> volumes;
  std::vector<std::string> writers;
  std::vector<ComponentChoice> components;
  unsigned backupType = 5;
  bool systemProvider = false;
  bool listCatalogue = false;
  bool listFiles = false;
  std::vector<std::string> exec;  // the command after --exec, with its arguments
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

}  // namespace frostcap::cli
