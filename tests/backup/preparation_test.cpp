// The preparation phase: what it tells the service and what it makes of the
// host's selections. How each failing call ends the phase, with which message,
// is the fault sweep's to check (tests/reliability).

#include <gtest/gtest.h>

#include "support/scenario.h"

namespace frostcap::test {
namespace {

using Preparation = Scenario;

TEST_F(Preparation, PassesTheHostsBackupType) {
  frostcap_snapshot_setIncrementalMode(handle, 5);
  frostcap_snapshot_addWriter(handle, host(kFilesWriterId));
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  EXPECT_EQ(service.log()[2], "SetBackupState(true,false,5,false)");
  EXPECT_EQ(service.log()[3], "SetContext(0)");
}

TEST_F(Preparation, AWriterThatReportsNoMetadataIsMissing) {
  service.writers.pop_back();
  selectTwoWriters();
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
  EXPECT_EQ(messages(),
            std::vector<std::u16string>{
                u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} ({FATAL_PREFIX}{ERR_MISSING_WRITER})"});
  EXPECT_EQ(service.count("GetFileCounts"), 0) << "no catalogue for a short set of writers";
}

TEST_F(Preparation, ADatabaseSelectionNeverMatchesAFileGroup) {
  frostcap_snapshot_addWriterDatabaseComponentFallback(handle, host(kDatabaseWriterId),
                                                       host(u"Store"), host(u"Logs"), host(u""));
  frostcap_snapshot_addWriter(handle, host(kFilesWriterId));
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
  EXPECT_EQ(service.count("AddComponent"), 0);
}

// A failed preparation keeps what it reached: the completion marks what was
// selected only when every writer was reached.
TEST(FailedPreparation, IsMarkedOnlyWhenItReachedEveryWriter) {
  for (const auto& [failingAdd, marked] : {std::pair{3, 3}, std::pair{1, 0}}) {
    Session session;
    session.service.fail("AddComponent", Status(0x80042301), failingAdd);
    session.selectTwoWriters();
    EXPECT_EQ(frostcap_snapshot_perform_a(session.handle), 1);
    session.free(1);
    EXPECT_EQ(session.service.count("SetBackupSucceeded"), marked) << failingAdd;
  }
}

}  // namespace
}  // namespace frostcap::test
