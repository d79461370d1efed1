#pragma once

// `frostcap doctor`: what an operator checks before the first backup. The
// operating system's side comes from system.h; the trial goes through the
// library like any host.

#include <string>

#include "api.h"
#include "system.h"

namespace frostcap::cli {

// A volume-only snapshot of `volume`, released at once with verdict 0. `raw`
// keeps the library's message tokens instead of their English rendering.
Check volumeTrial(const Api& api, const std::string& volume, bool raw);

// "<verdict>  <name>: <finding> -> <advice>", one line.
std::string checkLine(const Check& check);

const char* verdictName(Verdict verdict);

}  // namespace frostcap::cli
