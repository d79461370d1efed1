#pragma once

// Where the directory search looks for a directory the library names, in the
// builds that simulate the service. The library writes Windows paths (C:\Data\,
// shadow copy device names), and without a resolver each half hands them to its
// system as they are, the POSIX half only turning backslashes into slashes. A
// resolver installed here maps such names to other host directories, so that
// the simulated service can keep volumes and shadow copies wherever it likes.
// The shipped library does not contain this file: its search opens every
// directory as named (see mapped_directory.h).

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace frostcap::platform {

// Gets a directory in the library's form, ending in its separator (e.g.
// C:\Data\), and returns the host path of that directory in UTF-8, or nothing
// to leave the name as it is. Called from any thread that searches; it must
// not throw.
using PathResolver = std::function<std::optional<std::string>(std::u16string_view libraryPath)>;

// Installs `resolver` for the whole process and returns the one it replaces;
// an empty function restores the default.
PathResolver setPathResolver(PathResolver resolver);

}  // namespace frostcap::platform
