#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include "system.h"

extern char** environ;

namespace frostcap::cli {
namespace {

std::atomic<bool> interruptFlag{false};

void onInterrupt(int) { interruptFlag = true; }

// Whether the effective capabilities include CAP_DAC_READ_SEARCH, the
// nearest thing here to the backup privilege: reading any file whatever its
// permissions. Empty where /proc does not say.
std::optional<bool> canReadEverything() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("CapEff:", 0) != 0) continue;
    constexpr unsigned kDacReadSearch = 2;
    return ((std::strtoull(line.c_str() + 7, nullptr, 16) >> kDacReadSearch) & 1) != 0;
  }
  return std::nullopt;
}

}  // namespace

// No COM here: the simulated service is a part of this process.
HostSetup prepareHost() {
  return {true, {"COM security", Verdict::kOk, "does not apply here: there is no COM", {}}};
}

// The same questions as on Windows, in their POSIX sense; none of them stands
// in the way of the simulated service, which needs no privilege.
std::vector<Check> systemChecks() {
  std::vector<Check> checks;
  const uid_t user = ::geteuid();
  checks.push_back({"elevated token",
                    Verdict::kOk,
                    user == 0 ? "running as root"
                              : "running as user " + std::to_string(user) +
                                    ", not root; the simulated service needs no privilege",
                    {}});
  const std::optional<bool> readsEverything = canReadEverything();
  checks.push_back({"backup privilege",
                    Verdict::kOk,
                    !readsEverything ? "does not apply here"
                    : *readsEverything
                        ? "CAP_DAC_READ_SEARCH is effective: every file can be read"
                        : "CAP_DAC_READ_SEARCH is not effective: files this user may not read "
                          "stay unreadable in the copies",
                    {}});
  utsname system{};
  ::uname(&system);
  const bool process64 = sizeof(void*) == 8;
  checks.push_back(
      {"64-bit", process64 ? Verdict::kOk : Verdict::kProblem,
       std::string(process64 ? "a 64-bit" : "a 32-bit") + " process on " + system.machine,
       process64 ? "" : "build frostcap for 64 bits"});
  checks.push_back({"shadow copy service",
                    Verdict::kOk,
                    "does not apply here: the service is simulated inside this process",
                    {}});
  return checks;
}

bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void installInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait for input returns at once with EINTR.
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

bool interrupted() { return interruptFlag; }

HoldEnd holdUntilEnterOrInterrupt() {
  while (!interruptFlag) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&input, 1, 200);
    if (ready < 0 && errno != EINTR) return HoldEnd::kEndOfInput;
    if (ready <= 0) continue;
    char buffer[256];
    const ssize_t read = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (read <= 0) return interruptFlag ? HoldEnd::kInterrupted : HoldEnd::kEndOfInput;
    if (std::memchr(buffer, '\n', static_cast<std::size_t>(read)) != nullptr)
      return HoldEnd::kEnter;
  }
  return HoldEnd::kInterrupted;
}

CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::vector<std::pair<std::string, std::string>>& environment) {
  std::vector<std::string> entries;
  for (char** variable = environ; *variable != nullptr; ++variable) entries.emplace_back(*variable);
  for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> arguments = argv;
  std::vector<char*> args;
  for (std::string& argument : arguments) args.push_back(argument.data());
  args.push_back(nullptr);

  pid_t child = 0;
  const int error = ::posix_spawnp(&child, args[0], nullptr, nullptr, args.data(), envp.data());
  if (error != 0) return {false, 0, std::string(std::strerror(error))};
  // Ctrl-C reaches the command too (same process group); wait for it to end
  // before the shadow copies go.
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return {true, WEXITSTATUS(status), {}};
  return {true, 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0), {}};
}

}  // namespace frostcap::cli
