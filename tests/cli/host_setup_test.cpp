// The COM set-up of frostcap.exe, under Wine: a thread that something else
// put in a single-threaded apartment is refused with a message that says so,
// and a thread of its own ends in the multithreaded apartment with the
// requester's security set.

#include <gtest/gtest.h>

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <objbase.h>

#include <optional>
#include <thread>

#include "console_events.h"
#include "system.h"

namespace frostcap::cli {
namespace {

std::optional<HostSetup> setUpOnNewThread(bool singleThreadedFirst) {
  std::optional<HostSetup> setup;
  std::thread([&] {
    if (singleThreadedFirst) CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    setup = prepareHost();
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    if (setup->usable && CoGetApartmentType(&type, &qualifier) == S_OK && type != APTTYPE_MTA) {
      setup->com.finding = "not in the multithreaded apartment";
    }
  }).join();
  return setup;
}

// One test: COM security can be set once per process, and the refused
// thread must come first so that it is refused before anything is set.
TEST(HostSetupTest, RefusesASingleThreadedApartmentAndSetsUpItsOwnThread) {
  const std::optional<HostSetup> refused = setUpOnNewThread(true);
  EXPECT_FALSE(refused->usable);
  EXPECT_EQ(refused->com.verdict, Verdict::kProblem);
  EXPECT_NE(refused->com.finding.find("single-threaded COM apartment (RPC_E_CHANGED_MODE)"),
            std::string::npos);

  const std::optional<HostSetup> ready = setUpOnNewThread(false);
  EXPECT_TRUE(ready->usable);
  EXPECT_EQ(ready->com.verdict, Verdict::kOk) << ready->com.finding;
  EXPECT_EQ(ready->com.finding.rfind("multithreaded apartment; security set", 0), 0u)
      << ready->com.finding;
}

// Console events end the run as the POSIX signals do; a second Ctrl-C ends it
// at once; the events after which Windows ends the process wait for the run.
TEST(ConsoleEventsTest, EndTheRunAsFailedLikeTheSignals) {
  struct Case {
    DWORD event;
    bool again;
    ConsoleAction expected;
  };
  const Case cases[] = {
      {CTRL_C_EVENT, false, {true, false, false, 130, ""}},
      {CTRL_BREAK_EVENT, false, {true, false, false, 130, ""}},
      {CTRL_C_EVENT, true, {true, true, false, 130, ""}},
      {CTRL_CLOSE_EVENT, false, {true, false, true, 129, ""}},
      {CTRL_LOGOFF_EVENT, false, {true, false, true, 143, ""}},
      {CTRL_SHUTDOWN_EVENT, true, {true, false, true, 143, ""}},
      {99, false, {false, false, false, 0, ""}},
  };
  for (const Case& c : cases) {
    const ConsoleAction action = consoleAction(c.event, c.again);
    EXPECT_EQ(action.handled, c.expected.handled) << c.event;
    EXPECT_EQ(action.endAtOnce, c.expected.endAtOnce) << c.event;
    EXPECT_EQ(action.waitForRun, c.expected.waitForRun) << c.event;
    EXPECT_EQ(action.exitCode, c.expected.exitCode) << c.event;
  }
}

}  // namespace
}  // namespace frostcap::cli
