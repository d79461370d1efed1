#pragma once

// What the command needs of the operating system besides the library: the
// terminal, Ctrl-C, and running a command while the shadow copies exist.

#include <string>
#include <utility>
#include <vector>

namespace frostcap::cli {

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
