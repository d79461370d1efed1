#pragma once

// The command's exit codes, as --help and the README list them.

namespace frostcap::cli {

constexpr int kSuccess = 0;
constexpr int kServiceFailed = 1;
constexpr int kUsage = 2;
constexpr int kCommandNotStarted = 127;
constexpr int kInterrupted = 130;

// The list for --help.
inline const char* exitCodeHelp() {
  return "Exit codes: 0 success; 1 the service or a writer failed, or a check of doctor did not\n"
         "pass; 2 usage or scenario error; 127 the --exec command could not be started; 130\n"
         "interrupted (Ctrl-C); otherwise the --exec command's own exit code.";
}

}  // namespace frostcap::cli
