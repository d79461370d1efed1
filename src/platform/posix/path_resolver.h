#pragma once

// Where the POSIX directory search looks for a directory the library names.
// The library writes Windows paths (C:\Data\, shadow copy device names); by
// default only the backslashes are turned into slashes, which is enough for
// paths that already are host paths. A resolver installed here maps the other
// names to host directories, so that the simulated service can put volumes
// and shadow copies wherever it keeps them.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace frostcap::platform {

// Gets a directory in the library's form, ending in its separator (e.g.
// C:\Data\), and returns the host path of that directory, or nothing to leave
// it to the default conversion. Called from any thread that searches; it must
// not throw.
using PathResolver = std::function<std::optional<std::string>(std::u16string_view libraryPath)>;

// Installs `resolver` for the whole process and returns the one it replaces;
// an empty function restores the default.
PathResolver setPathResolver(PathResolver resolver);

// The host path for a directory in the library's form: the resolver's answer
// when it gives one, otherwise the path in UTF-8 with backslashes turned into
// slashes.
std::string hostDirectory(std::u16string_view libraryPath);

}  // namespace frostcap::platform
