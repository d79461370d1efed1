#pragma once

#include <cstdint>
#include <string>

#include "frame/snapshot.h"
#include "frame/step_result.h"
#include "frame/string_queue.h"
#include "vss/seam.h"

namespace frostcap {

// Turns one writer file descriptor into file records appended to `target`:
// every entry of the descriptor's directory (environment references
// expanded) that its file specification matches, one level deep, searched
// inside the shadow copy once there is one but recorded under the live path.
// A specification that matches nothing is recorded as it stands.
StepResult expandFileDescriptor(const Snapshot& snapshot, vss::FileDescriptor& descriptor,
                                StringQueue& target);

// The system's text for the calling thread's last error, untrimmed.
std::u16string lastErrorText();

}  // namespace frostcap
