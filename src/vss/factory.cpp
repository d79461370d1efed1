#include "vss/factory.h"

#include <utility>

namespace frostcap::vss {
namespace {

constexpr Status kNotImplemented = static_cast<Status>(0x80004001);  // E_NOTIMPL

BackupComponentsFactory& installedFactory() {
  static BackupComponentsFactory factory;
  return factory;
}

}  // namespace

Status createBackupComponents(std::unique_ptr<BackupComponents>& out) {
  const BackupComponentsFactory& factory = installedFactory();
  if (!factory) return kNotImplemented;
  return factory(out);
}

BackupComponentsFactory setBackupComponentsFactory(BackupComponentsFactory factory) {
  return std::exchange(installedFactory(), std::move(factory));
}

}  // namespace frostcap::vss
