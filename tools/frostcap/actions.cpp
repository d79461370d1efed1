#include "actions.h"

#include <iostream>

#include "exit_codes.h"
#include "system.h"

namespace frostcap::cli {
namespace {

bool showProgress(const Command& command) { return stderrIsTerminal() && !command.json; }

}  // namespace

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
  Session session(api, showProgress(command), !command.json);
  if (!session.valid()) return kServiceFailed;
  configure(session, command);
  reportBackupType(report, command);
  report.messages(session.messages());  // warnings about the choices, if any
  int exitCode = kServiceFailed;
  if (session.prepare() == 0) {
    if (command.action == Action::kFiles) session.loadFiles();
    // With writers selected, the preparation built their catalogue; without,
    // the whole catalogue is asked for.
    if (command.action == Action::kWriters && command.writers.empty()) session.loadCatalogue();
    report.messages(session.messages());
    if (command.action == Action::kFiles) {
      report.list("files", "files", session.files());
      report.list("excluded", "excluded files", session.excludedFiles());
    } else {
      const std::vector<std::string> catalogue = session.catalogue();
      report.catalogue(catalogue);
      if (catalogue.empty() && command.writers.empty()) {
        report.note(
            "the library gathers the writers' metadata only for writers a backup selects, so "
            "it cannot list them unasked: name them with --writer (on Windows, `vssadmin list "
            "writers` shows each writer's class id)");
      }
    }
    exitCode = report.failed() ? kServiceFailed : kSuccess;
  }
  report.messages(session.messages());
  session.free(0);
  report.set("verdict", 0);
  report.timings(session);
  // A signal during a listing ends it too, once the library's call returns.
  if (const std::optional<Interruption> cause = interruption()) {
    report.note(cause->what + ": the listing was cut short");
    return cause->exitCode;
  }
  return exitCode;
}

}  // namespace frostcap::cli
