#pragma once

// The objects the simulated service hands out besides the backup-components
// object itself: asynchronous operations, a writer's metadata with its
// components and file descriptors, and a writer's components in the backup.
// Each keeps the service's state alive and records every call it receives.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "simulator/scenario.h"
#include "simulator/service_state.h"
#include "vss/seam.h"

namespace frostcap::simulator {

using StatePtr = std::shared_ptr<ServiceState>;

// What every object the service hands out shares: the state it keeps alive,
// and its entry in the ledger for as long as it exists.
class HandedOut {
 public:
  explicit HandedOut(StatePtr state) : state_(std::move(state)) { state_->objectMade(); }
  HandedOut(const HandedOut&) = delete;
  HandedOut& operator=(const HandedOut&) = delete;
  ~HandedOut() { state_->objectGone(); }

 protected:
  // Takes `call`, recorded with `arguments`, and hands out what `value`
  // gives unless a fault planned for the call refuses it.
  template <typename Out, typename Value>
  Status answer(std::string call, Out& out, Value value, const std::string& arguments = {}) {
    const Call taken(*state_, std::move(call), arguments);
    if (!taken.refused()) out = value();
    return taken.status();
  }

  StatePtr state_;
};

// An operation that has done its work and ends with `result`; `call` names it
// in the record (as call.Wait and call.QueryStatus). `finished` runs when it
// is first waited on, unless `result` is a failure.
std::unique_ptr<vss::Async> makeAsync(StatePtr state, std::string call, Status result,
                                      std::function<void()> finished);

std::unique_ptr<vss::WriterMetadata> makeWriterMetadata(StatePtr state, const WriterSpec& writer);

// A writer's components in the backup, each with the failure it reports.
std::unique_ptr<vss::WriterComponents> makeWriterComponents(
    StatePtr state, const WriterSpec& writer, std::vector<FailedComponentSpec> components);

// Text of values as the record shows them.
std::string recordText(std::u16string_view value);
std::string recordText(const vss::Guid& value);

}  // namespace frostcap::simulator
