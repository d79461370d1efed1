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
Check volumeTrial(const Api& api, const std::string& volume, bool raw);

// `frostcap doctor`: the checks of the operating system, the process's COM
// set-up, and a trial snapshot of the volume given. Exit 0 only when all pass.
int runDoctor(const Command& command, const HostSetup& host, const ApiLoad& load, Report& report);

// "<verdict>  <name>: <finding> -> <advice>", one line.
std::string checkLine(const Check& check);

const char* verdictName(Verdict verdict);

}  // namespace frostcap::cli
