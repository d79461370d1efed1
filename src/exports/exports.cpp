// The nineteen exported functions. Each is a thin door: it converts the host's
// strings, hands the handle to the routine that does the work, and makes sure
// that no exception reaches the host. The perform functions, free and the two
// load functions run their inner routine under the reporting guard, so that an
// exception there becomes the routine's message; elsewhere an exception can
// only be memory exhaustion, which is not reported (there is no memory to
// report it with) and leaves the handle as it was before the failed step.

#include "frostcap.h"

#include <cstdlib>
#include <ctime>
#include <string>

#include "backup/completion.h"
#include "backup/preparation.h"
#include "backup/snapshot_set.h"
#include "catalogue/catalogue.h"
#include "frame/guard.h"
#include "frame/messages.h"
#include "frame/snapshot.h"
#include "inventory/inventory.h"
#include "platform/platform.h"
#include "selection/selection.h"
#include "vss/factory.h"
#include "vss/trace.h"

static_assert(sizeof(frostcap_char) == sizeof(char16_t), "the interface speaks UTF-16");

namespace {

using frostcap::Snapshot;
using frostcap::StepResult;
namespace messages = frostcap::messages;

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

// A null string from the host is taken as the empty string.
std::u16string fromHost(const frostcap_char* text) {
  return text != nullptr ? std::u16string(reinterpret_cast<const char16_t*>(text))
                         : std::u16string();
}

const frostcap_char* toHost(const char16_t* text) {
  return reinterpret_cast<const frostcap_char*>(text);
}

// Runs `body` on the handle's state unless the handle is null; an exception
// ends the call with `fallback`.
template <typename Result, typename Body>
Result withSnapshot(frostcap_snapshot* handle, Result fallback, Body&& body) noexcept {
  if (handle == nullptr) return fallback;
  try {
    return body(handle->state);
  } catch (...) {
    return fallback;
  }
}

template <typename Body>
void withSnapshot(frostcap_snapshot* handle, Body&& body) noexcept {
  withSnapshot(handle, 0, [&](Snapshot& snapshot) {
    body(snapshot);
    return 0;
  });
}

// Queues the failure of a phase's inner routine and gives the phase's result.
int reportPhase(Snapshot& snapshot, const StepResult& result) {
  if (result.ok) return kSuccess;
  snapshot.messages.append(messages::takeSnapshotFailed(result.text));
  return kFailure;
}

bool refuseReuse(Snapshot& snapshot) {
  if (snapshot.shadowDevices.empty()) return false;
  snapshot.messages.append(std::u16string(messages::kSnapshotReuse));
  return true;
}

const frostcap_char* readNext(frostcap_snapshot* handle, frostcap::StringQueue Snapshot::*queue,
                              size_t* length) noexcept {
  static constexpr char16_t kEmpty[] = u"";
  if (handle == nullptr) {
    if (length != nullptr) *length = 0;
    return toHost(kEmpty);
  }
  return toHost((handle->state.*queue).readNext(length));
}

void addComponent(frostcap_snapshot* handle, std::uint32_t componentType,
                  const frostcap_char* writerId, const frostcap_char* logicalPath,
                  const frostcap_char* componentName, const frostcap_char* fallbackLogicalPath) {
  withSnapshot(handle, [&](Snapshot& snapshot) {
    frostcap::addWriterComponent(snapshot, fromHost(writerId),
                                 {componentType, fromHost(logicalPath), fromHost(componentName),
                                  fromHost(fallbackLogicalPath)});
  });
}

}  // namespace

extern "C" {

FROSTCAP_API void frostcap_library_init(void) {
  // A plain flag: the host makes its first call before other threads use the
  // library, and COM is initialised only on that first thread.
  static bool initialised = false;
  if (initialised) return;
  initialised = true;
  frostcap::platform::initialiseCom();
  frostcap::vss::startTraceFromEnvironment();
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  frostcap::platform::clearLastError();
}

FROSTCAP_API int frostcap_pathIsNetworkPath(const frostcap_char* path) {
  return frostcap::platform::isNetworkPath(reinterpret_cast<const char16_t*>(path)) ? 0 : 1;
}

FROSTCAP_API frostcap_snapshot* frostcap_snapshot_new(void) {
  try {
    return new frostcap_snapshot{};
  } catch (...) {
    return nullptr;
  }
}

FROSTCAP_API void frostcap_snapshot_addVolumePath(frostcap_snapshot* handle,
                                                  const frostcap_char* volumePath) {
  withSnapshot(handle,
               [&](Snapshot& snapshot) { snapshot.volumePaths.push_back(fromHost(volumePath)); });
}

FROSTCAP_API void frostcap_snapshot_addWriter(frostcap_snapshot* handle,
                                              const frostcap_char* writerId) {
  withSnapshot(handle,
               [&](Snapshot& snapshot) { frostcap::addWriter(snapshot, fromHost(writerId)); });
}

FROSTCAP_API void frostcap_snapshot_addWriterDatabaseComponentFallback(
    frostcap_snapshot* handle, const frostcap_char* writerId, const frostcap_char* logicalPath,
    const frostcap_char* componentName, const frostcap_char* fallbackLogicalPath) {
  addComponent(handle, frostcap::vss::kComponentTypeDatabase, writerId, logicalPath, componentName,
               fallbackLogicalPath);
}

FROSTCAP_API void frostcap_snapshot_addWriterFilegroupComponentFallback(
    frostcap_snapshot* handle, const frostcap_char* writerId, const frostcap_char* logicalPath,
    const frostcap_char* componentName, const frostcap_char* fallbackLogicalPath) {
  addComponent(handle, frostcap::vss::kComponentTypeFilegroup, writerId, logicalPath, componentName,
               fallbackLogicalPath);
}

FROSTCAP_API void frostcap_snapshot_setIncrementalMode(frostcap_snapshot* handle,
                                                       unsigned int mode) {
  withSnapshot(handle, [&](Snapshot& snapshot) { snapshot.backupType = mode; });
}

FROSTCAP_API void frostcap_snapshot_setUseSystemProvider(frostcap_snapshot* handle) {
  withSnapshot(handle,
               [](Snapshot& snapshot) { snapshot.providerId = frostcap::kSystemProviderId; });
}

FROSTCAP_API int frostcap_snapshot_perform_a(frostcap_snapshot* handle) {
  return withSnapshot(handle, kFailure, [](Snapshot& snapshot) {
    if (refuseReuse(snapshot)) return kFailure;
    // A repeated preparation starts over with a new object; the old one is
    // released first so that the service never holds two backups of ours.
    frostcap::forgetPreparation(snapshot);
    // An exception from the creation (memory exhaustion in an adapter) is
    // reported as one from the phase would be, so that a failed preparation
    // always leaves a message.
    frostcap::Status status = 0;
    const StepResult created = frostcap::runGuarded([&] {
      status = frostcap::vss::createBackupComponents(snapshot.backupComponents);
      return StepResult::success();
    });
    if (!created.ok) return reportPhase(snapshot, created);
    if (frostcap::failed(status)) {
      snapshot.messages.append(messages::initVssFailed(status));
      return kFailure;
    }
    return reportPhase(snapshot,
                       frostcap::runGuarded([&] { return frostcap::preparePhase(snapshot); }));
  });
}

FROSTCAP_API void frostcap_snapshot_loadWriterComponents(frostcap_snapshot* handle) {
  withSnapshot(handle, [](Snapshot& snapshot) { frostcap::loadWriterComponentsGuarded(snapshot); });
}

FROSTCAP_API void frostcap_snapshot_loadWriterFileInfo(frostcap_snapshot* handle) {
  withSnapshot(handle, [](Snapshot& snapshot) { frostcap::loadWriterFileInfo(snapshot); });
}

FROSTCAP_API int frostcap_snapshot_perform_b(frostcap_snapshot* handle) {
  return withSnapshot(handle, kFailure, [](Snapshot& snapshot) {
    if (refuseReuse(snapshot)) return kFailure;
    if (snapshot.volumePaths.empty() && snapshot.selectedWriters.empty()) {
      snapshot.messages.append(std::u16string(messages::kNoVolumes));
      return kFailure;
    }
    // Without a successful preparation there is no service object to ask.
    if (!snapshot.backupComponents) {
      snapshot.messages.append(messages::takeSnapshotFailed(messages::kNotReady));
      return kFailure;
    }
    const int result = reportPhase(
        snapshot, frostcap::runGuarded([&] { return frostcap::createSnapshotSet(snapshot); }));
    if (result == kSuccess) frostcap::queueMountPaths(snapshot);
    return result;
  });
}

FROSTCAP_API const frostcap_char* frostcap_snapshot_getNextMessage(frostcap_snapshot* handle,
                                                                   size_t* length) {
  return readNext(handle, &Snapshot::messages, length);
}

FROSTCAP_API const frostcap_char* frostcap_snapshot_getNextMountPath(frostcap_snapshot* handle,
                                                                     size_t* length) {
  return readNext(handle, &Snapshot::mountPaths, length);
}

FROSTCAP_API const frostcap_char* frostcap_snapshot_getNextWriterComponent(
    frostcap_snapshot* handle, size_t* length) {
  return readNext(handle, &Snapshot::writerComponents, length);
}

FROSTCAP_API const frostcap_char* frostcap_snapshot_getNextWriterFileInfo(frostcap_snapshot* handle,
                                                                          size_t* length) {
  return readNext(handle, &Snapshot::writerFileInfo, length);
}

FROSTCAP_API const frostcap_char* frostcap_snapshot_getNextWriterExcludedFileInfo(
    frostcap_snapshot* handle, size_t* length) {
  return readNext(handle, &Snapshot::writerExcludedFileInfo, length);
}

FROSTCAP_API void frostcap_snapshot_free(frostcap_snapshot* handle, int verdict) {
  if (handle == nullptr) return;
  Snapshot& snapshot = handle->state;
  // Nobody is left to read the completion's outcome: the messages it might
  // queue are destroyed with the handle below.
  frostcap::runGuarded([&] { return frostcap::completeBackup(snapshot, verdict == 1); });
  snapshot.backupComponents.reset();
  delete handle;
}

}  // extern "C"
