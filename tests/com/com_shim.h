#pragma once

// Real COM objects over the scripted service: each implements a whole SDK
// interface, forwards the calls the library makes to a seam object (the fake
// service's), and answers E_NOTIMPL to the rest. They hand out what the real
// service hands out: BSTRs, description blocks that only their own
// FreeComponentInfo takes back, snapshot properties in task memory, and a
// writer-components object with the service's two-base layout.
//
// The shim keeps a ledger across all its objects: references still held,
// description blocks not handed back, and (through task_allocations.h)
// strings not freed. An object whose last reference is gone stays in memory,
// emptied, until the end of the test, so that a call or a Release too many is
// reported as a failure rather than corrupting memory.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
// The SDK's headers build on one another in this order.
// clang-format off
#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>
// clang-format on

#include <cstddef>
#include <memory>

#include "vss/seam.h"

namespace frostcap::test::shim {

// A COM object over `service`, holding one reference for the caller.
IVssBackupComponents* wrap(std::unique_ptr<vss::BackupComponents> service);

struct Outstanding {
  int objects = 0;              // shim objects with references left
  int componentInfo = 0;        // description blocks not handed back
  std::size_t allocations = 0;  // strings not freed
};
Outstanding outstanding();

// Destroys the emptied objects and clears the ledger for the next test.
void endTest();

}  // namespace frostcap::test::shim
