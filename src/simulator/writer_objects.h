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
  StatePtr state_;
};

// An operation that has done its work and ends with `result`; `call` names it
// in the record (as call.Wait and call.QueryStatus). `finished` runs when it
// is first waited on, unless `result` is a failure.
std::unique_ptr<vss::Async> makeAsync(StatePtr state, std::string call, Status result,
                                      std::function<void()> finished);

// A file descriptor as other requesters read it, beyond the library's seam.
class ModelFileDescriptor : public vss::FileDescriptor {
 public:
  virtual Status getAlternateLocation(std::u16string& location) = 0;
  virtual Status getBackupTypeMask(std::uint32_t& mask) = 0;
};

// A writer's metadata as other requesters read it, beyond the library's seam.
// Every file descriptor it hands out is a ModelFileDescriptor.
class ModelWriterMetadata : public vss::WriterMetadata {
 public:
  // S_FALSE (1), with `method` left empty, when the writer declares none.
  virtual Status getRestoreMethod(RestoreMethodSpec& method, std::uint32_t& mappings) = 0;
  virtual Status getAlternateLocationMapping(std::uint32_t index,
                                             std::unique_ptr<vss::FileDescriptor>& mapping) = 0;
  virtual Status getBackupSchema(std::uint32_t& schema) = 0;
  // SaveAsXML: the writer's metadata document.
  virtual Status saveAsXml(std::u16string& document) = 0;
};

std::unique_ptr<ModelWriterMetadata> makeWriterMetadata(StatePtr state, const WriterSpec& writer);

// A writer's components in the backup, each with the failure it reports.
std::unique_ptr<vss::WriterComponents> makeWriterComponents(
    StatePtr state, const WriterSpec& writer, std::vector<FailedComponentSpec> components);

// Text of values as the record shows them.
std::string recordText(std::u16string_view value);
std::string recordText(const vss::Guid& value);

}  // namespace frostcap::simulator
