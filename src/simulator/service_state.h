#pragma once

// What one simulation's service knows across the backup-components objects it
// hands out: the scenario, the record of calls, the faults still to come and
// the shadow copies that exist. Shared with every object the service hands
// out, so that an object the library still holds keeps it alive.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "simulator/rules.h"
#include "simulator/scenario.h"
#include "simulator/simulation.h"
#include "status/status.h"

namespace frostcap::simulator {

class ServiceState {
 public:
  explicit ServiceState(Scenario scenario);

  const Scenario& scenario() const { return scenario_; }

  // Records `call` with the text of its arguments and returns what it
  // answers: the status of a fault planned for this occurrence, or S_OK, once
  // the fault's delay has passed. A fault may throw instead.
  Status enter(const std::string& call, const std::string& arguments = {});
  // The status planned for this occurrence of `call`, if any, without
  // recording a call: for the outcome of an asynchronous operation.
  std::optional<Status> plannedOutcome(const std::string& call);
  // Adds an entry that is not a call, such as why an operation failed.
  void note(const std::string& call, std::string text);
  // Records that `call` broke `rule` and returns what the service answers.
  Status breach(const std::string& call, const Rule& rule);
  // Records that `call` relied on something the documentation leaves open.
  void assume(const std::string& call, const std::string& what);

  // Adds a fault to the plan, in place of one planned for the same occurrence.
  void plan(const FaultSpec& fault);

  // What the service has handed out and not yet got back.
  void objectMade();
  void objectGone();
  void componentInfoLent();
  // False when no description block is outstanding.
  bool componentInfoReturned();
  Ledger ledger() const;

  // Valid while no call is being made on another thread.
  const std::vector<RecordEntry>& record() const { return record_; }

  // The number of the next shadow copy: 1, 2, ... per simulation, skipping
  // reserved numbers (under Wine a copy takes the lowest number free instead;
  // see shadow_copy.h).
  int nextShadowCopyNumber();
  // Whether a scenario volume names the device of shadow copy `number` as its
  // own: the service then never hands that name out.
  bool deviceNumberReserved(int number) const;
  // A new snapshot or snapshot set id; they count up, so that records of the
  // same scenario compare equal.
  vss::Guid newIdentifier();

  // Makes a shadow copy's device name resolve to its directory, or stop doing
  // so. False, changing nothing, when a live copy has that name already.
  [[nodiscard]] bool addShadowCopy(const std::u16string& device,
                                   const std::filesystem::path& directory);
  void removeShadowCopy(const std::u16string& device);

  // The host path for a volume name, a device name or a path below one,
  // the longest matching name winning.
  std::optional<std::filesystem::path> hostPath(std::u16string_view path) const;

 private:
  const Scenario scenario_;
  mutable std::mutex mutex_;
  std::optional<Status> plannedFor(const std::string& call, std::chrono::milliseconds& delay);
  // The planned status of a call, after the planned delay, out of the lock.
  std::optional<Status> delayed(const std::string& call, bool recorded,
                                const std::string& arguments);

  std::vector<RecordEntry> record_;
  std::map<std::pair<std::string, int>, FaultSpec> faults_;
  std::map<std::string, int> counts_;
  Ledger ledger_;
  int shadowCopies_ = 0;
  std::uint32_t identifiers_ = 0;
  std::map<std::u16string, std::filesystem::path> liveCopies_;
};

// One call as the service takes it: entered in the record with its arguments
// when it is made, then held to the rules of its method one at a time. It
// answers with the fault planned for it, else the first rule it breaks, else
// S_OK; once refused, no further rule is looked at or recorded.
class Call {
 public:
  Call(ServiceState& state, std::string name, const std::string& arguments = {})
      : state_(state), name_(std::move(name)), status_(state_.enter(name_, arguments)) {}

  // Holds the call to `rule`, which the object's state keeps if `kept`; false
  // once the call is refused.
  bool admit(const Rule& rule, bool kept) {
    if (!refused() && !kept) status_ = state_.breach(name_, rule);
    return !refused();
  }
  bool refused() const { return failed(status_); }
  Status status() const { return status_; }
  const std::string& name() const { return name_; }

 private:
  ServiceState& state_;
  std::string name_;
  Status status_;
};

}  // namespace frostcap::simulator
