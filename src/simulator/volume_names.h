#pragma once

// How the simulated service compares the names of volumes and shadow copies
// with the paths it is given. Windows compares them without regard to case
// and takes either slash as a separator; names may also be host paths with
// forward slashes, as when a host names a directory to copy.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace frostcap::simulator {

// The name as AddToSnapshotSet compares it: separators unified, ASCII letters
// folded, trailing separators dropped (so C:\ and c: are the same volume).
std::u16string volumeKey(std::u16string_view name);

// When `path` is `name` or lies below it, the rest of the path after the name
// and its separators (empty for the name itself); nothing otherwise.
std::optional<std::u16string_view> pathBelow(std::u16string_view path, std::u16string_view name);

// Whether `name` is written as AddToSnapshotSet requires: with its trailing
// backslash (or a slash, which Windows takes for one), or exactly as the
// scenario writes the volume's own name (`scenarioName`), as hosts name the
// host directories the model takes for volumes.
bool hasVolumeNameForm(std::u16string_view name, std::u16string_view scenarioName);

// The volume GUID path the system gives for a mount point (a drive letter or
// mounted folder with its trailing backslash); nothing where the system does
// not know it, and always nothing where the system is not Windows.
std::optional<std::u16string> systemVolumeGuidPath(std::u16string_view mountPoint);
// The volume GUID path the model makes up for its n-th volume the system does
// not know.
std::u16string madeUpVolumeGuidPath(std::uint32_t n);

}  // namespace frostcap::simulator
