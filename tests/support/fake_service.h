#pragma once

// A scripted stand-in for the shadow copy service, behind the same seam as the
// real one. It plays writers with their components, descriptors, statuses and
// component failures; records every call with its arguments; fails or throws
// at any chosen call; and counts the objects it hands out, so a test can check
// that the library released every one of them, on failure paths too.
//
// It is as strict as the real service where the platform documents a rule:
// metadata is gathered at most once per backup-components object, asked for
// only once gathered, and every asynchronous operation is waited on before its
// status is queried. A breach is a test failure.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "status/status.h"
#include "vss/factory.h"
#include "vss/seam.h"

namespace frostcap::test {

struct FakeFile {
  std::optional<std::u16string> path;  // nothing: the descriptor has no path
  std::optional<std::u16string> filespec;
  bool recursive = false;
};

struct FakeComponent {
  std::uint32_t type = 2;  // file group
  std::u16string logicalPath;
  std::u16string name;
  bool selectable = true;
  std::vector<FakeFile> files;
  std::vector<FakeFile> databases;
  std::vector<FakeFile> logs;
};

// A component as the writer reports it after a partial failure.
struct FakeFailedComponent {
  std::u16string name;
  vss::ComponentFailure failure;
};

struct FakeWriter {
  vss::Guid classId;
  vss::Guid instanceId;
  std::u16string name;
  std::vector<FakeComponent> components;
  std::vector<FakeFile> excludes;
  Status failure = 0;  // the writer's failure status in GetWriterStatus
  std::vector<FakeFailedComponent> failedComponents;
};

// What a planned call does instead of answering normally.
enum class Throw { kNothing, kBadAlloc, kStandard, kNonStandard };

class FakeService {
 public:
  struct Call {
    std::string op;    // the operation, e.g. "AddToSnapshotSet" or "DoSnapshotSet.Wait"
    std::string args;  // its arguments as text
    std::string text() const { return op + "(" + args + ")"; }
  };

  FakeService();
  ~FakeService();
  FakeService(const FakeService&) = delete;
  FakeService& operator=(const FakeService&) = delete;

  // When set, every object the factory makes is handed out through this
  // instead: the COM tests put a COM shim and the real adapter between the
  // library and the fake.
  using Wrapper =
      std::function<std::unique_ptr<vss::BackupComponents>(std::unique_ptr<vss::BackupComponents>)>;
  static Wrapper wrapper;

  std::vector<FakeWriter> writers;
  // Device names handed out for the snapshots in the order they were added;
  // past its end, names of the form \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN.
  std::vector<std::u16string> deviceNames;

  // Makes the occurrence-th call (1-based) of `op` answer `status`, or throw.
  // Besides the operations themselves, "X.Wait" and "X.QueryStatus" name the
  // calls on the asynchronous operation started by X, and "X.Result" the
  // operation's own status that QueryStatus reports.
  void fail(const std::string& op, Status status, int occurrence = 1);
  void raise(const std::string& op, Throw kind, int occurrence = 1);
  // Every occurrence of `op` answers `status` unless a fault says otherwise.
  void answer(const std::string& op, Status status);

  const std::vector<Call>& calls() const { return calls_; }
  // The calls as text, leaving out those whose operation contains `omit`.
  std::vector<std::string> log(const std::string& omit = "") const;
  // The calls as text from the first-th on.
  std::vector<std::string> logSince(std::size_t first) const;
  // How often `op` was called.
  int count(const std::string& op) const;

  int liveObjects() const { return liveObjects_; }
  int outstandingComponentInfo() const { return outstandingInfo_; }

  // Called by the fake objects.
  Status enter(const std::string& op, std::string args = {});
  void objectCreated() { ++liveObjects_; }
  void objectDestroyed() { --liveObjects_; }
  void infoObtained() { ++outstandingInfo_; }
  bool infoReturned();
  // The writers the service reports: those of the enabled classes, in script order.
  std::vector<const FakeWriter*> reportedWriters() const;
  std::optional<std::vector<vss::Guid>> enabledClasses;
  int nextSnapshot = 0;

 private:
  struct Plan {
    Status status = 0;
    Throw kind = Throw::kNothing;
  };
  std::map<std::pair<std::string, int>, Plan> faults_;
  std::map<std::string, Status> answers_;
  std::map<std::string, int> counts_;
  std::vector<Call> calls_;
  int liveObjects_ = 0;
  int outstandingInfo_ = 0;
  vss::BackupComponentsFactory previousFactory_;
};

std::string text(const std::u16string& value);
std::string text(const vss::Guid& value);

}  // namespace frostcap::test
