#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "platform/append_file.h"
#include "platform/utf_codec.h"
#include "system.h"

extern char** environ;

namespace frostcap::cli {
namespace {

// The first interruption wins: its exit code, the signal (0 for the timeout),
// and whether the kernel sent it to the whole process group, as a terminal
// does for Ctrl-C and a hang-up, so that the command run has it already.
std::atomic<int> interruptCode{0};
std::atomic<int> interruptSignal{0};
std::atomic<bool> sentToGroup{false};
std::atomic<const char*> interruptWhat{nullptr};

void onSignal(int signal, siginfo_t* info, void*) {
  int none = 0;
  if (!interruptCode.compare_exchange_strong(none, 128 + signal)) return;
  interruptSignal = signal;
  sentToGroup = info != nullptr && info->si_code == SI_KERNEL;
}

std::string signalName(int signal) {
  switch (signal) {
    case SIGHUP:
      return "SIGHUP (hang-up)";
    case SIGINT:
      return "SIGINT (Ctrl-C)";
    case SIGPIPE:
      return "SIGPIPE (broken pipe)";
    case SIGTERM:
      return "SIGTERM";
    case SIGKILL:
      return "SIGKILL";
    default:
      return "signal " + std::to_string(signal);
  }
}

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
  return {true, {"COM security", Verdict::kSkipped, "does not apply here: there is no COM", {}}};
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
  if (!readsEverything) {
    checks.push_back({"backup privilege", Verdict::kCannotTell,
                      "/proc/self/status does not say which capabilities are effective"});
  } else if (*readsEverything) {
    checks.push_back({"backup privilege", Verdict::kOk,
                      "CAP_DAC_READ_SEARCH is effective: every file can be read"});
  } else {
    checks.push_back({"backup privilege", Verdict::kProblem,
                      "CAP_DAC_READ_SEARCH is not effective: files this user may not read stay "
                      "unreadable in the copies",
                      "run as root, or give the program the capability "
                      "(setcap cap_dac_read_search+ep)"});
  }
  utsname system{};
  ::uname(&system);
  const bool process64 = sizeof(void*) == 8;
  checks.push_back(
      {"64-bit", process64 ? Verdict::kOk : Verdict::kProblem,
       std::string(process64 ? "a 64-bit" : "a 32-bit") + " process on " + system.machine,
       process64 ? "" : "build frostcap for 64 bits"});
  checks.push_back({"shadow copy service",
                    Verdict::kSkipped,
                    "does not apply here: the service is simulated inside this process",
                    {}});
  return checks;
}

bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }
bool stdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

void installInterruptHandler() {
  struct sigaction action {};
  action.sa_sigaction = onSignal;
  action.sa_flags = SA_SIGINFO;  // no SA_RESTART: a wait for input returns at once
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGHUP, SIGINT, SIGPIPE, SIGTERM}) ::sigaction(signal, &action, nullptr);
}

std::optional<Interruption> interruption() {
  const int code = interruptCode;
  if (code == 0) return std::nullopt;
  const char* what = interruptWhat;
  return Interruption{code, what != nullptr ? what : signalName(interruptSignal)};
}

void interrupt(int exitCode, const char* what) {
  int none = 0;
  if (interruptCode.compare_exchange_strong(none, exitCode)) interruptWhat = what;
}

void runFinished() {}

HoldEnd holdUntilConfirmed() {
  while (interruptCode == 0) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&input, 1, 100);
    if (ready < 0 && errno != EINTR) return HoldEnd::kEndOfInput;
    if (ready <= 0) continue;
    char buffer[256];
    const ssize_t read = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (read < 0 && errno == EINTR) continue;
    // End of input, a hang-up and a failed read are no confirmation.
    if (read <= 0) return interruptCode != 0 ? HoldEnd::kInterrupted : HoldEnd::kEndOfInput;
    if (std::memchr(buffer, '\n', static_cast<std::size_t>(read)) != nullptr) {
      return interruptCode != 0 ? HoldEnd::kInterrupted : HoldEnd::kConfirmed;
    }
  }
  return HoldEnd::kInterrupted;
}

std::vector<std::string> inheritedEnvironment() {
  std::vector<std::string> entries;
  for (char** variable = environ; *variable != nullptr; ++variable) entries.emplace_back(*variable);
  return entries;
}

namespace {

// Waits for the child; once the run is interrupted, passes the signal on
// (unless the terminal already sent it to the whole group) and kills the
// child when it has not ended after the grace period.
int waitForChild(pid_t child, std::chrono::duration<double> grace) {
  std::optional<std::chrono::steady_clock::time_point> killAt;
  bool killed = false;
  int status = 0;
  while (true) {
    const pid_t ended = ::waitpid(child, &status, WNOHANG);
    if (ended == child || (ended < 0 && errno != EINTR)) return status;
    const auto now = std::chrono::steady_clock::now();
    if (!killAt && interruptCode != 0) {
      const int signal = interruptSignal;
      if (signal == 0 || !sentToGroup) ::kill(child, signal == 0 ? SIGTERM : signal);
      killAt = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(grace);
    }
    if (killAt && !killed && now >= *killAt) {
      std::cerr << "frostcap: the command did not end within the grace period; killing it\n";
      ::kill(child, SIGKILL);
      killed = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

CommandResult runCommand(const CommandSpec& spec) {
  std::vector<std::string> entries = spec.environment;
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> arguments = spec.argv;
  std::vector<char*> args;
  for (std::string& argument : arguments) args.push_back(argument.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  if (spec.stdoutToStderr)
    ::posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  pid_t child = 0;
  const int error = ::posix_spawnp(&child, args[0], &actions, nullptr, args.data(), envp.data());
  ::posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return {false, 0, {}, std::string(std::strerror(error))};
  const int status = waitForChild(child, spec.grace);
  if (WIFEXITED(status)) return {true, WEXITSTATUS(status), {}, {}};
  const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return {true, 128 + signal, "ended by " + signalName(signal), {}};
}

std::optional<std::string> traceTo(const std::string& path) {
  const platform::AppendFile file(utf::toUtf16(path));
  if (!file.isOpen()) return file.failure();
  if (::setenv("FROSTCAP_TRACE", path.c_str(), 1) != 0) return std::string(std::strerror(errno));
  return std::nullopt;
}

}  // namespace frostcap::cli
