#pragma once

// The environment of the command run while the shadow copies exist.

#include <string>
#include <utility>
#include <vector>

namespace frostcap::cli {

// `inherited` ("NAME=VALUE" entries) without any variable the command sets
// itself, FROSTCAP_MOUNT_PATHS and FROSTCAP_MOUNT_PATH_n and
// FROSTCAP_SNAPSHOT_DIR_n whatever n, and FROSTCAP_TRACE, then `own`. An
// outer snapshot's values or stale exported ones would otherwise reach the
// command, and a search of the environment may find them first; the trace
// belongs to this run's library, and a child that traces into the same file
// would mix another run's calls into it. Names are compared without regard to
// case, as Windows compares them.
std::vector<std::string> childEnvironment(
    const std::vector<std::string>& inherited,
    const std::vector<std::pair<std::string, std::string>>& own);

}  // namespace frostcap::cli
