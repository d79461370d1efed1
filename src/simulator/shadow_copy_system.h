#pragma once

// The parts of a shadow copy that depend on the host system: where copies go,
// which processes still run, and how files and trees are made. Each system
// has its own file.

#include <cstdint>
#include <filesystem>
#include <functional>
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

// This process's id, as owner markers hold it.
std::uint32_t currentProcessId();
// Whether the process with that id still runs. A process the system will not
// tell about counts as running, so that its copies are kept.
bool processRunning(std::uint32_t id);

// Creates `path` as a new file holding `content`; false when something of that
// name exists already. Throws std::filesystem::filesystem_error otherwise,
// leaving nothing behind.
bool createNewFile(const std::filesystem::path& path, std::string_view content);

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
