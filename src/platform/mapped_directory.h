#pragma once

// Where the directory search opens a directory that the library names, such as
// C:\Data\ or a shadow copy's device name. One of two definitions is linked:
// the shipped library opens every directory as it is named
// (named_directories.cpp), with nothing to look up and no lock to take; the
// static core that tests and tools link, the simulated service and
// frostcap-sim ask the process's path resolver first (path_resolver.cpp), so
// that the simulated service can keep volumes and shadow copies wherever it
// likes.

#include <optional>
#include <string>
#include <string_view>

namespace frostcap::platform {

// Gets a directory in the library's form, ending in its separator, and returns
// the host directory (UTF-8) that stands for it, or nothing to open it as
// named. Never throws.
std::optional<std::string> mappedDirectory(std::u16string_view libraryPath) noexcept;

}  // namespace frostcap::platform
