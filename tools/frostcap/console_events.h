#pragma once

// How frostcap.exe answers a console control event. Ctrl-C and Ctrl-Break end
// the run as failed, a second one ends the process at once; closing the
// console, logging off and shutting down end it as the POSIX hang-up and
// termination signals do, while the handler keeps the process alive long
// enough to release the copies.

namespace frostcap::cli {

struct ConsoleAction {
  bool handled = false;
  bool endAtOnce = false;
  bool waitForRun = false;  // Windows ends the process when the handler returns
  int exitCode = 0;
  const char* what = "";
};

ConsoleAction consoleAction(unsigned long event, bool alreadyInterrupted);

}  // namespace frostcap::cli
