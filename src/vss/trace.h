#pragma once

// The trace: when it is on, every call the library makes to the service is
// appended to a file as one JSON line (the call and its arguments as the
// model's record writes them, the status, what the call handed back and how
// long it took), so that a run on a real server can come back as evidence.
// Objects made while it is off are not wrapped at all.

#include <memory>
#include <string>

#include "status/status.h"
#include "vss/seam.h"

namespace frostcap::vss {

// Starts tracing into the file `path` names, with the run's header line;
// false, and the trace stays off, when the file cannot be opened (a link at
// the name is refused). Replaces a trace already on.
bool startTrace(const std::u16string& path);

// Starts tracing into the file FROSTCAP_TRACE names, if it names one.
void startTraceFromEnvironment();

// Objects made from now on are not traced; those made before keep their file
// until they go.
void stopTrace();

// Whether an object made now is traced.
bool traceOn() noexcept;

// Makes a backup-components object with `create`, tracing the creation and
// every call to the object and to every object it hands out. Untraced when
// the trace went off meanwhile.
Status createTraced(Status (*create)(std::unique_ptr<BackupComponents>&),
                    std::unique_ptr<BackupComponents>& out);

}  // namespace frostcap::vss
