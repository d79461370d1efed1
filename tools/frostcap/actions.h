#pragma once

// What the command does once its command line is read: each action drives
// the library through one or more snapshot handles and reports what happened.

#include "api.h"
#include "command_line.h"
#include "report.h"
#include "service.h"

namespace frostcap::cli {

// `writers` and `files`: the live system's components and files.
int listLive(const Api& api, const Command& command, Report& report);

// `snapshot`: takes the shadow copies, holds them or runs the --exec command
// while they exist, and frees the handle with the verdict.
int takeSnapshot(const Api& api, const Command& command, const Service& service, Report& report);

// Selects what the command names on a session: volumes, writers and their
// components, the backup type and the provider.
void configure(Session& session, const Command& command);

// Says which backup type the writers are told.
void reportBackupType(Report& report, const Command& command);

}  // namespace frostcap::cli
