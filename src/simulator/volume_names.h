#pragma once

// How the simulated service compares the names of volumes and shadow copies
// with the paths it is given. Windows compares them without regard to case
// and takes either slash as a separator; names may also be host paths with
// forward slashes, as when a host names a directory to copy.

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

}  // namespace frostcap::simulator
