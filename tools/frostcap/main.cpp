// frostcap: the command-line host of the library. It lists writers and their
// files, takes snapshots, optionally running a command while the shadow
// copies exist, and checks a machine before its first backup. It reaches the
// library only through its exported functions.

#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "actions.h"
#include "api.h"
#include "command_line.h"
#include "doctor.h"
#include "exit_codes.h"
#include "report.h"
#include "service.h"
#include "system.h"

namespace frostcap::cli {
namespace {

// Whether the library can work in this process after the set-up every
// requester makes before loading it; doctor reports it either way.
bool hostUsable(const Command& command, const HostSetup& host) {
  if (command.action == Action::kDoctor) return true;
  if (!host.usable) {
    std::cerr << "frostcap: " << host.com.finding
              << (host.com.advice.empty() ? "" : "; " + host.com.advice) << '\n';
    return false;
  }
  if (host.com.verdict == Verdict::kProblem || host.com.verdict == Verdict::kCannotTell) {
    std::cerr << "frostcap: warning: " << host.com.finding << '\n';
  }
  return true;
}

// Writes the service's record after the backup's outcome is settled; a
// record that cannot be written never hides that outcome.
int keepRecord(const Command& command, const Service& service, int exitCode) {
  if (command.record.empty()) return exitCode;
  try {
    if (service.writeRecord(command.record)) return exitCode;
    std::cerr << "frostcap: this service keeps no record\n";
  } catch (const std::exception& error) {
    std::cerr << "frostcap: --record " << command.record << ": " << error.what() << " (the "
              << (exitCode == kSuccess ? "backup succeeded" : "backup failed") << ")\n";
  }
  return exitCode == kSuccess ? kOwnOutput : exitCode;
}

int dispatch(const Command& command, const HostSetup& host, const Service& service,
             Report& report) {
  const ApiLoad load = loadApi();
  if (command.action == Action::kDoctor) {
    return runDoctor(command, host, load, !service.description().empty(), report);
  }
  if (load.api == nullptr) {
    std::cerr << "frostcap: " << load.error << '\n';
    return kServiceFailed;
  }
  if (command.action == Action::kSnapshot) return takeSnapshot(*load.api, command, service, report);
  return listLive(*load.api, command, report);
}

}  // namespace

int run(int argc, char** argv) {
  const Parsed parsed = parseCommandLine(argc, argv);
  if (!parsed.command) return parsed.exitCode;
  const Command& command = *parsed.command;

  // Before the library is loaded and initialised, which reads the variable.
  if (!command.trace.empty()) {
    if (const std::optional<std::string> failure = traceTo(command.trace)) {
      std::cerr << "frostcap: --trace " << command.trace
                << ": cannot be opened for appending: " << *failure << '\n';
      return kUsage;
    }
  }
  installInterruptHandler();
  const HostSetup host = prepareHost();
  if (!hostUsable(command, host)) return kServiceFailed;
  std::unique_ptr<Service> service;
  try {
    service = openService(command.scenario, command.volumes);
  } catch (const ServiceError& error) {
    std::cerr << "frostcap: " << error.message << '\n';
    return kUsage;
  }
  if (const std::string note = service->description(); !note.empty()) std::cerr << note << '\n';

  Report report(command.json, command.raw, command.name);
  const int exitCode = report.finish(dispatch(command, host, *service, report));
  runFinished();
  return keepRecord(command, *service, exitCode);
}

}  // namespace frostcap::cli

int main(int argc, char** argv) {
  try {
    return frostcap::cli::run(argc, argv);
  } catch (const std::exception& error) {
    // Nothing of the command is meant to throw this far; if it does, the
    // snapshot handle has already been freed as failed on the way out.
    std::cerr << "frostcap: " << error.what() << "; the backup failed\n";
    return frostcap::cli::kOwnOutput;
  }
}
