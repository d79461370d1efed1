#pragma once

// What the command needs of the operating system besides the library: the
// duties of a requester process, the checks of `frostcap doctor`, the
// terminal, signals and console events, and running a command while the
// shadow copies exist.

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace frostcap::cli {

// One finding of `frostcap doctor`: what was found and, unless all is well,
// what the operator can do about it.
// kSkipped: the check does not apply here or was not tried; kCannotTell: it
// was tried and found no answer. Neither fails doctor; both are named.
enum class Verdict { kOk, kProblem, kCannotTell, kSkipped };
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
// running under other accounts call back into this process, COM's catching
// of fatal exceptions turned off, and the backup privilege enabled where the
// token holds it. `com` tells how that went; `usable` is false when the
// library cannot work in this process at all.
struct HostSetup {
  bool usable = true;
  Check com;
};
HostSetup prepareHost();

// The checks of the operating system that `frostcap doctor` makes, in the
// order it prints them (the COM line comes from prepareHost).
std::vector<Check> systemChecks();

bool stderrIsTerminal();
bool stdinIsTerminal();

// From now on a hang-up, a broken pipe, a termination request and Ctrl-C (on
// Windows Ctrl-C, Ctrl-Break, closing the console, logging off and shutting
// down) only note why the run is to end, which the command checks whenever a
// blocking call of the library returns and while it holds the shadow copies
// or waits for its command. A second Ctrl-C on Windows ends the process at once.
void installInterruptHandler();

// Why the run is to end early, and the exit code that says so (128 + the
// signal's number on POSIX).
struct Interruption {
  int exitCode;
  std::string what;  // e.g. "SIGTERM", "Ctrl-C", "the timeout"
};
std::optional<Interruption> interruption();
// Ends the run as an interruption would, for the timeout.
void interrupt(int exitCode, const char* what);
// Tells a console handler waiting for the end of the run (Windows) that the
// copies are released.
void runFinished();

// Blocks until a line is entered on the terminal, input ends (or cannot be
// read), or the run is interrupted.
enum class HoldEnd { kConfirmed, kEndOfInput, kInterrupted };
HoldEnd holdUntilConfirmed();

// The command run while the shadow copies exist: argv[0] found through PATH,
// with exactly `environment` ("NAME=VALUE" entries). When the run is
// interrupted, the child is asked to end (the signal passed on on POSIX) and
// ended after `grace`.
struct CommandSpec {
  std::vector<std::string> argv;
  std::vector<std::string> environment;
  bool stdoutToStderr = false;  // keeps the command's standard output clean
  std::chrono::duration<double> grace{10};
};

struct CommandResult {
  bool started = false;
  int exitCode = 0;
  std::string ending;  // how it ended, when not by exiting, e.g. "killed by SIGKILL"
  std::string error;   // why it did not start
};

CommandResult runCommand(const CommandSpec& spec);

// This process's environment, "NAME=VALUE" a line.
std::vector<std::string> inheritedEnvironment();

// Opens `path` for appending as the library's trace does (creating it for its
// owner only, never through a link) and names it in FROSTCAP_TRACE, which the
// library reads when it is initialised. Why not, when it cannot.
std::optional<std::string> traceTo(const std::string& path);

}  // namespace frostcap::cli
