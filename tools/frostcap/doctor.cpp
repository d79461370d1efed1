#include "doctor.h"

#include <iostream>
#include <optional>
#include <vector>

#include "background.h"
#include "exit_codes.h"
#include "field_environments.h"
#include "messages.h"
#include "session.h"

namespace frostcap::cli {

namespace {

// The field environment the trial met, if it met one: a trial that outlasted
// --timeout, a copy that no device path leads to, or a known refusal.
const FieldEnvironment* environmentMet(bool made, bool mapped,
                                       const std::vector<std::string>& messages) {
  const std::optional<Interruption> cause = interruption();
  if (cause && cause->exitCode == kTimedOut) return &fieldEnvironment(kTrialTimedOut);
  if (made) return mapped ? nullptr : &fieldEnvironment(kNoDevicePath);
  return recogniseEnvironment(messages);
}

}  // namespace

Check volumeTrial(const Api& api, const std::string& volume, bool raw) {
  Check check{"volume trial"};
  Session session(api, false);
  if (!session.valid()) {
    check.verdict = Verdict::kProblem;
    check.finding = "the library could not create a snapshot handle";
    return check;
  }
  session.addVolume(volume);
  const bool made = session.prepare() == 0 && session.takeSnapshot() == 0;
  const std::vector<std::string> mountPaths = session.mountPaths();
  const std::vector<std::string> messages = session.messages();
  std::string said;
  for (const std::string& message : messages) {
    said += (said.empty() ? "" : "; ") + (raw ? message : renderMessage(message));
  }
  session.free(0);
  const FieldEnvironment* environment = environmentMet(made, !mountPaths.empty(), messages);
  if (environment != nullptr) {
    check.verdict = environment->verdict;
    check.finding = std::string(environment->meaning) + (said.empty() ? "" : "; " + said);
    check.advice = environment->fix;
  } else if (made) {
    check.verdict = Verdict::kOk;
    check.finding = "a shadow copy of " + volume + " was made (" + mountPaths.front() +
                    ") and released at once" + (said.empty() ? "" : "; " + said);
  } else {
    check.verdict = Verdict::kProblem;
    check.finding = "no shadow copy of " + volume + " could be made: " + said;
    check.advice = "docs/messages.md says what to do about each message";
  }
  return check;
}

int runDoctor(const Command& command, const HostSetup& host, const ApiLoad& load, bool simulated,
              Report& report) {
  std::vector<Check> checks = systemChecks();
  checks.push_back(host.com);
  Check trial{"volume trial", Verdict::kSkipped};
  const std::string volume = command.volumes.empty() ? "" : command.volumes.front();
  if (volume.empty()) {
    trial.finding = "not tried: no volume given";
    trial.advice = "name the volume to back up, e.g. frostcap doctor --volume C:\\";
  } else if (!host.usable) {
    trial.finding = "not tried: COM cannot be used as the service needs (see the COM line)";
  } else if (load.api == nullptr) {
    trial.verdict = Verdict::kProblem;
    trial.finding = "the library could not be loaded: " + load.error;
    trial.advice = "keep frostcap.dll beside frostcap.exe";
  } else {
    // The library's waits have no limit: a stuck trial ends the process.
    const FieldEnvironment& stuck = fieldEnvironment(kTrialTimedOut);
    const Watchdog watchdog(
        command.timeout, Seconds(0),
        "the volume trial failed: " + std::string(stuck.meaning) + " -> " + std::string(stuck.fix));
    trial = volumeTrial(*load.api, volume, command.raw);
    if (simulated && trial.verdict == Verdict::kOk) {
      trial.finding += ", by the simulated service: a real server's providers are not tried";
    }
  }
  checks.push_back(std::move(trial));

  bool problem = false;
  std::string notChecked;
  nlohmann::json entries = nlohmann::json::array();
  for (const Check& check : checks) {
    problem = problem || check.verdict == Verdict::kProblem;
    if (check.verdict == Verdict::kSkipped || check.verdict == Verdict::kCannotTell) {
      notChecked += (notChecked.empty() ? "" : ", ") + check.name;
    }
    entries.push_back({{"check", check.name},
                       {"verdict", verdictName(check.verdict)},
                       {"finding", check.finding},
                       {"advice", check.advice}});
    if (!command.json) std::cout << checkLine(check) << '\n';
  }
  report.set("checks", std::move(entries));
  // What was not checked does not fail the run, but the operator is told.
  report.note(std::string(problem ? "a check found a problem" : "every check made passed") +
              (notChecked.empty() ? "" : "; not checked: " + notChecked));
  if (const std::optional<Interruption> cause = interruption()) return cause->exitCode;
  return problem ? kServiceFailed : kSuccess;
}

const char* verdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kOk:
      return "ok";
    case Verdict::kProblem:
      return "problem";
    case Verdict::kSkipped:
      return "skipped";
    case Verdict::kCannotTell:
      break;
  }
  return "cannot tell";
}

std::string checkLine(const Check& check) {
  std::string line = verdictName(check.verdict);
  line.resize(13, ' ');
  line += check.name + ": " + check.finding;
  if (!check.advice.empty()) line += " -> " + check.advice;
  return line;
}

}  // namespace frostcap::cli
