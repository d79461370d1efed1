#include "vss/factory.h"

#include <utility>

#include "vss/trace.h"

namespace frostcap::vss {
namespace {

BackupComponentsFactory& installedFactory() {
  static BackupComponentsFactory factory;
  return factory;
}

}  // namespace

Status createBackupComponents(std::unique_ptr<BackupComponents>& out) {
  if (traceOn()) return createTraced(createUntracedBackupComponents, out);
  return createUntracedBackupComponents(out);
}

Status createUntracedBackupComponents(std::unique_ptr<BackupComponents>& out) {
  const BackupComponentsFactory& factory = installedFactory();
  if (!factory) return defaultBackupComponents(out);
  return factory(out);
}

BackupComponentsFactory setBackupComponentsFactory(BackupComponentsFactory factory) {
  return std::exchange(installedFactory(), std::move(factory));
}

}  // namespace frostcap::vss
