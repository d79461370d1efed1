#pragma once

// The shadow copies one run of the model knows: those its backup-components
// objects made and that still exist, and the persistent copies that any run
// left in the model's copy folder. Query lists them, GetSnapshotProperties
// describes them and DeleteSnapshots ends them, whichever object asks.
//
// A copy of a persistent context outlives the object and the process that
// made it, as on Windows: its files stay in the copy folder with a
// description beside them (the copy's name followed by ".snapshot"), and its
// owner marker names no process, so that no process's end removes it. Every
// run that uses the same copy folder (under Wine the prefix, natively the
// temporary directory) finds it there, until DeleteSnapshots ends it.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace frostcap::simulator {

class ShadowCopy;

// What the service tells about a shadow copy (VSS_SNAPSHOT_PROP).
struct SnapshotProperties {
  platform::Guid id;
  platform::Guid setId;
  std::int32_t context = 0;         // the context it was made in
  std::int32_t attributes = 0;      // VSS_VOLSNAP_ATTR_* of that context
  std::int32_t setCount = 1;        // copies in its set
  std::u16string volumeName;        // the original volume's GUID path
  std::u16string device;            // \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN
  std::int64_t created = 0;         // VSS_TIMESTAMP: 100 ns units since 1601
  std::filesystem::path directory;  // where its files are; empty for a copy in name only
};

// VSS_VOLSNAP_ATTR_PERSISTENT: the copy outlives its backup-components object.
constexpr std::int32_t kPersistentAttribute = 0x01;

// The time now as a VSS_TIMESTAMP.
std::int64_t timestampNow();

class SnapshotStore {
 public:
  SnapshotStore();
  ~SnapshotStore();
  SnapshotStore(const SnapshotStore&) = delete;
  SnapshotStore& operator=(const SnapshotStore&) = delete;

  // A copy that now exists, with the object that holds its files (none for a
  // copy in name only). A persistent one (made with CopyOptions::persistent)
  // is handed over to the copy folder, described beside its files.
  void add(const SnapshotProperties& properties, std::unique_ptr<ShadowCopy> copy);
  // Ends a copy: its files go. False when no copy has that id.
  bool remove(const platform::Guid& id);

  // Every copy this run made that exists, then the persistent copies other
  // runs left in the copy folder, in the order they were made.
  std::vector<SnapshotProperties> list() const;
  std::optional<SnapshotProperties> find(const platform::Guid& id) const;

  // Whether an id or a device name is taken by a copy that exists, here or
  // in the copy folder: new ones must differ.
  bool idTaken(const platform::Guid& id) const;
  bool deviceTaken(const std::u16string& device) const;

 private:
  struct Entry {
    SnapshotProperties properties;
    std::unique_ptr<ShadowCopy> copy;
  };
  std::vector<SnapshotProperties> leftInFolder() const;

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace frostcap::simulator
