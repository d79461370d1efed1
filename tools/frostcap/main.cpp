// frostcap: the command-line host of the library. It lists writers and their
// files, takes snapshots, optionally running a command while the shadow
// copies exist, and checks a machine before its first backup. It reaches the
// library only through its exported functions.

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "api.h"
#include "doctor.h"
#include "messages.h"
#include "service.h"
#include "session.h"
#include "system.h"

namespace frostcap::cli {
namespace {

// Exit codes, as documented in --help and the README.
constexpr int kSuccess = 0;
constexpr int kServiceFailed = 1;
constexpr int kUsage = 2;
constexpr int kCommandNotStarted = 127;
constexpr int kInterrupted = 130;

struct Options {
  bool json = false;
  bool raw = false;
  std::string scenario;
  std::string record;
  std::vector<std::string> writers;
  std::vector<std::string> components;  // as parsed; pairedComponents says whose
  std::vector<std::pair<std::string, std::string>> pairedComponents;  // writer, choice
  std::vector<std::string> volumes;
  std::string doctorVolume;
  std::string backupType;
  bool systemProvider = false;
  bool listCatalogue = false;
  bool listFiles = false;
  std::vector<std::string> command;  // after --exec
};

struct ComponentChoice {
  bool database = false;
  std::string logicalPath, name, fallback;
};

// database|filegroup:PATH:NAME[:FALLBACK]
std::optional<ComponentChoice> parseComponent(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t colon; (colon = text.find(':', start)) != std::string::npos && parts.size() < 3;
       start = colon + 1) {
    parts.push_back(text.substr(start, colon - start));
  }
  parts.push_back(text.substr(start));
  if (parts.size() < 3 || (parts[0] != "database" && parts[0] != "filegroup")) return std::nullopt;
  return ComponentChoice{parts[0] == "database", parts[1], parts[2],
                         parts.size() > 3 ? parts[3] : std::string()};
}

const std::map<std::string, unsigned>& backupTypeNames() {
  static const std::map<std::string, unsigned> kNames = {
      {"full", 1}, {"incremental", 2}, {"differential", 3}, {"log", 4}, {"copy", 5}};
  return kNames;
}

// A command that was not asked for a backup type must not tell writers to
// truncate their logs, as full and incremental do: it takes a copy backup,
// which leaves a writer's own backup history as it was.
constexpr unsigned kDefaultBackupType = 5;

std::optional<unsigned> parseBackupType(const std::string& text) {
  const auto& kNames = backupTypeNames();
  if (const auto named = kNames.find(text); named != kNames.end()) return named->second;
  try {
    std::size_t used = 0;
    const unsigned long value = std::stoul(text, &used);
    if (used == text.size()) return static_cast<unsigned>(value);
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

std::string backupTypeName(unsigned type) {
  for (const auto& [name, value] : backupTypeNames()) {
    if (value == type) return name;
  }
  return "type " + std::to_string(type);
}

// Collects what a command reports and prints it at the end as JSON, or as it
// comes as text.
class Report {
 public:
  Report(const Options& options, std::string command) : options_(options) {
    json_["command"] = std::move(command);
  }

  void messages(const std::vector<std::string>& texts) {
    for (const std::string& text : texts) {
      const std::string rendered = options_.raw ? text : renderMessage(text);
      json_["messages"].push_back({{"raw", text}, {"text", renderMessage(text)}});
      if (!options_.json) std::cerr << rendered << '\n';
    }
    failed_ = failed_ || !texts.empty();
  }

  void list(const char* key, const char* heading, const std::vector<std::string>& entries) {
    json_[key] = entries;
    if (options_.json) return;
    std::cout << heading << ":" << (entries.empty() ? " none" : "") << '\n';
    for (const std::string& entry : entries) std::cout << "  " << entry << '\n';
  }

  void mountPaths(const std::vector<std::string>& paths) {
    json_["mountPaths"] = paths;
    if (options_.json) return;
    for (const std::string& path : paths) std::cout << "mount path: " << path << '\n';
  }

  void catalogue(const std::vector<std::string>& lines) {
    nlohmann::json writers = nlohmann::json::array();
    for (const std::string& line : lines) {
      if (line.rfind("# Writer ", 0) == 0) {
        writers.push_back({{"heading", line.substr(2)}, {"components", nlohmann::json::array()}});
        if (!options_.json) std::cout << line.substr(2) << '\n';
      } else if (line.rfind('[', 0) == 0 && !writers.empty()) {
        const nlohmann::json record = nlohmann::json::parse(line);
        writers.back()["components"].push_back({{"writerId", record[0]},
                                                {"logicalPath", record[1]},
                                                {"name", record[2]},
                                                {"type", record[3]},
                                                {"selectable", record[4]}});
        if (!options_.json) printComponent(record);
      }
    }
    json_["catalogue"] = std::move(writers);
    json_["catalogueLines"] = lines;
  }

  void set(const char* key, nlohmann::json value) { json_[key] = std::move(value); }
  bool failed() const { return failed_; }

  int finish(int exitCode, const Session* session) {
    if (session != nullptr) {
      nlohmann::json timings = nlohmann::json::array();
      for (const Timing& timing : session->timings()) {
        timings.push_back({{"call", timing.call}, {"seconds", timing.seconds}});
      }
      json_["timings"] = std::move(timings);
    }
    json_["exitCode"] = exitCode;
    if (options_.json) std::cout << json_.dump(2) << '\n';
    return exitCode;
  }

 private:
  static void printComponent(const nlohmann::json& record) {
    const std::string type = record[3].get<std::string>();
    const std::string path = record[1].get<std::string>();
    std::printf("  %-38s  %-16s  %-10s  %s%s%s\n", record[0].get<std::string>().c_str(),
                type.empty() ? "(other)" : type.c_str(), record[4].get<bool>() ? "selectable" : "-",
                path.c_str(), path.empty() ? "" : "\\", record[2].get<std::string>().c_str());
  }

  const Options& options_;
  nlohmann::json json_;
  bool failed_ = false;
};

// Selects what the options name: volumes, writers and their components, and
// the backup type.
bool configure(Session& session, const Options& options, unsigned& backupType, std::string& error) {
  for (const std::string& volume : options.volumes) session.addVolume(volume);
  for (const std::string& writer : options.writers) session.addWriter(writer);
  for (const auto& [writer, text] : options.pairedComponents) {
    const auto choice = parseComponent(text);
    if (!choice) {
      error = "--component " + text + ": expected database|filegroup:PATH:NAME[:FALLBACK]";
      return false;
    }
    if (writer.empty()) {
      error = "--component " + text + ": it belongs to the --writer before it, and there is none";
      return false;
    }
    session.addComponent(choice->database, writer, choice->logicalPath, choice->name,
                         choice->fallback);
  }
  backupType = kDefaultBackupType;
  if (!options.backupType.empty()) {
    const auto type = parseBackupType(options.backupType);
    if (!type) {
      error = "--backup-type " + options.backupType +
              ": expected full, incremental, differential, log, copy or a number";
      return false;
    }
    backupType = *type;
  }
  session.setBackupType(backupType);
  if (options.systemProvider) session.useSystemProvider();
  return true;
}

int usageError(const std::string& message) {
  std::cerr << "frostcap: " << message << '\n';
  return kUsage;
}

int listWriters(Session& session, Report& report) {
  if (session.prepare() != 0) {
    report.messages(session.messages());
    return kServiceFailed;
  }
  report.messages(session.messages());
  report.catalogue(session.catalogue());
  return report.failed() ? kServiceFailed : kSuccess;
}

int listFiles(Session& session, Report& report) {
  if (session.prepare() != 0) {
    report.messages(session.messages());
    return kServiceFailed;
  }
  session.loadFiles();
  report.messages(session.messages());
  report.list("files", "files", session.files());
  report.list("excluded", "excluded files", session.excludedFiles());
  return report.failed() ? kServiceFailed : kSuccess;
}

int takeSnapshot(Session& session, Report& report, const Options& options, const Service& service) {
  const int prepared = session.prepare();
  report.messages(session.messages());
  if (prepared != 0) return kServiceFailed;
  if (interrupted()) return kInterrupted;
  const int taken = session.takeSnapshot();
  report.messages(session.messages());
  if (taken != 0) return kServiceFailed;
  const std::vector<std::string> mountPaths = session.mountPaths();
  report.mountPaths(mountPaths);
  if (options.listCatalogue) {
    session.loadCatalogue();
    report.catalogue(session.catalogue());
  }
  if (options.listFiles) {
    session.loadFiles();
    report.list("files", "files (found inside the shadow copies)", session.files());
    report.list("excluded", "excluded files", session.excludedFiles());
  }
  report.messages(session.messages());
  if (interrupted()) return kInterrupted;

  if (options.command.empty()) {
    std::cerr << "frostcap: the shadow copies exist until you press Enter (Ctrl-C ends them as "
                 "failed)\n";
    const HoldEnd end = holdUntilEnterOrInterrupt();
    return end == HoldEnd::kInterrupted ? kInterrupted : kSuccess;
  }
  std::vector<std::pair<std::string, std::string>> environment;
  std::string all;
  for (std::size_t i = 0; i < mountPaths.size(); ++i) {
    const std::string number = std::to_string(i + 1);
    environment.emplace_back("FROSTCAP_MOUNT_PATH_" + number, mountPaths[i]);
    environment.emplace_back("FROSTCAP_SNAPSHOT_DIR_" + number, service.hostPath(mountPaths[i]));
    all += (all.empty() ? "" : "\n") + mountPaths[i];
  }
  environment.emplace_back("FROSTCAP_MOUNT_PATHS", all);
  std::cout.flush();
  const CommandResult result = runCommand(options.command, environment);
  if (!result.started) {
    std::cerr << "frostcap: " << options.command.front() << ": " << result.error << '\n';
    return kCommandNotStarted;
  }
  report.set("exec", {{"argv", options.command}, {"exitCode", result.exitCode}});
  if (interrupted()) return kInterrupted;
  return result.exitCode;
}

// Says which backup type the writers are told. A volume-only snapshot
// involves no writer, so no type is told.
void reportBackupType(Report& report, const Options& options, const std::string& command,
                      unsigned type) {
  const bool writersTakePart = !options.writers.empty();
  report.set("backupType", writersTakePart
                               ? nlohmann::json{{"name", backupTypeName(type)}, {"value", type}}
                               : nlohmann::json());
  if (options.json || command != "snapshot") return;
  if (writersTakePart) {
    std::cerr << "frostcap: backup type " << backupTypeName(type) << " (" << type << ")\n";
  } else {
    std::cerr << "frostcap: no backup type: a volume-only snapshot, no writer takes part\n";
  }
}

// The checks of the operating system, the process's COM set-up, and a trial
// snapshot of the volume given.
int runDoctor(Report& report, const Options& options, const HostSetup& host, const ApiLoad& load) {
  std::vector<Check> checks = systemChecks();
  checks.push_back(host.com);
  Check trial{"volume trial"};
  if (options.doctorVolume.empty()) {
    trial.finding = "not tried: no volume given";
    trial.advice = "name the volume to back up, e.g. frostcap doctor --volume C:\\";
  } else if (!host.usable) {
    trial.finding = "not tried: COM cannot be used as the service needs (see the COM line)";
  } else if (load.api == nullptr) {
    trial.verdict = Verdict::kProblem;
    trial.finding = "the library could not be loaded: " + load.error;
    trial.advice = "keep frostcap.dll beside frostcap.exe";
  } else {
    trial = volumeTrial(*load.api, options.doctorVolume, options.raw);
  }
  checks.push_back(std::move(trial));

  bool allOk = true;
  nlohmann::json entries = nlohmann::json::array();
  for (const Check& check : checks) {
    allOk = allOk && check.verdict == Verdict::kOk;
    entries.push_back({{"check", check.name},
                       {"verdict", verdictName(check.verdict)},
                       {"finding", check.finding},
                       {"advice", check.advice}});
    if (!options.json) std::cout << checkLine(check) << '\n';
  }
  report.set("checks", std::move(entries));
  return report.finish(allOk ? kSuccess : kServiceFailed, nullptr);
}

// A component belongs to the --writer given before it on the command line.
std::vector<std::pair<std::string, std::string>> pairComponents(
    const std::vector<std::string>& arguments) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string writer;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const auto value = [&](std::string_view option) -> std::optional<std::string> {
      const std::string& argument = arguments[i];
      if (argument == option && i + 1 < arguments.size()) return arguments[++i];
      if (argument.size() > option.size() && argument.compare(0, option.size(), option) == 0 &&
          argument[option.size()] == '=') {
        return argument.substr(option.size() + 1);
      }
      return std::nullopt;
    };
    if (auto id = value("--writer")) {
      writer = *id;
    } else if (auto choice = value("--component")) {
      pairs.emplace_back(writer, *choice);
    }
  }
  return pairs;
}

}  // namespace

int run(int argc, char** argv) {
  Options options;
  // Everything after --exec belongs to the command, options included.
  std::vector<std::string> arguments(argv + 1, argv + argc);
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--exec") {
      options.command.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                             arguments.end());
      arguments.resize(i);
      if (options.command.empty()) return usageError("--exec needs a command");
      break;
    }
  }

  options.pairedComponents = pairComponents(arguments);

  CLI::App app{"Point-in-time shadow copies of volumes, for backups.", "frostcap"};
  app.require_subcommand(1);
  app.footer(
      "Exit codes: 0 success; 1 the service or a writer failed, or a check of doctor did not\n"
      "pass; 2 usage or scenario error; 127 the --exec command could not be started; 130\n"
      "interrupted (Ctrl-C); otherwise the --exec command's own exit code.");
  app.add_flag("--json", options.json, "Print one JSON document, with the time of every call");
  app.add_flag("--raw", options.raw, "Print messages with their tokens, untranslated");
  if (canSimulate()) {
    app.add_option("--scenario", options.scenario, "Simulated service: scenario file (JSON)")
        ->check(CLI::ExistingFile);
    app.add_option("--record", options.record,
                   "Simulated service: write every call it received to FILE (JSON lines)");
  }

  CLI::App* writers = app.add_subcommand("writers", "List the components of writers");
  writers->add_option("--writer", options.writers, "Writer class id, a GUID in braces")->required();

  CLI::App* files =
      app.add_subcommand("files", "List the files of a writer's components and its exclusions");
  files->add_option("--writer", options.writers, "Writer class id, a GUID in braces")->required();
  files->add_option("--component", options.components,
                    "database|filegroup:PATH:NAME[:FALLBACK] (repeatable)");

  CLI::App* snapshot = app.add_subcommand(
      "snapshot", "Take a snapshot, then hold it or run a command while it exists");
  snapshot->add_option("--volume", options.volumes, "Volume to copy, e.g. C:\\ (repeatable)");
  snapshot->add_option("--writer", options.writers, "Writer class id, a GUID in braces");
  snapshot->add_option("--component", options.components,
                       "database|filegroup:PATH:NAME[:FALLBACK] (repeatable)");
  snapshot->add_option("--backup-type", options.backupType,
                       "full, incremental, differential, log, copy (default) or a number; only "
                       "full and incremental let writers truncate their logs");
  snapshot->add_flag("--system-provider", options.systemProvider,
                     "Use the system's own software provider");
  snapshot->add_flag("--catalogue", options.listCatalogue, "Also list the writers' components");
  snapshot->add_flag("--files", options.listFiles,
                     "Also list the writers' files, found inside the shadow copies");
  snapshot->add_option("--exec", options.command,
                       "CMD [ARGS...]: run CMD while the shadow copies exist; the backup counts "
                       "as succeeded when it exits 0. Must come last.");

  CLI::App* doctor = app.add_subcommand(
      "doctor", "Check this machine before the first backup: exit 0 only when all is well");
  doctor->add_option("--volume", options.doctorVolume,
                     "Volume to try a snapshot of, released at once, e.g. C:\\");

  try {
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? kSuccess : kUsage;
  }

  const std::string command = app.get_subcommands().front()->get_name();
  if (!options.doctorVolume.empty()) options.volumes.push_back(options.doctorVolume);

  // Before the library is loaded, as every requester process must.
  const HostSetup host = prepareHost();
  if (!host.usable && command != "doctor") {
    std::cerr << "frostcap: " << host.com.finding
              << (host.com.advice.empty() ? "" : "; " + host.com.advice) << '\n';
    return kServiceFailed;
  }
  if (host.com.verdict != Verdict::kOk && command != "doctor") {
    std::cerr << "frostcap: warning: " << host.com.finding << '\n';
  }

  std::unique_ptr<Service> service;
  try {
    service = openService(options.scenario, options.volumes);
  } catch (const ServiceError& error) {
    return usageError(error.message);
  }
  if (const std::string note = service->description(); !note.empty()) std::cerr << note << '\n';
  const ApiLoad load = loadApi();
  Report report(options, command);
  const auto keepRecord = [&](int exitCode) {
    if (!options.record.empty() && !service->writeRecord(options.record)) {
      std::cerr << "frostcap: this service keeps no record\n";
    }
    return exitCode;
  };
  if (command == "doctor") return keepRecord(runDoctor(report, options, host, load));
  if (load.api == nullptr) {
    std::cerr << "frostcap: " << load.error << '\n';
    return kServiceFailed;
  }
  installInterruptHandler();

  int exitCode = kSuccess;
  {
    Session session(*load.api, stderrIsTerminal() && !options.json);
    if (!session.valid()) return report.finish(kServiceFailed, nullptr);
    std::string error;
    unsigned backupType = 0;
    if (!configure(session, options, backupType, error)) return usageError(error);
    reportBackupType(report, options, command, backupType);
    report.messages(session.messages());  // warnings about the choices, if any
    if (command == "writers") {
      exitCode = listWriters(session, report);
    } else if (command == "files") {
      exitCode = listFiles(session, report);
    } else {
      if (options.volumes.empty() && options.writers.empty()) {
        return usageError("snapshot needs at least one --volume or --writer");
      }
      exitCode = takeSnapshot(session, report, options, *service);
    }
    // Only a snapshot whose copies were used successfully is a good backup.
    const bool succeeded = command == "snapshot" && exitCode == kSuccess;
    session.free(succeeded ? 1 : 0);
    report.set("verdict", succeeded ? 1 : 0);
    report.finish(exitCode, &session);
  }
  return keepRecord(exitCode);
}

}  // namespace frostcap::cli

int main(int argc, char** argv) { return frostcap::cli::run(argc, argv); }
