#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.

#include "simulator/volume_names.h"

namespace frostcap::simulator {

// Under Wine the prefix's drives have GUID paths of their own, which
// requesters ask the system for (GetVolumeNameForVolumeMountPointW) and then
// hand to the service: the model must know a scenario's C:\ by them.
std::optional<std::u16string> systemVolumeGuidPath(std::u16string_view mountPoint) {
  if (mountPoint.empty() || mountPoint.back() != u'\\') return std::nullopt;
  const std::wstring point(mountPoint.begin(), mountPoint.end());
  wchar_t name[64] = {};  // \\?\Volume{GUID}\ is 49 characters
  if (!GetVolumeNameForVolumeMountPointW(point.c_str(), name, 64)) return std::nullopt;
  const std::wstring found(name);
  return std::u16string(found.begin(), found.end());
}

}  // namespace frostcap::simulator
