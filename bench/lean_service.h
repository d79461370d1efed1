#pragma once

// A lean in-memory shadow copy service for the benchmarks. It answers every
// call from plain data and records nothing, so the figures show the library's
// own cost rather than a model's bookkeeping. Objects it hands out
// point into the writers' data, which must outlive them.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "status/status.h"
#include "vss/factory.h"
#include "vss/seam.h"

namespace frostcap::bench {

struct LeanFile {
  std::optional<std::u16string> path;
  std::u16string filespec;
  bool recursive = false;
};

struct LeanComponent {
  std::uint32_t type = 2;  // file group
  std::u16string logicalPath;
  std::u16string name;
  bool selectable = true;
  std::vector<LeanFile> files;
};

struct LeanWriter {
  vss::Guid classId;
  vss::Guid instanceId;
  std::vector<LeanComponent> components;
  std::vector<LeanFile> excludes;
};

using LeanWriters = std::vector<LeanWriter>;

// A backup-components object over `writers`; every operation succeeds.
std::unique_ptr<vss::BackupComponents> makeLeanBackupComponents(
    std::shared_ptr<const LeanWriters> writers);

// Installs a factory that makes lean objects over `writers` for as long as it
// lives, and restores the previous factory when it goes.
class LeanFactoryScope {
 public:
  explicit LeanFactoryScope(std::shared_ptr<const LeanWriters> writers);
  ~LeanFactoryScope();
  LeanFactoryScope(const LeanFactoryScope&) = delete;
  LeanFactoryScope& operator=(const LeanFactoryScope&) = delete;

 private:
  vss::BackupComponentsFactory previous_;
};

// A class id that differs for every `seed`.
vss::Guid benchGuid(std::uint32_t seed);

}  // namespace frostcap::bench
