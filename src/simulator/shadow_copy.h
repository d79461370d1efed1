#pragma once

// A point-in-time copy of a directory tree, standing in for a shadow copy of
// a volume: made at once into a fresh temporary directory, removed with the
// object. Files are cloned where the file system can share their blocks and
// copied where it cannot; sockets, pipes and devices are left out, as they
// hold no data to back up. On POSIX systems symbolic links stay links and,
// like a snapshot of a volume, the copy stops at other file systems mounted
// inside the tree.

#include <filesystem>
#include <string>

namespace frostcap::simulator {

class ShadowCopy {
 public:
  // Copies `source`; `label` goes into the temporary directory's name. Throws
  // std::filesystem::filesystem_error when the tree cannot be read or written,
  // leaving nothing behind.
  ShadowCopy(const std::filesystem::path& source, const std::string& label);
  ~ShadowCopy();
  ShadowCopy(const ShadowCopy&) = delete;
  ShadowCopy& operator=(const ShadowCopy&) = delete;

  const std::filesystem::path& directory() const { return directory_; }

 private:
  std::filesystem::path directory_;
};

}  // namespace frostcap::simulator
