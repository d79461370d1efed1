#include "backup/snapshot_set.h"

#include "frame/messages.h"

namespace frostcap {

StepResult createSnapshotSet(Snapshot& /*snapshot*/) {
  return StepResult::failure(std::u16string(messages::kNotImplemented));
}

void queueMountPaths(Snapshot& snapshot) {
  for (const std::u16string& device : snapshot.shadowDevices) {
    if (device.empty()) continue;
    std::u16string mountPath = device;
    if (mountPath.back() != u'\\') mountPath.push_back(u'\\');
    snapshot.mountPaths.append(std::move(mountPath));
  }
}

}  // namespace frostcap
