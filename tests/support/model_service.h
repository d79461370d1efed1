#pragma once

// The model of the shadow copy service as a test sets it up: the writers and
// volumes it plays and the faults it answers with. The scenario is fixed when
// the library first reaches the service; faults may be added at any time.
// Then the test reads what the service was told and what it still has out.
//
// The model is the same one that frostcap-sim, the frostcap command and the
// model's vssapi.dll play: strict where the platform documents a rule, and it
// records every breach.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "simulator/scenario.h"
#include "simulator/simulation.h"
#include "status/status.h"
#include "vss/factory.h"

namespace frostcap::test {

using simulator::ComponentSpec;
using simulator::FailedComponentSpec;
using simulator::FileSpec;
using simulator::Throw;
using simulator::WriterSpec;

class ModelService {
 public:
  struct Call {
    std::string op;    // e.g. "AddToSnapshotSet" or "DoSnapshotSet.Wait"
    std::string args;  // its arguments as text
    std::string text() const { return op + "(" + args + ")"; }
  };

  ModelService();
  ~ModelService();
  ModelService(const ModelService&) = delete;
  ModelService& operator=(const ModelService&) = delete;

  std::vector<WriterSpec> writers;
  // Volumes without files behind them; a test that searches inside the
  // shadow copies gives a volume a device name of a directory it prepared.
  std::vector<simulator::Volume> volumes = volumesNamed({u"C:\\", u"D:\\", u"E:\\"});
  // Refuse what the backup never prepared, as a real server may.
  bool refuseUnprepared = false;

  // Makes the occurrence-th call (1-based) of `op` answer `status`, or throw.
  // Besides the operations themselves, "X.Wait" and "X.QueryStatus" name the
  // calls on the asynchronous operation started by X, and "X.Result" the
  // operation's own status.
  void fail(const std::string& op, Status status, int occurrence = 1);
  void raise(const std::string& op, Throw kind, int occurrence = 1);
  // Every occurrence of `op` answers `status` unless a fault says otherwise.
  void answer(const std::string& op, Status status);

  // The calls the service received, without the record's other entries.
  std::vector<Call> calls() const;
  std::vector<std::string> log(const std::string& omit = "") const;
  std::vector<std::string> logSince(std::size_t first) const;
  int count(const std::string& op) const;
  // The record's "Breach" entries: the documented rules the calls broke.
  std::vector<std::string> breaches() const;
  // The record's "Misuse" entries: objects used after their release, blocks
  // handed back that were never lent.
  std::vector<std::string> misuses() const;

  simulator::Ledger ledger() const;

  static std::vector<simulator::Volume> volumesNamed(std::vector<std::u16string> names);

 private:
  simulator::Simulation& model();
  std::vector<std::string> entries(const std::string& call) const;

  std::vector<simulator::FaultSpec> faults_;
  std::unique_ptr<simulator::Simulation> model_;
  vss::BackupComponentsFactory previousFactory_;
};

// Text of values as the record shows them.
std::string text(const std::u16string& value);
std::string text(const vss::Guid& value);

}  // namespace frostcap::test
