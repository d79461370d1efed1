#pragma once

// Directories of many empty files for the inventory benchmarks. Each size is
// created once and kept: later runs find it and reuse it, so only the first
// run pays for the files.

#include <cstddef>
#include <string>

namespace frostcap::bench {

// Where the directories live: $FROSTCAP_BENCH_DATA when set, otherwise the
// folder the build chose.
std::string benchDataRoot();

// The path (no trailing slash) of a directory holding exactly `count` empty
// files, created under benchDataRoot() if it is not there yet. Empty when it
// cannot be created; `error` then says why.
std::string populatedDirectory(std::size_t count, std::string& error);

// The name of the index-th file, as the directory holds it.
std::string populatedFileName(std::size_t index);

}  // namespace frostcap::bench
