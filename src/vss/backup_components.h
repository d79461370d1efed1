#pragma once

namespace frostcap::vss {

// The service's backup-components object: the requester's handle on one backup.
// Destroying it releases it, which ends the backup's shadow copies.
class BackupComponents {
 public:
  virtual ~BackupComponents() = default;
};

}  // namespace frostcap::vss
