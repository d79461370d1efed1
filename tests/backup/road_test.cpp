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
  // Success codes other than zero, from an operation or as a writer's state,
  // are no failure.
  service.answer("GatherWriterMetadata.Result", Status{0x0004230B});  // cancelled
  service.writers[0].status = Status{0x0004230A};                     // completed
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

// The completion marks every component with the verdict (1, else false), in
// key order, and declares the backup complete, whether the preparation ran
// once, twice or again after a failure: each time on a new object that takes
// up what was selected in between. A component selected after the last
// preparation was never added, and goes to its writer's first instance: a
// service that refuses to mark it leaves the others marked and the backup
// completed, with the calls of one that accepts. A refused mark of a
// component that was added ends the completion.
TEST(Completion, MarksEveryComponentUnlessOneAddedIsRefused) {
  enum Preparation { kOnce, kTwice, kRetried };
  const struct {
    Preparation preparation;
    int verdict;
    bool refuseUnprepared;
    std::uint32_t firstMark;  // what marking the first component answers
  } kCases[] = {{kOnce, 1, false, 0},  {kOnce, 1, true, 0},   {kOnce, 0, false, 0},
                {kOnce, 2, true, 0},   {kOnce, -1, false, 0}, {kOnce, 1, false, 0x80042308},
                {kTwice, 1, false, 0}, {kRetried, 0, true, 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.preparation << c.verdict << c.refuseUnprepared);
    Session session;
    session.service.refuseUnprepared = c.refuseUnprepared;
    if (c.preparation == kRetried) session.service.fail("AddComponent", Status(0x80042302));
    if (c.firstMark != 0) session.service.fail("SetBackupSucceeded", Status(c.firstMark));
    frostcap_snapshot_addWriterFilegroupComponentFallback(session.handle, host(kFilesWriterId),
                                                          host(u""), host(u"Documents"), host(u""));
    session.addVolumes({u"C:\\"});
    if (c.preparation != kOnce) {
      EXPECT_EQ(frostcap_snapshot_perform_a(session.handle), c.preparation == kRetried ? 1 : 0);
    }
    frostcap_snapshot_addWriterDatabaseComponentFallback(
        session.handle, host(kDatabaseWriterId), host(u"store\\main"), host(u"MAIL"), host(u""));
    ASSERT_EQ(frostcap_snapshot_perform_a(session.handle), 0);
    EXPECT_EQ(session.service.count("CreateVssBackupComponents"), c.preparation == kOnce ? 1 : 2);
    EXPECT_EQ(session.service.ledger().objects, 1);  // an earlier object was released
    ASSERT_EQ(frostcap_snapshot_perform_b(session.handle), 0);
    frostcap_snapshot_addWriterFilegroupComponentFallback(session.handle, host(kDatabaseWriterId),
                                                          host(u"Store"), host(u"Logs"), host(u""));
    const std::size_t before = session.service.calls().size();
    session.free(c.verdict);
    const std::string flag = c.verdict == 1 ? ",true)" : ",false)";
    const Calls marks = {"SetBackupSucceeded(" + kMailRecord + flag,
                         "SetBackupSucceeded(" + kLogsRecord + flag,
                         "SetBackupSucceeded(" + kDocumentsRecord + flag};
    EXPECT_EQ(
        session.service.logSince(before),
        c.firstMark ? Calls{marks[0]} : concat({marks, waited("BackupComplete"), writerStatus()}));
    EXPECT_EQ(session.service.breaches().size(), c.refuseUnprepared ? 1u : 0u);
  }
}

// A backup of volumes alone runs in a context without writers: no writer is
// prepared and no backup completed, but the status is gathered after the
// copy. A service with no writer metadata to report on may refuse that as out
// of sequence, by the call or by the operation: there is then no writer to
// report, and the copy stands. With writers, that refusal fails the phase.
TEST(VolumesWithoutWriters, TakeTheCopyWhenTheWriterStatusIsRefusedAsOutOfSequence) {
  const std::string kProperties = "GetSnapshotProperties(" + snapshotId(2) + ")";
  const std::string kQuery = "GatherWriterStatus.QueryStatus()";
  const Calls kUpToStatus =
      concat({{"CreateVssBackupComponents()", "InitializeForBackup()",
               "SetBackupState(false,false,2,false)", "SetContext(16)", "StartSnapshotSet()",
               "AddToSnapshotSet(C:\\," + text(kSystemProviderId) + ")"},
              {"DoSnapshotSet()", "DoSnapshotSet.QueryStatus()", "GatherWriterStatus()"}});
  const struct {
    bool writers, refuseUnprepared;
    const char* fault;  // answered VSS_E_BAD_STATE
    Calls after;        // the calls after GatherWriterStatus
  } kCases[] = {
      // A context without writers has no writer to report.
      {false, false, "", {kQuery, "GetWriterStatusCount()", kProperties}},
      {false, true, "", {kProperties}},
      {false, false, "GatherWriterStatus.Result", {kQuery, kProperties}},
      {true, true, "GatherWriterStatus.Result", {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.refuseUnprepared << c.fault << c.writers);
    Session session;
    session.service.refuseUnprepared = c.refuseUnprepared;
    // With writers, the status after the copy; the one before it is answered.
    if (*c.fault) session.service.fail(c.fault, vss::kBadState, c.writers ? 2 : 1);
    if (c.writers) frostcap_snapshot_addWriter(session.handle, host(kFilesWriterId));
    session.addVolumes({u"C:\\"});
    frostcap_snapshot_setUseSystemProvider(session.handle);
    ASSERT_EQ(frostcap_snapshot_perform_a(session.handle), 0);
    EXPECT_EQ(frostcap_snapshot_perform_b(session.handle), c.writers ? 1 : 0);
    if (c.writers) continue;  // failed as by any other status (see the fault sweep)
    const Calls log = session.service.log(".Wait");
    EXPECT_EQ(log, concat({kUpToStatus, c.after}));
    session.free(1);
    EXPECT_EQ(session.service.log(".Wait"), log);  // nothing to complete
    EXPECT_EQ(session.service.breaches().size(), c.refuseUnprepared ? 1u : 0u);
  }
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

}  // namespace
}  // namespace frostcap::test
