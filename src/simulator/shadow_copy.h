#pragma once

// A point-in-time copy of a directory tree, standing in for a shadow copy of
// a volume: made at once into a fresh directory, removed with the object.
// Files are cloned where the file system can share their blocks and copied
// where it cannot; sockets, pipes and devices are left out, as they hold no
// data to back up. On POSIX systems symbolic links stay links and, like a
// snapshot of a volume, the copy stops at other file systems mounted inside
// the tree.
//
// Like the service's non-persistent shadow copies, a copy ends with the
// process that made it, even one that is killed: beside each copy a marker
// (the copy's name followed by ".owner") holds the owner's process id, and
// making a copy first removes every copy whose owner no longer runs. A
// persistent copy says so in its marker and is never swept: it outlives its
// maker until it is removed by name.
//
// Copies go to the temporary directory, named frostcap-shadow-copyN-<random>.
// Under Wine (a Windows build with WINEPREFIX set) they go instead to the
// prefix's folder through which Wine looks up \\?\GLOBALROOT\Device\ names,
// named HarddiskVolumeShadowCopyN after the lowest N free there, so that the
// device name handed out leads to the copy for any program, the shipped
// library included. On Windows itself the device names of copies in the
// temporary directory lead nowhere; that is fine, as the simulated service is
// meant for Wine and for the simulated builds, whose directory search maps the
// names to the copies itself.

#include <filesystem>
#include <functional>
#include <string>

namespace frostcap::simulator {

// \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN, the name the service
// hands out for shadow copy N.
std::u16string shadowCopyDeviceName(int number);

struct CopyOptions {
  // Numbers whose device names are spoken for elsewhere: never taken.
  std::function<bool(int)> reserved;
  // A copy that outlives this object and its process, as persistent shadow
  // copies do; removed with removePersistent.
  bool persistent = false;
};

class ShadowCopy {
 public:
  // Copies `source` as shadow copy `number` of its simulation (under Wine as
  // the lowest number free and not reserved instead). Throws
  // std::filesystem::filesystem_error when the tree cannot be read or
  // written, leaving nothing behind.
  ShadowCopy(const std::filesystem::path& source, int number, CopyOptions options = {});
  ~ShadowCopy();
  ShadowCopy(const ShadowCopy&) = delete;
  ShadowCopy& operator=(const ShadowCopy&) = delete;

  const std::filesystem::path& directory() const { return directory_; }
  // The name the service hands out: \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN.
  const std::u16string& deviceName() const { return deviceName_; }

  // Leaves a persistent copy in place when this object ends (its creator
  // ending with it). Nothing for any other copy.
  void keep() noexcept;
  // Removes the persistent copy in `directory` and its marker, from any
  // process.
  static void removePersistent(const std::filesystem::path& directory) noexcept;

 private:
  void remove() noexcept;

  std::filesystem::path directory_;
  std::filesystem::path marker_;
  std::u16string deviceName_;
  bool persistent_ = false;
};

}  // namespace frostcap::simulator
