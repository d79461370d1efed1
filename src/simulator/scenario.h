#pragma once

// What a scenario file describes: the volumes, the writers with everything
// the service reports about them, and the calls that are to fail. The file
// format is described in scenario.cpp, beside the code that reads it.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/simulation.h"
#include "status/status.h"
#include "vss/seam.h"

namespace frostcap::simulator {

struct FileSpec {
  std::optional<std::u16string> path;  // nothing: a descriptor without a path
  std::u16string filespec;
  bool recursive = false;
  std::u16string alternateLocation{};  // where the files go at restore, if elsewhere
};

// How a writer's data is restored (IVssExamineWriterMetadata::GetRestoreMethod).
struct RestoreMethodSpec {
  std::uint32_t method = 0;         // VSS_RESTOREMETHOD_ENUM
  std::u16string service;           // the service to stop, for VSS_RME_STOP_RESTORE_START
  std::u16string userProcedure;     // what the user must do, for VSS_RME_CUSTOM
  std::uint32_t writerRestore = 0;  // VSS_WRITERRESTORE_ENUM
  bool rebootRequired = false;
};

struct ComponentSpec {
  std::uint32_t type = 0;
  std::u16string logicalPath;
  std::u16string name;
  bool selectable = true;
  std::vector<FileSpec> files;
  std::vector<FileSpec> databases;
  std::vector<FileSpec> logs;
};

// A component the writer reports as failed after a partial failure.
struct FailedComponentSpec {
  std::u16string name;
  vss::ComponentFailure failure;
};

struct WriterSpec {
  vss::Guid classId;
  vss::Guid instanceId;
  std::u16string name;
  Status status = 0;       // the failure GetWriterStatus reports
  std::int32_t state = 0;  // the writer state GetWriterStatus reports
  std::vector<ComponentSpec> components;
  std::vector<FileSpec> excludes;
  std::vector<FailedComponentSpec> failedComponents;
  std::optional<RestoreMethodSpec> restoreMethod{};  // nothing: the writer declares none
  std::vector<FileSpec> alternateLocations{};        // the alternate location mappings
  std::uint32_t backupSchema = 0;                    // VSS_BACKUP_SCHEMA flags
};

// What a planned call does instead of answering: for the library's own tests,
// which must show that nothing escapes it, a call can also throw.
enum class Throw { kNothing, kBadAlloc, kStandard, kNonStandard };

// The occurrence-th call (1-based) of `call` answers `status`, or throws,
// after `delay`; occurrence kEveryOccurrence makes every call of that name do
// so, unless a fault for its own occurrence says otherwise.
struct FaultSpec {
  static constexpr int kEveryOccurrence = 0;
  std::string call;
  Status status = 0;
  int occurrence = 1;
  Throw thrown = Throw::kNothing;
  std::chrono::milliseconds delay{0};
};

struct Scenario {
  std::vector<Volume> volumes;
  std::vector<WriterSpec> writers;
  std::vector<FaultSpec> faults;
  // Refuse, as a real server may, what the backup never prepared: writer
  // status where no writer metadata was gathered, and the mark of a
  // component never added.
  bool refuseUnprepared = false;
};

// Reads a scenario from JSON text; `source` names it in error messages and
// relative volume directories are taken from `baseDirectory`. Throws
// ScenarioError.
Scenario parseScenario(std::string_view text, const std::string& source,
                       const std::filesystem::path& baseDirectory);

// Reads a scenario file. Throws ScenarioError.
Scenario readScenario(const std::filesystem::path& file);

}  // namespace frostcap::simulator
