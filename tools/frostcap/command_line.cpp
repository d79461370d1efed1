#include "command_line.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <iostream>
#include <limits>
#include <map>

#include "exit_codes.h"
#include "frostcap.h"
#include "service.h"

namespace frostcap::cli {
namespace {

// A mistake in what the operator typed; the message names the option.
struct UsageError {
  std::string message;
};

const std::map<std::string, unsigned>& backupTypeNames() {
  static const std::map<std::string, unsigned> kNames = {
      {"full", 1}, {"incremental", 2}, {"differential", 3}, {"log", 4}, {"copy", 5}};
  return kNames;
}

unsigned parseBackupType(const std::string& text) {
  const auto& kNames = backupTypeNames();
  if (const auto named = kNames.find(text); named != kNames.end()) return named->second;
  try {
    std::size_t used = 0;
    const unsigned long value = std::stoul(text, &used);
    if (used == text.size()) return static_cast<unsigned>(value);
  } catch (const std::exception&) {
  }
  throw UsageError{"--backup-type " + text +
                   ": expected full, incremental, differential, log, copy or a number"};
}

ComponentChoice parseComponent(const std::string& writer, const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t colon; (colon = text.find(':', start)) != std::string::npos && parts.size() < 3;
       start = colon + 1) {
    parts.push_back(text.substr(start, colon - start));
  }
  parts.push_back(text.substr(start));
  if (parts.size() < 3 || (parts[0] != "database" && parts[0] != "filegroup")) {
    throw UsageError{"--component " + text + ": expected database|filegroup:PATH:NAME[:FALLBACK]"};
  }
  if (writer.empty()) {
    throw UsageError{"--component " + text +
                     ": it belongs to the --writer before it, and there is none"};
  }
  return {writer, parts[0] == "database", parts[1], parts[2], parts.size() > 3 ? parts[3] : ""};
}

// What CLI11 collects as text, checked and turned into the command's values
// afterwards, so that every mistake becomes a usage error that names its option.
struct Texts {
  std::vector<std::string> writers, components, volumes;
  std::string doctorVolume, backupType;
};

void addSnapshotOptions(CLI::App& snapshot, Command& command, Texts& texts) {
  snapshot.add_option("--volume", texts.volumes, "Volume to copy, e.g. C:\\ (repeatable)");
  snapshot.add_option("--writer", texts.writers, "Writer class id, a GUID in braces");
  snapshot.add_option("--component", texts.components,
                      "database|filegroup:PATH:NAME[:FALLBACK] (repeatable)");
  snapshot.add_option("--backup-type", texts.backupType,
                      "full, incremental, differential, log, copy (default) or a number; only "
                      "full and incremental let writers truncate their logs");
  snapshot.add_flag("--system-provider", command.systemProvider,
                    "Use the system's own software provider");
  snapshot.add_flag("--catalogue", command.listCatalogue, "Also list the writers' components");
  snapshot.add_flag("--files", command.listFiles,
                    "Also list the writers' files, found inside the shadow copies");
  snapshot.add_option("--exec", command.exec,
                      "CMD [ARGS...]: run CMD while the shadow copies exist; the backup counts "
                      "as succeeded when it exits with a success code. Must come last.");
}

// CLI11 gathers each repeated option on its own; the order in which it parsed
// them says which --writer a --component follows.
std::vector<ComponentChoice> pairComponents(const CLI::App& app, const Texts& texts) {
  std::vector<ComponentChoice> choices;
  std::size_t writers = 0, components = 0;
  std::string writer;
  for (const CLI::Option* option : app.parse_order()) {
    if (option->get_name() == "--writer") writer = texts.writers.at(writers++);
    if (option->get_name() == "--component") {
      choices.push_back(parseComponent(writer, texts.components.at(components++)));
    }
  }
  return choices;
}

void applySnapshotTexts(Command& command, const Texts& texts) {
  if (!texts.backupType.empty()) command.backupType = parseBackupType(texts.backupType);
  if (command.volumes.empty() && command.writers.empty()) {
    throw UsageError{"snapshot needs at least one --volume or --writer"};
  }
}

// Everything after --exec belongs to the command run, options included.
std::vector<std::string> splitAtExec(std::vector<std::string>& arguments) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] != "--exec") continue;
    std::vector<std::string> exec(arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                  arguments.end());
    arguments.resize(i);
    if (exec.empty()) throw UsageError{"--exec needs a command"};
    return exec;
  }
  return {};
}

}  // namespace

std::string backupTypeName(unsigned type) {
  for (const auto& [name, value] : backupTypeNames()) {
    if (value == type) return name;
  }
  return "type " + std::to_string(type);
}

Parsed parseCommandLine(int argc, char** argv) {
  Command command;
  Texts texts;
  CLI::App app{"Point-in-time shadow copies of volumes, for backups.", "frostcap"};
  app.require_subcommand(1);
  app.footer(exitCodeHelp());
  app.add_flag("--json", command.json, "Print one JSON document, with the time of every call");
  app.add_flag("--raw", command.raw, "Print messages with their tokens, untranslated");
  if (canSimulate()) {
    app.add_option("--scenario", command.scenario, "Simulated service: scenario file (JSON)")
        ->check(CLI::ExistingFile);
    app.add_option("--record", command.record,
                   "Simulated service: write every call it received to FILE (JSON lines)");
  }
  CLI::App* writers = app.add_subcommand("writers", "List the components of writers");
  writers->add_option("--writer", texts.writers, "Writer class id, a GUID in braces")->required();
  CLI::App* files =
      app.add_subcommand("files", "List the files of a writer's components and its exclusions");
  files->add_option("--writer", texts.writers, "Writer class id, a GUID in braces")->required();
  files->add_option("--component", texts.components,
                    "database|filegroup:PATH:NAME[:FALLBACK] (repeatable)");
  CLI::App* snapshot = app.add_subcommand(
      "snapshot", "Take a snapshot, then hold it or run a command while it exists");
  addSnapshotOptions(*snapshot, command, texts);
  CLI::App* doctor = app.add_subcommand(
      "doctor", "Check this machine before the first backup: exit 0 only when all is well");
  doctor->add_option("--volume", texts.doctorVolume,
                     "Volume to try a snapshot of, released at once, e.g. C:\\");

  try {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    command.exec = splitAtExec(arguments);
    // CLI11 takes the arguments last first: it pops them off the back.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    app.parse(reversed);
    CLI::App* chosen = app.get_subcommands().front();
    command.name = chosen->get_name();
    command.action = chosen == writers  ? Action::kWriters
                     : chosen == files  ? Action::kFiles
                     : chosen == doctor ? Action::kDoctor
                                        : Action::kSnapshot;
    if (!command.exec.empty() && chosen != snapshot) throw UsageError{"--exec needs snapshot"};
    command.writers = texts.writers;
    command.components = pairComponents(*chosen, texts);
    for (const std::string& volume : texts.volumes) command.volumes.push_back(volume);
    if (!texts.doctorVolume.empty()) command.volumes.push_back(texts.doctorVolume);
    if (chosen == snapshot) applySnapshotTexts(command, texts);
  } catch (const CLI::ParseError& error) {
    return {std::nullopt, app.exit(error) == 0 ? kSuccess : kUsage};
  } catch (const UsageError& error) {
    std::cerr << "frostcap: " << error.message << '\n';
    return {std::nullopt, kUsage};
  }
  return {std::move(command), kSuccess};
}

}  // namespace frostcap::cli
