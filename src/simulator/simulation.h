#pragma once

// A simulated shadow copy service: the seam implemented from a scenario, so
// that hosts can be developed and tested where no real service exists.
// Volumes are host directories; taking a snapshot makes a real point-in-time
// copy of each, and releasing the backup removes the copies again.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "status/status.h"

namespace frostcap::simulator {

class ModelBackupComponents;
class ModelWriterMetadata;

// A scenario that cannot be read: the message names the file, the position
// and what was expected there.
class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One volume: its name as hosts give it (e.g. C:\) and the directory behind
// it. A volume without a directory has no files: its shadow copy is a name
// only. `device` replaces the device name the service makes up for its
// shadow copy (empty: a provider that maps no device). `vanishAfter` removes
// each shadow copy of the volume that long after it is made, as the service
// deletes a copy whose storage area filled up.
struct Volume {
  std::u16string name;
  std::filesystem::path directory;
  std::optional<std::u16string> device;
  std::optional<std::chrono::milliseconds> vanishAfter{};
};

// What the service was told that a host or its tests may want to check.
struct RecordEntry {
  std::string call;   // e.g. "SetBackupSucceeded"
  std::string text;   // the call with its arguments, e.g. SetBackupSucceeded(...,true)
  Status status = 0;  // what the service answered the call
};

// What the service handed out and has not got back: objects (each interface
// handed out counts until it is released) and component descriptions not
// handed back with FreeComponentInfo.
struct Ledger {
  int objects = 0;
  int componentInfo = 0;
  bool operator==(const Ledger&) const = default;
};

// An entry as one line of JSON, {"call":...,"text":...}, without the newline:
// the form in which records are written out and handed to hosts. A call
// answered with anything but S_OK adds "status":"0x%08X", so that a record
// compares with a trace of the same run while the lines of calls that
// succeeded stay as they always were.
std::string recordLine(const RecordEntry& entry);

struct Scenario;
struct FaultSpec;

class Simulation {
 public:
  // A scenario built in code, as the library's own tests build theirs.
  static std::unique_ptr<Simulation> fromScenario(Scenario scenario);
  // Reads a scenario file (JSON). Throws ScenarioError.
  static std::unique_ptr<Simulation> fromFile(const std::filesystem::path& scenario);
  // The given volumes and no writers. Throws ScenarioError when a volume's
  // directory is not an existing directory.
  static std::unique_ptr<Simulation> forVolumes(std::vector<Volume> volumes);

  virtual ~Simulation() = default;

  // Makes this simulation the service the library reaches, and the place its
  // directory searches resolve volume and shadow copy names, until it is
  // destroyed.
  virtual void install() = 0;

  // A new backup-components object of this simulation's service, as
  // CreateVssBackupComponents makes one, for a door to the model other than
  // the library's seam (the COM objects of the model's vssapi.dll). Returns
  // the status that call answers; `out` is set only on success.
  virtual Status createBackupComponents(std::unique_ptr<ModelBackupComponents>& out) = 0;
  // A call about a volume outside any backup-components object
  // (IsVolumeSnapshotted, ShouldBlockRevert), recorded as `call`: whether
  // shadow copies of the volume that `volume` names (in any form
  // AddToSnapshotSet takes) exist, of this run or left persistent in the
  // model's copy folder. VSS_E_OBJECT_NOT_FOUND for no such volume.
  virtual Status volumeQuery(const std::string& call, std::u16string_view volume,
                             bool& snapshotted) = 0;
  // CreateVssExamineWriterMetadata: a writer's metadata read from a document
  // that SaveAsXML wrote. VSS_E_INVALID_XML_DOCUMENT for any other text.
  virtual Status examineWriterMetadata(std::u16string_view document,
                                       std::unique_ptr<ModelWriterMetadata>& out) = 0;
  // Adds an entry to the record that is not a call the service received,
  // such as a caller's misuse that a door to the model noticed.
  virtual void note(const std::string& call, std::string text) = 0;

  // Every call the service received, in order, for checking and for writing
  // out (one JSON object per line) when the host asks for it. Besides the
  // calls: "Release" marks the release of a backup-components object,
  // "X.Result" says why an asynchronous operation X failed, "Breach" names a
  // documented rule a call broke, "Assumption" something a call relied on that
  // the documentation leaves open, and "Misuse" an object used wrongly. writeRecord throws
  // std::runtime_error when the file cannot be written.
  virtual const std::vector<RecordEntry>& record() const = 0;
  virtual void writeRecord(const std::filesystem::path& file) const = 0;

  // Adds a fault to the plan, in place of one for the same occurrence.
  virtual void plan(const FaultSpec& fault) = 0;

  // What the service handed out and has not got back.
  virtual Ledger ledger() const = 0;

  // Where the files behind a volume name or a shadow copy's device name (or a
  // path below one) are on this host; nothing for a name it does not know.
  // The command-line host gives it to the command it runs during a snapshot.
  virtual std::optional<std::filesystem::path> hostPath(std::u16string_view path) const = 0;
};

}  // namespace frostcap::simulator
