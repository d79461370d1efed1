#pragma once

// The parts of a shadow copy that depend on the host system: where copies go,
// which processes still run, and how files and trees are made. Each system
// has its own file.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace frostcap::simulator {

struct CopyFolder {
  std::filesystem::path path;
  // Whether the system looks up the device name \\?\GLOBALROOT\Device\NAME as
  // the directory NAME of this folder, so that copies are named as devices.
  bool devices = false;
};

// The folder for new copies, made when missing. Throws
// std::filesystem::filesystem_error.
CopyFolder copyFolder();

// Runs `work` while no other process claims or removes copies in `folder`
// where that could meet a claim of the same name. Throws
// std::filesystem::filesystem_error when the lock cannot be had.
void withCopyFolderLocked(const std::filesystem::path& folder, const std::function<void()>& work);

// This process's id, which a marker names for whoever reads it: only the
// marker's lock tells whether its owner still holds the copy.
std::uint32_t currentProcessId();

// A copy's marker, held open and locked for as long as the copy exists. The
// lock, not the process id written in it, says that the copy has an owner:
// it holds across PID namespaces that share the folder, and it ends with the
// owner however the owner ends, so a reused process id keeps nothing alive.
class MarkerLock {
 public:
  // Creates `path` as a new marker holding `content`, and locks it; nothing
  // when something of that name exists already. Throws
  // std::filesystem::filesystem_error otherwise, leaving nothing behind.
  static std::optional<MarkerLock> create(const std::filesystem::path& path,
                                          std::string_view content);
  // Locks the marker at `path` when no owner holds it: a copy left behind.
  // Nothing when it is held, or is anything but a regular file of this user
  // (a link, a pipe, a device), or cannot be opened: it is then left alone.
  // Never follows a link and never waits.
  static std::optional<MarkerLock> takeAbandoned(const std::filesystem::path& path) noexcept;

  MarkerLock(MarkerLock&& other) noexcept;
  MarkerLock& operator=(MarkerLock&&) = delete;
  MarkerLock(const MarkerLock&) = delete;
  ~MarkerLock();

  // The first bytes of the marker, at most kMaxContent of them.
  static constexpr std::size_t kMaxContent = 64;
  std::string content() const;
  // Removes the marker at `path`, the one this object holds, while it still
  // holds it; the lock ends with the object.
  void remove(const std::filesystem::path& path) noexcept;

 private:
  explicit MarkerLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;  // a file descriptor, or a HANDLE
};
// Creates `path` as a new directory, readable by this user only where the
// system has such permissions; false when something of that name exists
// already. Throws std::filesystem::filesystem_error otherwise.
bool createNewDirectory(const std::filesystem::path& path);

// Copies the tree below `source` into the empty directory `copy`. The copy and
// its `marker` may lie inside that tree; they are left out. Throws
// std::filesystem::filesystem_error.
void copyVolumeTree(const std::filesystem::path& source, const std::filesystem::path& copy,
                    const std::filesystem::path& marker);

}  // namespace frostcap::simulator
