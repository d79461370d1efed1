// `frostcap snapshot`: takes the shadow copies on a fresh handle per try,
// holds them or runs a command while they exist, and tells the writers that
// the backup succeeded only when everything that followed says so.

#include <algorithm>
#include <iostream>
#include <thread>

#include "actions.h"
#include "background.h"
#include "environment.h"
#include "exit_codes.h"
#include "messages.h"
#include "system.h"

namespace frostcap::cli {
namespace {

// The statuses the command retries, as the library's messages quote them.
constexpr std::string_view kSetInProgress = "0x80042316";  // VSS_E_SNAPSHOT_SET_IN_PROGRESS
// What Microsoft documents for DoSnapshotSet as "can be a transient problem":
// writes that could not be flushed or held, and a provider's veto.
constexpr std::string_view kTransient[] = {"DoSnapshotSet: 0x80042313", "DoSnapshotSet: 0x80042314",
                                           "DoSnapshotSet: 0x80042306"};

// Sleeps, unless the run is interrupted first; false then.
bool pause(Seconds wait) {
  const auto end = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(wait);
  while (std::chrono::steady_clock::now() < end) {
    if (interruption()) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        end - std::chrono::steady_clock::now(), std::chrono::milliseconds(50)));
  }
  return !interruption();
}

std::string seconds(Seconds value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", value.count());
  return text;
}

// One snapshot command: the tries, each on a fresh handle, and the use of the
// copies of the try that made them.
class SnapshotRun {
 public:
  SnapshotRun(const Api& api, const Command& command, const Service& service, Report& report)
      : api_(api), command_(command), service_(service), report_(report) {}

  int run();

 private:
  int attempt(Session& session, std::vector<std::string>& failure);
  bool addComponentVolumes(Session& session, int& exitCode);
  void listFiles(Session& session, const std::vector<std::string>& mountPaths);
  int use(const std::vector<std::string>& mountPaths);
  int hold(const std::vector<std::string>& mountPaths);
  int exec(const std::vector<std::string>& mountPaths);
  int checkCopies(const std::vector<std::string>& mountPaths);
  int interrupted(const std::string& during);
  bool onSnapshotVolume(const std::string& path) const;
  // Whether to try again after the failure: after which pause, and why.
  std::optional<std::pair<Seconds, std::string>> retryAfter(
      const std::vector<std::string>& failure, std::chrono::steady_clock::time_point start);

  const Api& api_;
  const Command& command_;
  const Service& service_;
  Report& report_;
  std::vector<std::string> volumes_;  // as added to the current try's handle
  bool filesOutside_ = false;         // files listed that lie on no volume of the set
  unsigned transientRetries_ = 0;
};

int SnapshotRun::interrupted(const std::string& during) {
  const std::optional<Interruption> cause = interruption();
  report_.note(cause->what + " " + during + ": the backup failed");
  return cause->exitCode;
}

int SnapshotRun::run() {
  const Watchdog watchdog(command_.timeout, command_.grace, "the backup failed");
  const auto start = std::chrono::steady_clock::now();
  for (int number = 1;; ++number) {
    Session session(api_, stderrIsTerminal() && !command_.json, !command_.json);
    if (!session.valid()) return kServiceFailed;
    std::vector<std::string> failure;
    const int exitCode = attempt(session, failure);
    const auto retry =
        exitCode == kServiceFailed && !interruption() ? retryAfter(failure, start) : std::nullopt;
    // Only a snapshot whose copies were used successfully is a good backup.
    const int verdict = exitCode == kSuccess ? 1 : 0;
    session.free(verdict);
    report_.timings(session);
    report_.at("tries").push_back({{"try", number}, {"exitCode", exitCode}});
    report_.set("verdict", verdict);
    if (!retry) return exitCode;
    report_.note("try " + std::to_string(number) + " failed: " + retry->second +
                 "; trying again in " + seconds(retry->first) + " on a fresh handle");
    if (!pause(retry->first)) return interrupted("while waiting to try again");
  }
}

std::optional<std::pair<Seconds, std::string>> SnapshotRun::retryAfter(
    const std::vector<std::string>& failure, std::chrono::steady_clock::time_point start) {
  const RetryPolicy& policy = command_.retry;
  if (mentions(failure, kSetInProgress)) {
    const Seconds elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed + policy.busyWait <= policy.busyLimit) {
      return std::pair(policy.busyWait, std::string("another snapshot set is in progress"));
    }
    report_.note("another snapshot set was still in progress after " + seconds(policy.busyLimit));
    return std::nullopt;
  }
  const bool transient =
      std::any_of(std::begin(kTransient), std::end(kTransient),
                  [&](std::string_view status) { return mentions(failure, status); });
  if (!transient || transientRetries_ >= policy.transientRetries) return std::nullopt;
  ++transientRetries_;
  return std::pair(policy.transientWait, "a failure the service documents as passing (retry " +
                                             std::to_string(transientRetries_) + " of " +
                                             std::to_string(policy.transientRetries) + ")");
}

int SnapshotRun::attempt(Session& session, std::vector<std::string>& failure) {
  volumes_ = command_.volumes;
  filesOutside_ = false;
  configure(session, command_);
  report_.messages(session.messages());  // warnings about the choices, if any
  const int prepared = session.prepare();
  report_.messages(session.messages());
  if (prepared != 0) return kServiceFailed;
  if (interruption()) return interrupted("while gathering the writers' metadata");
  int exitCode = kSuccess;
  if (!command_.writers.empty() && !addComponentVolumes(session, exitCode)) return exitCode;
  const int taken = session.takeSnapshot();
  std::vector<std::string> messages = session.messages();
  report_.messages(messages);
  if (taken != 0) {
    failure = std::move(messages);
    return kServiceFailed;
  }
  const std::vector<std::string> mountPaths = session.mountPaths();
  report_.mountPaths(mountPaths);
  if (command_.listCatalogue) {
    session.loadCatalogue();
    report_.catalogue(session.catalogue());
  }
  if (command_.listFiles) listFiles(session, mountPaths);
  report_.messages(session.messages());
  if (interruption()) return interrupted("after the snapshot");
  return use(mountPaths);
}

// Finds the volumes that the selected components' files lie on and adds those
// that no --volume names, as a requester must: a file on a volume outside
// the snapshot set would be read from the live volume.
bool SnapshotRun::addComponentVolumes(Session& session, int& exitCode) {
  session.loadFiles();
  std::vector<std::string> files = session.files();
  session.excludedFiles();
  for (const std::string& file : files) {
    const std::optional<std::string> volume = service_.volumeOf(file);
    if (!volume || onSnapshotVolume(file)) continue;
    if (!command_.addVolumes) {
      std::cerr << "frostcap: " << file << " lies on " << *volume
                << ", which no --volume names (--no-add-volumes)\n";
      exitCode = kUsage;
      return false;
    }
    report_.note("adding volume " + *volume + ", which holds " + file +
                 " of the selected components");
    session.addVolume(*volume);
    volumes_.push_back(*volume);
  }
  report_.set("volumes", volumes_);
  return true;
}

bool SnapshotRun::onSnapshotVolume(const std::string& path) const {
  const std::optional<std::string> volume = service_.volumeOf(path);
  return volume && std::any_of(volumes_.begin(), volumes_.end(), [&](const std::string& added) {
           return service_.sameVolume(added, *volume);
         });
}

// A file that lies on no volume of the snapshot set was not read from a
// shadow copy, so it is never listed as found inside them.
void SnapshotRun::listFiles(Session& session, const std::vector<std::string>& mountPaths) {
  session.loadFiles();
  std::vector<std::string> inside, outside;
  for (std::string& file : session.files()) {
    (onSnapshotVolume(file) ? inside : outside).push_back(std::move(file));
  }
  const std::vector<std::string> excluded = session.excludedFiles();
  report_.set("files", inside);
  ListingInput input{inside,
                     {},
                     volumes_,
                     mountPaths,
                     [this](const std::string& path) { return service_.hostPath(path); },
                     command_.walk};
  if (command_.withoutExcluded) input.excluded = excluded;
  report_.listing("files (found inside the shadow copies)", makeListing(input));
  report_.list("excluded", "excluded files", excluded);
  filesOutside_ = !outside.empty();
  if (filesOutside_) report_.list("outside", "files on no volume of the snapshot", outside);
  for (const std::string& file : outside) {
    report_.note(file + " lies on no volume of the snapshot: the backup fails");
  }
}

int SnapshotRun::use(const std::vector<std::string>& mountPaths) {
  if (filesOutside_) return kServiceFailed;
  // A provider may make a copy without mapping it to a device path: there is
  // then nothing to read, and the backup has failed before it began.
  if (mountPaths.size() < volumes_.size()) {
    report_.note("the service gave a device path for " + std::to_string(mountPaths.size()) +
                 " of " + std::to_string(volumes_.size()) +
                 " volume(s): nothing can be read from the others; the backup failed");
    return kServiceFailed;
  }
  if (const int exitCode = checkCopies(mountPaths)) return exitCode;
  return command_.exec.empty() ? hold(mountPaths) : exec(mountPaths);
}

int SnapshotRun::hold(const std::vector<std::string>& mountPaths) {
  std::cerr << "frostcap: the shadow copies exist until you confirm: press Enter when the backup "
               "has succeeded; Ctrl-C or Ctrl-D ends it as failed\n";
  switch (holdUntilConfirmed()) {
    case HoldEnd::kConfirmed:
      return checkCopies(mountPaths);
    case HoldEnd::kInterrupted:
      return interrupted("while the snapshot was held");
    case HoldEnd::kEndOfInput:
      break;
  }
  report_.note("input ended before the backup was confirmed: the backup failed");
  return kNotConfirmed;
}

int SnapshotRun::exec(const std::vector<std::string>& mountPaths) {
  std::vector<std::pair<std::string, std::string>> own;
  std::string all;
  for (std::size_t i = 0; i < mountPaths.size(); ++i) {
    const std::string number = std::to_string(i + 1);
    own.emplace_back("FROSTCAP_MOUNT_PATH_" + number, mountPaths[i]);
    own.emplace_back("FROSTCAP_SNAPSHOT_DIR_" + number, service_.hostPath(mountPaths[i]));
    all += (all.empty() ? "" : "\n") + mountPaths[i];
  }
  own.emplace_back("FROSTCAP_MOUNT_PATHS", all);
  std::cout.flush();
  const CommandResult result =
      runCommand({command_.exec, childEnvironment(inheritedEnvironment(), own), command_.json,
                  command_.grace});
  const std::string& name = command_.exec.front();
  if (!result.started) {
    report_.note(name + " could not be started: " + result.error + "; the backup failed");
    return kCommandNotStarted;
  }
  report_.set("exec", {{"argv", command_.exec}, {"exitCode", result.exitCode}});
  if (interruption()) return interrupted("while " + name + " ran");
  const bool success =
      result.ending.empty() && std::any_of(command_.successCodes.begin(),
                                           command_.successCodes.end(), [&](const auto& range) {
                                             return range.first <= result.exitCode &&
                                                    result.exitCode <= range.second;
                                           });
  if (!success) {
    report_.note(name +
                 (result.ending.empty() ? " exited with " + std::to_string(result.exitCode)
                                        : " was " + result.ending) +
                 ": the backup failed");
    checkCopies(mountPaths);  // says why, when a copy vanished under the command
    return kCommandFailed;
  }
  return checkCopies(mountPaths);
}

// The service deletes a shadow copy when its storage fills, even while the
// backup reads it: a copy that is gone makes the backup failed.
int SnapshotRun::checkCopies(const std::vector<std::string>& mountPaths) {
  int exitCode = kSuccess;
  for (std::size_t i = 0; i < mountPaths.size(); ++i) {
    if (service_.copyExists(mountPaths[i])) continue;
    const std::string volume = mountPaths.size() == volumes_.size() ? volumes_[i] + " " : "";
    report_.note("the shadow copy of volume " + volume + "(" + mountPaths[i] +
                 ") no longer exists: the backup failed");
    exitCode = kServiceFailed;
  }
  return exitCode;
}

}  // namespace

int takeSnapshot(const Api& api, const Command& command, const Service& service, Report& report) {
  if (command.exec.empty() && !stdinIsTerminal()) {
    std::cerr << "frostcap: without --exec the snapshot is held until you confirm on a terminal, "
                 "and standard input is not one: use --exec CMD to run the backup\n";
    return kUsage;
  }
  reportBackupType(report, command);
  return SnapshotRun(api, command, service, report).run();
}

}  // namespace frostcap::cli
