#include "actions.h"

#include <iostream>

#include "exit_codes.h"
#include "system.h"

namespace frostcap::cli {
namespace {

bool showProgress(const Command& command) { return stderrIsTerminal() && !command.json; }

// Says which backup type the writers are told. A volume-only snapshot
// involves no writer, so no type is told.
void reportBackupType(Report& report, const Command& command) {
  const bool writersTakePart = !command.writers.empty();
  const unsigned type = command.backupType;
  report.set("backupType", writersTakePart
                               ? nlohmann::json{{"name", backupTypeName(type)}, {"value", type}}
                               : nlohmann::json());
  if (command.json || command.action != Action::kSnapshot) return;
  if (writersTakePart) {
    std::cerr << "frostcap: backup type " << backupTypeName(type) << " (" << type << ")\n";
  } else {
    std::cerr << "frostcap: no backup type: a volume-only snapshot, no writer takes part\n";
  }
}

int runHeldOrCommand(const Command& command, const Service& service,
                     const std::vector<std::string>& mountPaths, Report& report) {
  if (command.exec.empty()) {
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
  const CommandResult result = runCommand(command.exec, environment);
  if (!result.started) {
    std::cerr << "frostcap: " << command.exec.front() << ": " << result.error << '\n';
    return kCommandNotStarted;
  }
  report.set("exec", {{"argv", command.exec}, {"exitCode", result.exitCode}});
  if (interrupted()) return kInterrupted;
  return result.exitCode;
}

int snapshotOnSession(Session& session, const Command& command, const Service& service,
                      Report& report) {
  const int prepared = session.prepare();
  report.messages(session.messages());
  if (prepared != 0) return kServiceFailed;
  if (interrupted()) return kInterrupted;
  const int taken = session.takeSnapshot();
  report.messages(session.messages());
  if (taken != 0) return kServiceFailed;
  const std::vector<std::string> mountPaths = session.mountPaths();
  report.mountPaths(mountPaths);
  if (command.listCatalogue) {
    session.loadCatalogue();
    report.catalogue(session.catalogue());
  }
  if (command.listFiles) {
    session.loadFiles();
    report.list("files", "files (found inside the shadow copies)", session.files());
    report.list("excluded", "excluded files", session.excludedFiles());
  }
  report.messages(session.messages());
  if (interrupted()) return kInterrupted;
  return runHeldOrCommand(command, service, mountPaths, report);
}

}  // namespace

void configure(Session& session, const Command& command) {
  for (const std::string& volume : command.volumes) session.addVolume(volume);
  for (const std::string& writer : command.writers) session.addWriter(writer);
  for (const ComponentChoice& choice : command.components) {
    session.addComponent(choice.database, choice.writer, choice.logicalPath, choice.name,
                         choice.fallback);
  }
  session.setBackupType(command.backupType);
  if (command.systemProvider) session.useSystemProvider();
}

int listLive(const Api& api, const Command& command, Report& report) {
  Session session(api, showProgress(command));
  if (!session.valid()) return kServiceFailed;
  configure(session, command);
  reportBackupType(report, command);
  report.messages(session.messages());  // warnings about the choices, if any
  int exitCode = kServiceFailed;
  if (session.prepare() == 0) {
    if (command.action == Action::kFiles) session.loadFiles();
    report.messages(session.messages());
    if (command.action == Action::kFiles) {
      report.list("files", "files", session.files());
      report.list("excluded", "excluded files", session.excludedFiles());
    } else {
      report.catalogue(session.catalogue());
    }
    exitCode = report.failed() ? kServiceFailed : kSuccess;
  }
  report.messages(session.messages());
  session.free(0);
  report.set("verdict", 0);
  report.timings(session);
  return exitCode;
}

int takeSnapshot(const Api& api, const Command& command, const Service& service, Report& report) {
  Session session(api, showProgress(command));
  if (!session.valid()) return kServiceFailed;
  configure(session, command);
  reportBackupType(report, command);
  report.messages(session.messages());  // warnings about the choices, if any
  const int exitCode = snapshotOnSession(session, command, service, report);
  // Only a snapshot whose copies were used successfully is a good backup.
  const bool succeeded = exitCode == kSuccess;
  session.free(succeeded ? 1 : 0);
  report.set("verdict", succeeded ? 1 : 0);
  report.timings(session);
  return exitCode;
}

}  // namespace frostcap::cli
