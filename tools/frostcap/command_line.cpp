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

// A whole number of decimal digits that fits `limit`; no sign, no spaces.
std::optional<unsigned long long> parseNumber(std::string_view text, unsigned long long limit) {
  unsigned long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > limit) {
    return std::nullopt;
  }
  return value;
}

unsigned parseBackupType(const std::string& text) {
  const auto& kNames = backupTypeNames();
  if (const auto named = kNames.find(text); named != kNames.end()) return named->second;
  if (const auto value = parseNumber(text, std::numeric_limits<unsigned>::max())) {
    return static_cast<unsigned>(*value);
  }
  throw UsageError{"--backup-type " + text +
                   ": expected full, incremental, differential, log, copy or a number from 0 to " +
                   std::to_string(std::numeric_limits<unsigned>::max())};
}

// A number of seconds, or of minutes or hours with m or h after it: 30, 2.5s, 10m, 1h.
Seconds parseDuration(const std::string& option, const std::string& text) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, value);
  const std::string_view unit(last, static_cast<std::size_t>(end - last));
  const std::map<std::string_view, double> kUnits = {{"", 1}, {"s", 1}, {"m", 60}, {"h", 3600}};
  const auto scale = kUnits.find(unit);
  if (text.empty() || error != std::errc() || scale == kUnits.end() || !std::isfinite(value) ||
      value < 0 || value * scale->second > 1e9) {
    throw UsageError{option + " " + text + ": expected a duration such as 30, 2.5s, 10m or 1h"};
  }
  return Seconds(value * scale->second);
}

// 0,1-7: single codes and inclusive ranges.
ExitCodeRanges parseExitCodes(const std::string& text) {
  ExitCodeRanges ranges;
  const auto bad = [&] {
    return UsageError{"--success-exit-codes " + text +
                      ": expected exit codes and ranges such as 0,2-7, each from 0 to 255"};
  };
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string_view item(text.data() + start, comma - start);
    const std::size_t dash = item.find('-');
    const auto low = parseNumber(item.substr(0, dash), 255);
    const auto high =
        dash == std::string_view::npos ? low : parseNumber(item.substr(dash + 1), 255);
    if (!low || !high || *low > *high) throw bad();
    ranges.emplace_back(static_cast<int>(*low), static_cast<int>(*high));
    start = comma + 1;
  }
  return ranges;
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
  std::string doctorVolume, backupType, successCodes, timeout, grace;
  std::string busyLimit, busyWait, retries, retryWait;
  bool noAddVolumes = false;
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
                    "Also list the writers' files, found inside the shadow copies; a directory "
                    "ends with a backslash");
  snapshot.add_flag("--walk", command.walk,
                    "With --files, list everything below each listed directory inside the copy "
                    "(the library lists one level)");
  snapshot.add_flag("--without-excluded", command.withoutExcluded,
                    "With --files, leave out the files the writers exclude");
  snapshot.add_flag("--no-add-volumes", texts.noAddVolumes,
                    "Fail instead of adding the volume of a component's files that no --volume "
                    "names");
  snapshot.add_option("--success-exit-codes", texts.successCodes,
                      "Exit codes of the --exec command that mean success, e.g. 0-7 (default 0)");
  snapshot.add_option("--timeout", texts.timeout,
                      "End the run as failed after DURATION (30, 2.5s, 10m, 1h)");
  snapshot.add_option("--grace", texts.grace,
                      "After a signal, how long the --exec command has to end before it is "
                      "killed (default 10s)");
  snapshot.add_option("--busy-limit", texts.busyLimit,
                      "How long to retry while another snapshot set is in progress (default 10m; "
                      "0: do not retry)");
  snapshot.add_option("--busy-wait", texts.busyWait, "The pause between those tries (default 10s)");
  snapshot.add_option("--retries", texts.retries,
                      "Retries of a snapshot set that failed for a passing reason (default 0)");
  snapshot.add_option("--retry-wait", texts.retryWait, "The pause before each (default 10m)");
  snapshot.add_option("--exec", command.exec,
                      "CMD [ARGS...]: run CMD while the shadow copies exist; the backup counts "
                      "as succeeded when it exits with a success code. Must come last.");
}

// Accepted before the subcommand and after it.
void addTraceOption(CLI::App& app, std::string& trace) {
  app.add_option("--trace", trace,
                 "Append every call the library makes to the shadow copy service to FILE (JSON "
                 "lines; paths and writer names included, file contents never). The --exec "
                 "command does not inherit it.")
      ->type_name("FILE");
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
  if (!texts.successCodes.empty()) command.successCodes = parseExitCodes(texts.successCodes);
  if (!texts.timeout.empty()) command.timeout = parseDuration("--timeout", texts.timeout);
  if (!texts.grace.empty()) command.grace = parseDuration("--grace", texts.grace);
  RetryPolicy& retry = command.retry;
  if (!texts.busyLimit.empty()) retry.busyLimit = parseDuration("--busy-limit", texts.busyLimit);
  if (!texts.busyWait.empty()) retry.busyWait = parseDuration("--busy-wait", texts.busyWait);
  if (!texts.retryWait.empty())
    retry.transientWait = parseDuration("--retry-wait", texts.retryWait);
  if (!texts.retries.empty()) {
    const auto retries = parseNumber(texts.retries, 1000);
    if (!retries) throw UsageError{"--retries " + texts.retries + ": expected 0 to 1000"};
    retry.transientRetries = static_cast<unsigned>(*retries);
  }
  command.addVolumes = !texts.noAddVolumes;
  if ((command.walk || command.withoutExcluded) && !command.listFiles) {
    throw UsageError{"--walk and --without-excluded shape the list of --files"};
  }
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

std::string volumeName(std::string name) {
  const bool drive =
      name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':';
  const bool windowsPath = drive || name.rfind("\\\\", 0) == 0;
  if (windowsPath && name.back() != '\\' && name.back() != '/') name.push_back('\\');
  return name;
}

Parsed parseCommandLine(int argc, char** argv) {
  Command command;
  Texts texts;
  CLI::App app{"Point-in-time shadow copies of volumes, for backups.", "frostcap"};
  app.require_subcommand(1);
  app.footer(exitCodeHelp());
  app.set_version_flag("--version", std::string("frostcap ") + FROSTCAP_VERSION);
  app.add_flag("--json", command.json, "Print one JSON document, with the time of every call");
  app.add_flag("--raw", command.raw, "Print messages with their tokens, untranslated");
  if (canSimulate()) {
    app.add_option("--scenario", command.scenario, "Simulated service: scenario file (JSON)")
        ->check(CLI::ExistingFile);
    app.add_option("--record", command.record,
                   "Simulated service: write every call it received to FILE (JSON lines)");
  }
  addTraceOption(app, command.trace);
  CLI::App* writers = app.add_subcommand(
      "writers", "List the writers the service reports with their components, or those named");
  writers->add_option("--writer", texts.writers,
                      "Writer class id, a GUID in braces (repeatable; default: every writer)");
  writers->footer(
      "Without --writer the backup is prepared with nothing selected and whatever catalogue the "
      "library then holds is listed. The library gathers the writers' metadata only for the "
      "writers a backup selects, so that catalogue may be empty: the command then says so and "
      "fails. Either way the library reports, per component, the writer's class id, the logical "
      "path, name, type and whether it can be selected; never a writer's name, instance id or "
      "state. `frostcap files --writer ID` lists a writer's files.");
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
  doctor->add_option("--timeout", texts.timeout,
                     "Give the trial up as failed after DURATION (default 5m)");

  for (CLI::App* subcommand : {writers, files, snapshot, doctor}) {
    addTraceOption(*subcommand, command.trace);
  }

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
    for (const std::string& volume : texts.volumes) command.volumes.push_back(volumeName(volume));
    if (!texts.doctorVolume.empty()) command.volumes.push_back(volumeName(texts.doctorVolume));
    if (chosen == snapshot) applySnapshotTexts(command, texts);
    // A volume-only copy takes seconds; minutes mean a stuck service or provider.
    if (chosen == doctor) {
      command.timeout =
          texts.timeout.empty() ? Seconds(300) : parseDuration("--timeout", texts.timeout);
    }
  } catch (const CLI::ParseError& error) {
    return {std::nullopt, app.exit(error) == 0 ? kSuccess : kUsage};
  } catch (const UsageError& error) {
    std::cerr << "frostcap: " << error.message << '\n';
    return {std::nullopt, kUsage};
  }
  return {std::move(command), kSuccess};
}

}  // namespace frostcap::cli
