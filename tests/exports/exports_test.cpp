// The exported functions as a host calls them before any service answers.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frostcap.h"
#include "platform/platform.h"
#include "status/status.h"
#include "support/scenario.h"

namespace frostcap::test {
namespace {

TEST(Exports, InitialisesOnlyOnce) {
  frostcap_library_init();
  platform::DirectorySearch missing(u"frostcap-no-such-directory\\*");  // sets the last error
  const std::uint32_t error = platform::lastError();
  ASSERT_NE(error, 0u);
  frostcap_library_init();  // a second call touches nothing
  EXPECT_EQ(platform::lastError(), error);
}

TEST(Exports, PathIsNetworkPathAnswersInTheReversedSense) {
  const struct {
    std::u16string path;
    int expected;
  } cases[] = {
      {u"\\\\server\\share", 0}, {u"\\single", 1}, {u"C:\\", 1}, {u"relative\\path", 1}, {u"", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(frostcap_pathIsNetworkPath(host(c.path)), c.expected) << utf8(c.path);
  }
  EXPECT_EQ(frostcap_pathIsNetworkPath(nullptr), 1);
}

// Without a model of the service, the platform's own answers: none natively.
TEST(Exports, PreparationReportsAServiceThatCannotBeReached) {
  frostcap_snapshot* handle = frostcap_snapshot_new();
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
  EXPECT_EQ(drain(handle, frostcap_snapshot_getNextMessage),
            std::vector<std::u16string>{u"{FATAL_PREFIX}{ERR_INIT_VSS} (" +
                                        formatStatus(static_cast<Status>(0x80004001)) + u")"});
  frostcap_snapshot_free(handle, 0);
}

// Each step that needs the preparation refuses without it, and a handle on
// which no phase ran is freed without a call to the service.
TEST(Exports, StepsBeforeThePreparationAreRefused) {
  using Step = int (*)(frostcap_snapshot*);
  const struct {
    const char* what;
    bool selected;
    Step step;
    std::u16string message;
  } cases[] = {
      {"snapshot of nothing", false, frostcap_snapshot_perform_b,
       u"{FATAL_PREFIX}{ERR_NO_VOLUMES}"},
      {"snapshot", true, frostcap_snapshot_perform_b,
       u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}{ERR_NOT_READY})"},
      {"catalogue", true,
       [](frostcap_snapshot* handle) { return frostcap_snapshot_loadWriterComponents(handle), 1; },
       u"{WARNING_PREFIX} ({FATAL_PREFIX}{ERR_NOT_READY})"},
      {"inventory", true,
       [](frostcap_snapshot* handle) { return frostcap_snapshot_loadWriterFileInfo(handle), 1; },
       u"{WARNING_PREFIX}{ERR_FILE_SET} ({FATAL_PREFIX}{ERR_NOT_READY})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Session session;
    if (c.selected) {
      session.addVolumes({u"C:\\"});
      frostcap_snapshot_addWriter(session.handle, host(kFilesWriterId));
    }
    EXPECT_EQ(c.step(session.handle), 1);
    EXPECT_EQ(session.messages(), std::vector<std::u16string>{c.message});
    EXPECT_TRUE(session.catalogue().empty());
    session.free(1);
    EXPECT_TRUE(session.service.calls().empty());
  }
}

}  // namespace
}  // namespace frostcap::test
