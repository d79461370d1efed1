#include "doctor.h"

#include <iostream>
#include <vector>

#include "exit_codes.h"

#include "messages.h"
#include "session.h"

namespace frostcap::cli {

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
  std::string messages;
  for (const std::string& message : session.messages()) {
    messages += (messages.empty() ? "" : "; ") + (raw ? message : renderMessage(message));
  }
  session.free(0);
  if (made) {
    check.verdict = Verdict::kOk;
    check.finding = "a shadow copy of " + volume + " was made" +
                    (mountPaths.empty() ? "" : " (" + mountPaths.front() + ")") +
                    " and released at once" + (messages.empty() ? "" : "; " + messages);
  } else {
    check.verdict = Verdict::kProblem;
    check.finding = "no shadow copy of " + volume + " could be made: " + messages;
    check.advice = "docs/messages.md says what to do about each message";
  }
  return check;
}

int runDoctor(const Command& command, const HostSetup& host, const ApiLoad& load, Report& report) {
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
    trial = volumeTrial(*load.api, volume, command.raw);
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
