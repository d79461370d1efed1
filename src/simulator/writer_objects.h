#pragma once

// The objects the simulated service hands out besides the backup-components
// object itself: asynchronous operations, a writer's metadata with its
// components and file descriptors, and a writer's components in the backup.
// Each keeps the service's state alive and records every call it receives.

#include <memory>
#include <string>
#include <vector>

#include "simulator/scenario.h"
#include "simulator/service_state.h"
#include "vss/seam.h"

namespace frostcap::simulator {

using StatePtr = std::shared_ptr<ServiceState>;

// An operation that has already finished with `result`; `call` names it in
// the record (as call.Wait and call.QueryStatus).
std::unique_ptr<vss::Async> makeAsync(StatePtr state, std::string call, Status result);

std::unique_ptr<vss::WriterMetadata> makeWriterMetadata(StatePtr state, const WriterSpec& writer);

// A writer's components in the backup, each with the failure it reports.
std::unique_ptr<vss::WriterComponents> makeWriterComponents(
    StatePtr state, const WriterSpec& writer, std::vector<FailedComponentSpec> components);

// Text of values as the record shows them.
std::string recordText(std::u16string_view value);
std::string recordText(const vss::Guid& value);

}  // namespace frostcap::simulator
