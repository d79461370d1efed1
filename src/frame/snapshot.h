#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frame/component_record.h"
#include "frame/string_queue.h"
#include "platform/platform.h"
#include "vss/constants.h"
#include "vss/seam.h"

namespace frostcap {

// Backup type passed to the service when writers are selected unless the host
// sets another.
inline constexpr std::uint32_t kDefaultBackupType = vss::kBackupTypeIncremental;

// The operating system's own software shadow-copy provider.
inline constexpr platform::Guid kSystemProviderId = {
    0xb5946137, 0x7b9f, 0x4925, {0xaf, 0x80, 0x51, 0xab, 0xd6, 0x0b, 0x20, 0xd5}};

// Everything one backup owns, from configuration to release. Members are
// destroyed in reverse order, the service object last of all, after the
// explicit release that frostcap_snapshot_free makes first.
struct Snapshot {
  std::unique_ptr<vss::BackupComponents> backupComponents;
  std::vector<std::u16string> volumePaths;
  // Keyed by writer id; std::u16string orders by unsigned code units, which is
  // the order in which writers are walked and paired with the service's.
  std::map<std::u16string, std::vector<ComponentRecord>> writerSelections;
  std::vector<platform::Guid> writerClassIds;
  std::vector<platform::Guid> writerInstanceIds;
  std::uint32_t backupType = kDefaultBackupType;
  std::vector<std::u16string> shadowDevices;  // non-empty: this handle made its snapshot
  StringQueue mountPaths;
  StringQueue messages;
  StringQueue writerFileInfo;
  StringQueue writerExcludedFileInfo;
  std::map<std::uint64_t, std::vector<ComponentRecord>> writerCatalogue;
  StringQueue writerComponents;
  platform::Guid providerId;  // all zero: the service chooses
  // Which writer each catalogued metadata entry belongs to, keyed like
  // writerCatalogue; an entry whose identity the service did not give has
  // none, and writers then pair with entries by position.
  std::map<std::uint64_t, vss::WriterIdentity> writerIdentities;
  // The instance each selection was added for, parallel to its writer's list
  // in writerSelections: a writer class may run as several instances, each
  // holding components of its own.
  std::map<std::u16string, std::vector<platform::Guid>> selectionInstances;
};

}  // namespace frostcap

// The handle the exported functions hand out: the host sees only a pointer.
struct frostcap_snapshot {
  frostcap::Snapshot state;
};
