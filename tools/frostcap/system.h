#pragma once

// What the command needs of the operating system besides the library: the
// duties of a requester process, the checks of `frostcap doctor`, the
// terminal, Ctrl-C, and running a command while the shadow copies exist.

#include <string>
#include <utility>
#include <vector>

namespace frostcap::cli {

// One finding of `frostcap doctor`: what was found and, unless all is well,
// what the operator can do about it.
enum class Verdict { kOk, kProblem, kCannotTell };
struct Check {
  Check(std::string name, Verdict verdict = Verdict::kCannotTell, std::string finding = {},
        std::string advice = {})
      : name(std::move(name)),
        verdict(verdict),
        finding(std::move(finding)),
        advice(std::move(advice)) {}
  std::string name;
  Verdict verdict;
  std::string finding;
  std::string advice;
};

// What a requester process sets up once, before the library is loaded: COM
// in the multithreaded apartment, process-wide COM security that lets writers
// running under other accounts call back into this process, and COM's
// catching of fatal exceptions turned off. `com` tells how that went;
// `usable` is false when the library cannot work in this process at all.
struct HostSetup {
  bool usable = true;
  Check com;
};
HostSetup prepareHost();

// The checks of the operating system that `frostcap doctor` makes, in the
// order it prints them (the COM line comes from prepareHost).
std::vector<Check> systemChecks();

bool stderrIsTerminal();

// From now on Ctrl-C only sets a flag, which the command checks whenever a
// blocking call of the library returns; nothing is left behind.
void installInterruptHandler();
bool interrupted();

// Blocks until a line is entered, standard input ends, or Ctrl-C.
enum class HoldEnd { kEnter, kEndOfInput, kInterrupted };
HoldEnd holdUntilEnterOrInterrupt();

struct CommandResult {
  bool started = false;
  int exitCode = 0;
  std::string error;  // why it did not start
};

// Runs argv[0] with its arguments, found through PATH, with `environment`
// added to this process's environment, and waits for it.
CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::vector<std::pair<std::string, std::string>>& environment);

}  // namespace frostcap::cli
