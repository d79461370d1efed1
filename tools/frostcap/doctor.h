#pragma once

// `frostcap doctor`: what an operator checks before the first backup. The
// operating system's side comes from system.h; the trial goes through the
// library like any host.

#include <string>

#include "api.h"
#include "command_line.h"
#include "report.h"
#include "system.h"

namespace frostcap::cli {

// A volume-only snapshot of `volume`, released at once with verdict 0. `raw`
// keeps the library's message tokens instead of their English rendering.
// A copy without a device path fails it: nothing could read that copy.
Check volumeTrial(const Api& api, const std::string& volume, bool raw);

// `frostcap doctor`: the checks of the operating system, the process's COM
// set-up, and a trial snapshot of the volume given, whose failure is named
// from the field environments when it is one of them. Exit 0 only when all
// pass; 5 when the trial outlasted --timeout. `simulated`: the trial meets the
// simulated service, which says nothing of this machine's.
int runDoctor(const Command& command, const HostSetup& host, const ApiLoad& load, bool simulated,
              Report& report);

// "<verdict>  <name>: <finding> -> <advice>", one line.
std::string checkLine(const Check& check);

const char* verdictName(Verdict verdict);

}  // namespace frostcap::cli
