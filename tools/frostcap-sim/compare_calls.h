#pragma once

// Comparing the service calls of two runs, each from a trace or a model
// record: the same calls in the same order, with the same argument texts and
// the same statuses.

#include <string>
#include <string_view>

#include "trace_file.h"

namespace frostcap::replay {

// Entries that are not calls the requester made: a trace's header, what the
// model notes beside the calls, and an asynchronous operation's outcome
// (which a trace shows in the operation's QueryStatus instead).
bool isCallEntry(std::string_view call);

struct Comparison {
  bool agree = false;
  std::string report;  // the first difference, or how many calls agree
};

Comparison compareCalls(const TraceFile& a, const TraceFile& b);

}  // namespace frostcap::replay
