#pragma once

// The command's exit codes, as --help and the README list them. Every code
// but 0 and 6 means that the backup did not succeed: writers were told so.

namespace frostcap::cli {

constexpr int kSuccess = 0;
constexpr int kServiceFailed = 1;  // also: a shadow copy vanished; a check of doctor failed
constexpr int kUsage = 2;          // also: a scenario that cannot be used
constexpr int kCommandFailed = 3;  // the --exec command exited with no success code
constexpr int kNotConfirmed = 4;   // a held snapshot ended without confirmation
constexpr int kTimedOut = 5;
constexpr int kOwnOutput = 6;  // the backup succeeded, but --record could not be written
constexpr int kCommandNotStarted = 127;
// A signal N ends the run with 128 + N: 129 hang-up (console closed), 130
// Ctrl-C, 141 broken pipe, 143 termination (logoff, shutdown).

// The list for --help.
inline const char* exitCodeHelp() {
  return "Exit codes (anything but 0 and 6: the backup failed, and the writers were told so):\n"
         "  0    success\n"
         "  1    the service or a writer failed, or a shadow copy vanished; doctor: a check "
         "failed\n"
         "  2    usage or scenario error\n"
         "  3    the --exec command failed (no exit code of --success-exit-codes)\n"
         "  4    the held snapshot ended without confirmation (end of input)\n"
         "  5    --timeout passed\n"
         "  6    the backup succeeded, but the --record file could not be written\n"
         "  127  the --exec command could not be started\n"
         "  128+N  ended by signal N: 129 hang-up or console closed, 130 Ctrl-C,\n"
         "         141 broken pipe, 143 termination, logoff or shutdown";
}

}  // namespace frostcap::cli
