#pragma once

// The parts of a shadow copy that depend on the host system: where the copy
// goes and how a tree is copied there. Each system has its own file.

#include <filesystem>
#include <string>

namespace frostcap::simulator {

// Creates a new, empty directory for a copy under the temporary directory,
// with `label` in its name. Throws std::filesystem::filesystem_error.
std::filesystem::path createCopyDirectory(const std::string& label);

// Copies the tree below `source` into the empty directory `copy`. Throws
// std::filesystem::filesystem_error.
void copyVolumeTree(const std::filesystem::path& source, const std::filesystem::path& copy);

}  // namespace frostcap::simulator
