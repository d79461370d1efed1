// A whole backup through the exported functions, from the selections to the
// completion when the handle is freed: the calls the service receives.

#include <gtest/gtest.h>

#include "support/scenario.h"

namespace frostcap::test {
namespace {

using Calls = std::vector<std::string>;

const std::string kA = text(kDatabaseWriterClass);
const std::string kB = text(kFilesWriterClass);
const std::string kNoProvider = "{00000000-0000-0000-0000-000000000000}";

// The model numbers its snapshot set and snapshot ids together, the set first.
std::string snapshotId(std::uint32_t number) {
  return text(vss::Guid{number, 0x5353, 0x1000, {0x80, 0, 0, 0, 0, 0, 0, 0}});
}

Calls waited(const std::string& op) { return {op + "()", op + ".Wait()", op + ".QueryStatus()"}; }

Calls writerStatus() {
  Calls calls = waited("GatherWriterStatus");
  calls.insert(calls.end(), {"GetWriterStatusCount()", "GetWriterStatus(0)", "GetWriterStatus(1)"});
  return calls;
}

// The calls that list one writer's components for the catalogue.
Calls catalogued(const std::string& writer, std::initializer_list<std::string> components) {
  Calls calls = {"GetIdentity(" + writer + ")", "GetFileCounts(" + writer + ")"};
  int index = 0;
  for (const std::string& name : components) {
    calls.insert(calls.end(),
                 {"GetComponent(" + std::to_string(index++) + ")", "GetComponentInfo(" + name + ")",
                  "FreeComponentInfo(" + name + ")"});
  }
  return calls;
}

Calls concat(std::initializer_list<Calls> parts) {
  Calls all;
  for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

using Road = Scenario;

TEST_F(Road, TwoWritersAndThreeVolumesFromSelectionToRelease) {
  selectTwoWriters();
  addVolumes({u"C:\\", u"D:\\", u"E:\\"});

  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0) << text(messages().at(0));
  EXPECT_EQ(
      service.log(),
      concat({{"CreateVssBackupComponents()", "InitializeForBackup()",
               "SetBackupState(true,false,2,false)", "SetContext(0)",
               "EnableWriterClasses(" + kA + "," + kB + ")"},
              waited("GatherWriterMetadata"),
              {"GetWriterMetadataCount()", "GetWriterMetadataCount()", "GetWriterMetadata(0)"},
              catalogued("Database Writer", {"Mail", "Logs"}),
              {"GetWriterMetadata(1)"},
              catalogued("Files Writer", {"Documents"}),
              {"GetWriterMetadata(0)", "AddComponent(" + kMailRecord + ")",
               "AddComponent(" + kLogsRecord + ")", "GetWriterMetadata(1)",
               "AddComponent(" + kDocumentsRecord + ")"}}));
  const std::size_t before = service.calls().size();
  ASSERT_EQ(frostcap_snapshot_perform_b(handle), 0) << text(messages().at(0));
  EXPECT_EQ(service.logSince(before),
            concat({{"StartSnapshotSet()", "AddToSnapshotSet(C:\\," + kNoProvider + ")",
                     "AddToSnapshotSet(D:\\," + kNoProvider + ")",
                     "AddToSnapshotSet(E:\\," + kNoProvider + ")"},
                    waited("PrepareForBackup"),
                    writerStatus(),
                    waited("DoSnapshotSet"),
                    writerStatus(),
                    {"GetSnapshotProperties(" + snapshotId(2) + ")",
                     "GetSnapshotProperties(" + snapshotId(3) + ")",
                     "GetSnapshotProperties(" + snapshotId(4) + ")"}}));
  EXPECT_EQ(mountPaths(), (std::vector<std::u16string>{
                              u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\",
                              u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy2\\",
                              u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3\\"}));
  EXPECT_TRUE(messages().empty());

  const std::size_t beforeFree = service.calls().size();
  free(1);
  EXPECT_EQ(service.logSince(beforeFree),
            concat({{"SetBackupSucceeded(" + kMailRecord + ",true)",
                     "SetBackupSucceeded(" + kLogsRecord + ",true)",
                     "SetBackupSucceeded(" + kDocumentsRecord + ",true)"},
                    waited("BackupComplete"),
                    writerStatus()}));
}

TEST(Completion, AVerdictOtherThanOneMarksEveryComponentAsNotBackedUp) {
  for (int verdict : {0, 2, -1}) {
    Session session;
    frostcap_snapshot_addWriterFilegroupComponentFallback(session.handle, host(kFilesWriterId),
                                                          host(u""), host(u"Documents"), host(u""));
    session.addVolumes({u"C:\\"});
    ASSERT_EQ(frostcap_snapshot_perform_a(session.handle), 0);
    ASSERT_EQ(frostcap_snapshot_perform_b(session.handle), 0);
    const std::size_t before = session.service.calls().size();
    session.free(verdict);
    EXPECT_EQ(session.service.logSince(before).at(0),
              "SetBackupSucceeded(" + kDocumentsRecord + ",false)")
        << verdict;
  }
}

TEST_F(Road, ASelectionAddedAfterThePreparationIsMarkedForTheWritersFirstInstance) {
  frostcap_snapshot_addWriter(handle, host(kDatabaseWriterId));
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  frostcap_snapshot_addWriterFilegroupComponentFallback(handle, host(kDatabaseWriterId),
                                                        host(u"Late"), host(u"Added"), host(u""));
  const std::size_t before = service.calls().size();
  free(1);
  EXPECT_EQ(service.logSince(before).at(0), "SetBackupSucceeded(" + text(kDatabaseWriterInstance) +
                                                "," + kA + ",2,Late,Added,true)");
  EXPECT_EQ(service.count("SetBackupSucceeded"), 1);
}

TEST_F(Road, VolumesWithoutWritersNeitherPrepareWritersNorCompleteTheBackup) {
  addVolumes({u"C:\\"});
  frostcap_snapshot_setUseSystemProvider(handle);
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  ASSERT_EQ(frostcap_snapshot_perform_b(handle), 0);
  free(1);
  EXPECT_EQ(service.log(".Wait"),
            (Calls{"CreateVssBackupComponents()", "InitializeForBackup()",
                   "SetBackupState(false,false,2,false)", "SetContext(16)", "StartSnapshotSet()",
                   "AddToSnapshotSet(C:\\,{B5946137-7B9F-4925-AF80-51ABD60B20D5})",
                   "DoSnapshotSet()", "DoSnapshotSet.QueryStatus()", "GatherWriterStatus()",
                   "GatherWriterStatus.QueryStatus()",
                   // A context without writers has no writer to report.
                   "GetWriterStatusCount()", "GetSnapshotProperties(" + snapshotId(2) + ")"}));
}

TEST_F(Road, WritersWithoutVolumesTakeAnEmptySnapshot) {
  frostcap_snapshot_addWriter(handle, host(kFilesWriterId));
  frostcap_snapshot_addWriter(handle, host(kDatabaseWriterId));
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  ASSERT_EQ(frostcap_snapshot_perform_b(handle), 0);
  EXPECT_EQ(service.count("PrepareForBackup"), 1);
  // No snapshot was made, so the handle is not marked as used; the service
  // decides, and takes one set per object.
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
  EXPECT_EQ(messages(), std::vector<std::u16string>{
                            phaseFailed(u"IVssBackupComponents::StartSnapshotSet", 0x80042316)});
  EXPECT_EQ(service.breaches().size(), 1u);
}

// Success codes other than zero, from an operation or as a writer's state.
TEST_F(Road, APositiveStatusIsNoFailure) {
  service.answer("GatherWriterMetadata.Result", Status{0x0004230B});  // cancelled
  service.writers[0].status = Status{0x0004230A};                     // completed
  selectTwoWriters();
  addVolumes({u"C:\\"});
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 0);
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 0);
  EXPECT_TRUE(messages().empty());
}

TEST_F(Road, DeviceNamesBecomeMountPathsWithOneTrailingBackslash) {
  const std::u16string devices[] = {u"\\\\?\\Device\\Copy7", u"\\\\?\\Device\\Copy8\\", u""};
  for (std::size_t i = 0; i < 3; ++i) service.volumes[i].device = devices[i];
  addVolumes({u"C:\\", u"D:\\", u"E:\\"});
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  ASSERT_EQ(frostcap_snapshot_perform_b(handle), 0);
  EXPECT_EQ(mountPaths(),
            (std::vector<std::u16string>{u"\\\\?\\Device\\Copy7\\", u"\\\\?\\Device\\Copy8\\"}));
  EXPECT_EQ(state().shadowDevices.size(), 3u);
}

// A repeated preparation, and one retried after a failure, start over on a
// new object and take up what was selected in between: the completion then
// reaches every component.
TEST(RepeatedPreparation, StartsOverAndTheCompletionReachesEveryComponent) {
  for (const bool firstFails : {false, true}) {
    SCOPED_TRACE(firstFails ? "retried after a failure" : "run twice");
    Session session;
    if (firstFails) session.service.fail("AddComponent", Status(0x80042302));
    frostcap_snapshot_addWriterFilegroupComponentFallback(session.handle, host(kFilesWriterId),
                                                          host(u""), host(u"Documents"), host(u""));
    session.addVolumes({u"C:\\"});
    EXPECT_EQ(frostcap_snapshot_perform_a(session.handle), firstFails ? 1 : 0);
    frostcap_snapshot_addWriterDatabaseComponentFallback(
        session.handle, host(kDatabaseWriterId), host(u"Store\\Main"), host(u"Mail"), host(u""));
    ASSERT_EQ(frostcap_snapshot_perform_a(session.handle), 0);
    EXPECT_EQ(session.service.count("CreateVssBackupComponents"), 2);
    EXPECT_EQ(session.service.ledger().objects, 1);  // the first object was released
    ASSERT_EQ(frostcap_snapshot_perform_b(session.handle), 0);
    const std::size_t before = session.service.calls().size();
    session.free(1);
    EXPECT_EQ(session.service.logSince(before),
              concat({{"SetBackupSucceeded(" + kMailRecord + ",true)",
                       "SetBackupSucceeded(" + kDocumentsRecord + ",true)"},
                      waited("BackupComplete"),
                      writerStatus()}));
    EXPECT_TRUE(session.service.breaches().empty());
  }
}

}  // namespace
}  // namespace frostcap::test
