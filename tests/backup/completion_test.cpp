// Completion when the handle is freed: nothing it does reaches the host, so
// the tests look at the calls the service received.

#include <gtest/gtest.h>

#include "support/scenario.h"

namespace frostcap::test {
namespace {

class Completion : public Scenario {
 protected:
  void snapshotTaken() {
    selectTwoWriters();
    addVolumes({u"C:\\"});
    ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
    ASSERT_EQ(frostcap_snapshot_perform_b(handle), 0);
  }
};

TEST_F(Completion, AFailingMarkStopsTheCompletion) {
  snapshotTaken();
  service.fail("SetBackupSucceeded", Status(0x80042301));
  const std::size_t before = service.calls().size();
  free(1);
  EXPECT_EQ(service.logSince(before).size(), 1u);
}

TEST_F(Completion, AFailingCompletionSkipsTheStatusReport) {
  snapshotTaken();
  service.fail("BackupComplete.Wait", Status(0x80042301));
  const int statusReports = service.count("GatherWriterStatus");
  free(1);
  EXPECT_EQ(service.count("SetBackupSucceeded"), 3);
  EXPECT_EQ(service.count("GatherWriterStatus"), statusReports);
}

TEST_F(Completion, ExceptionsAreCaughtAndTheServiceIsStillReleased) {
  for (Throw kind : {Throw::kBadAlloc, Throw::kStandard, Throw::kNonStandard}) {
    ModelService fresh;
    fresh.writers = twoWriters();
    fresh.raise("BackupComplete", kind);
    frostcap_snapshot* other = frostcap_snapshot_new();
    frostcap_snapshot_addWriter(other, host(kFilesWriterId));
    ASSERT_EQ(frostcap_snapshot_perform_a(other), 0);
    frostcap_snapshot_free(other, 1);
    EXPECT_EQ(fresh.ledger().objects, 0);
  }
}

TEST_F(Completion, AWriterFailingAfterCompletionChangesNothing) {
  snapshotTaken();
  service.writers[0].status = Status(0x800423F4);
  free(1);
  EXPECT_EQ(service.count("BackupComplete"), 1);
}

TEST_F(Completion, SelectionsAddedAfterPreparationAreMarkedToo) {
  frostcap_snapshot_addWriter(handle, host(kDatabaseWriterId));
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  frostcap_snapshot_addWriterFilegroupComponentFallback(handle, host(kDatabaseWriterId),
                                                        host(u"Late"), host(u"Added"), host(u""));
  free(1);
  ASSERT_EQ(service.count("SetBackupSucceeded"), 1);
  for (const auto& call : service.calls()) {
    if (call.op == "SetBackupSucceeded") {
      EXPECT_TRUE(call.args.ends_with(",2,Late,Added,true")) << call.args;
    }
  }
}

}  // namespace
}  // namespace frostcap::test
