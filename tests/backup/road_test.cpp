// A whole backup through the exported functions: two writers, three volumes.

#include <gtest/gtest.h>

#include "frame/messages.h"
#include "support/scenario.h"

namespace frostcap::test {
namespace {

const std::string kA = text(kDatabaseWriterClass);
const std::string kAi = text(kDatabaseWriterInstance);
const std::string kB = text(kFilesWriterClass);
const std::string kBi = text(kFilesWriterInstance);
const std::string kNoProvider = "{00000000-0000-0000-0000-000000000000}";

// The model numbers its snapshot set and snapshot ids together, the set first.
std::string snapshotId(std::uint32_t number) {
  return text(vss::Guid{number, 0x5353, 0x1000, {0x80, 0, 0, 0, 0, 0, 0, 0}});
}

std::vector<std::string> waited(const std::string& op) {
  return {op + "()", op + ".Wait()", op + ".QueryStatus()"};
}

std::vector<std::string> writerStatus() {
  std::vector<std::string> calls = waited("GatherWriterStatus");
  calls.insert(calls.end(), {"GetWriterStatusCount()", "GetWriterStatus(0)", "GetWriterStatus(1)"});
  return calls;
}

template <typename... Parts>
std::vector<std::string> concat(const Parts&... parts) {
  std::vector<std::string> all;
  (all.insert(all.end(), parts.begin(), parts.end()), ...);
  return all;
}

using Road = Scenario;

TEST_F(Road, TwoWritersAndThreeVolumesFromSelectionToRelease) {
  selectTwoWriters();
  addVolumes({u"C:\\", u"D:\\", u"E:\\"});

  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0) << text(messages().at(0));
  const std::vector<std::string> catalogueCalls = {"GetWriterMetadataCount()",
                                                   "GetWriterMetadata(0)",
                                                   "GetIdentity(Database Writer)",
                                                   "GetFileCounts(Database Writer)",
                                                   "GetComponent(0)",
                                                   "GetComponentInfo(Mail)",
                                                   "FreeComponentInfo(Mail)",
                                                   "GetComponent(1)",
                                                   "GetComponentInfo(Logs)",
                                                   "FreeComponentInfo(Logs)",
                                                   "GetWriterMetadata(1)",
                                                   "GetIdentity(Files Writer)",
                                                   "GetFileCounts(Files Writer)",
                                                   "GetComponent(0)",
                                                   "GetComponentInfo(Documents)",
                                                   "FreeComponentInfo(Documents)"};
  EXPECT_EQ(
      service.log(),
      concat(std::vector<std::string>{"CreateVssBackupComponents()", "InitializeForBackup()",
                                      "SetBackupState(true,false,2,false)", "SetContext(0)",
                                      "EnableWriterClasses(" + kA + "," + kB + ")"},
             waited("GatherWriterMetadata"), std::vector<std::string>{"GetWriterMetadataCount()"},
             catalogueCalls,
             std::vector<std::string>{
                 "GetWriterMetadata(0)", "AddComponent(" + kAi + "," + kA + ",1,Store\\Main,Mail)",
                 "AddComponent(" + kAi + "," + kA + ",2,Store,Logs)", "GetWriterMetadata(1)",
                 "AddComponent(" + kBi + "," + kB + ",2,,Documents)"}));
  EXPECT_EQ(catalogue(),
            (std::vector<std::u16string>{
                u"# Found 2 writer(s) to interrogate", u"# Writer 0 has 2 component(s)",
                u"[\"{AAAAAAAA-0000-0000-0000-000000000001}\",\"Store\\u005cMain\",\"Mail\","
                u"\"VSS_CT_DATABASE\",true]",
                u"[\"{AAAAAAAA-0000-0000-0000-000000000001}\",\"Store\",\"Logs\","
                u"\"VSS_CT_FILEGROUP\",true]",
                u"# Writer 1 has 1 component(s)",
                u"[\"{BBBBBBBB-0000-0000-0000-000000000002}\",\"\",\"Documents\","
                u"\"VSS_CT_FILEGROUP\",false]"}));
  // The selections now carry the writers' own spelling.
  EXPECT_EQ(state().writerSelections.at(kDatabaseWriterId),
            (std::vector<ComponentRecord>{{1, u"Store\\Main", u"Mail", u""},
                                          {2, u"Store", u"Logs", u""}}));

  const std::size_t before = service.calls().size();
  ASSERT_EQ(frostcap_snapshot_perform_b(handle), 0) << text(messages().at(0));
  EXPECT_EQ(
      service.logSince(before),
      concat(std::vector<std::string>{"StartSnapshotSet()",
                                      "AddToSnapshotSet(C:\\," + kNoProvider + ")",
                                      "AddToSnapshotSet(D:\\," + kNoProvider + ")",
                                      "AddToSnapshotSet(E:\\," + kNoProvider + ")"},
             waited("PrepareForBackup"), writerStatus(), waited("DoSnapshotSet"), writerStatus(),
             std::vector<std::string>{
                 "GetSnapshotProperties(" + snapshotId(2) + ")",
                 "GetSnapshotProperties(" + snapshotId(3) + ")",
                 "GetSnapshotProperties(" + snapshotId(4) + ")"}));
  EXPECT_EQ(mountPaths(), (std::vector<std::u16string>{
                              u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\",
                              u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy2\\",
                              u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3\\"}));
  EXPECT_TRUE(messages().empty());

  const std::size_t beforeFree = service.calls().size();
  free(1);
  EXPECT_EQ(service.logSince(beforeFree),
            concat(
                std::vector<std::string>{
                    "SetBackupSucceeded(" + kAi + "," + kA + ",1,Store\\Main,Mail,true)",
                    "SetBackupSucceeded(" + kAi + "," + kA + ",2,Store,Logs,true)",
                    "SetBackupSucceeded(" + kBi + "," + kB + ",2,,Documents,true)"},
                waited("BackupComplete"), writerStatus()));
}

TEST_F(Road, AVerdictOtherThanOneMarksEveryComponentAsNotBackedUp) {
  for (int verdict : {0, 2, -1}) {
    ModelService fresh;
    fresh.writers = twoWriters();
    frostcap_snapshot* other = frostcap_snapshot_new();
    frostcap_snapshot_addWriterFilegroupComponentFallback(other, host(kFilesWriterId), host(u""),
                                                          host(u"Documents"), host(u""));
    frostcap_snapshot_addVolumePath(other, host(u"C:\\"));
    ASSERT_EQ(frostcap_snapshot_perform_a(other), 0);
    ASSERT_EQ(frostcap_snapshot_perform_b(other), 0);
    frostcap_snapshot_free(other, verdict);
    EXPECT_EQ(fresh.count("SetBackupSucceeded"), 1);
    EXPECT_EQ(fresh.calls()[fresh.calls().size() - 9].text(),
              "SetBackupSucceeded(" + kBi + "," + kB + ",2,,Documents,false)")
        << verdict;
    EXPECT_EQ(fresh.ledger().objects, 0);
  }
}

TEST_F(Road, VolumesWithoutWritersNeitherPrepareWritersNorCompleteTheBackup) {
  addVolumes({u"C:\\"});
  frostcap_snapshot_setUseSystemProvider(handle);
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  ASSERT_EQ(frostcap_snapshot_perform_b(handle), 0);
  free(1);
  EXPECT_EQ(
      service.log(".Wait"),
      (std::vector<std::string>{
          "CreateVssBackupComponents()", "InitializeForBackup()",
          "SetBackupState(false,false,2,false)", "SetContext(16)", "StartSnapshotSet()",
          "AddToSnapshotSet(C:\\,{B5946137-7B9F-4925-AF80-51ABD60B20D5})", "DoSnapshotSet()",
          "DoSnapshotSet.QueryStatus()", "GatherWriterStatus()", "GatherWriterStatus.QueryStatus()",
          // A context without writers has no writer to report.
          "GetWriterStatusCount()", "GetSnapshotProperties(" + snapshotId(2) + ")"}));
}

TEST_F(Road, WritersWithoutVolumesTakeAnEmptySnapshot) {
  frostcap_snapshot_addWriter(handle, host(kFilesWriterId));
  frostcap_snapshot_addWriter(handle, host(kDatabaseWriterId));
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  EXPECT_EQ(service.count("AddComponent"), 0);
  EXPECT_EQ(state().writerInstanceIds,
            (std::vector<vss::Guid>{kDatabaseWriterInstance, kFilesWriterInstance}));
  ASSERT_EQ(frostcap_snapshot_perform_b(handle), 0);
  EXPECT_EQ(service.count("AddToSnapshotSet"), 0);
  EXPECT_EQ(service.count("PrepareForBackup"), 1);
  EXPECT_TRUE(mountPaths().empty());
  EXPECT_TRUE(messages().empty());
  // No snapshot was made, so the handle is not marked as used; the service
  // decides, and takes one set per object.
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
  EXPECT_EQ(messages(), (std::vector<std::u16string>{
                            phaseFailed(messages::label::kStartSnapshotSet, 0x80042316)}));
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

TEST_F(Road, AHandleMakesOneSnapshotOnly) {
  addVolumes({u"C:\\"});
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
  ASSERT_EQ(frostcap_snapshot_perform_b(handle), 0);
  mountPaths();
  const std::size_t calls = service.calls().size();
  EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
  EXPECT_EQ(service.calls().size(), calls);
  EXPECT_EQ(messages(), (std::vector<std::u16string>{u"{WARNING_PREFIX}{ERR_SNAPSHOT_REUSE}",
                                                     u"{WARNING_PREFIX}{ERR_SNAPSHOT_REUSE}"}));
  EXPECT_TRUE(mountPaths().empty());
}

// A repeated preparation, and one retried after a failure, start over on a
// new object and take up what was selected in between: the completion then
// reaches every component.
TEST_F(Road, APreparationRunAgainStartsOverAndTheCompletionReachesEveryComponent) {
  for (const bool firstFails : {false, true}) {
    SCOPED_TRACE(firstFails ? "retried after a failure" : "run twice");
    ModelService fresh;
    fresh.writers = twoWriters();
    if (firstFails) fresh.fail("AddComponent", Status(0x80042302));
    frostcap_snapshot* other = frostcap_snapshot_new();
    frostcap_snapshot_addWriterFilegroupComponentFallback(other, host(kFilesWriterId), host(u""),
                                                          host(u"Documents"), host(u""));
    frostcap_snapshot_addVolumePath(other, host(u"C:\\"));
    EXPECT_EQ(frostcap_snapshot_perform_a(other), firstFails ? 1 : 0);
    frostcap_snapshot_addWriterDatabaseComponentFallback(
        other, host(kDatabaseWriterId), host(u"Store\\Main"), host(u"Mail"), host(u""));
    ASSERT_EQ(frostcap_snapshot_perform_a(other), 0);
    EXPECT_EQ(fresh.count("CreateVssBackupComponents"), 2);
    EXPECT_EQ(fresh.ledger().objects, 1);  // the first object was released
    ASSERT_EQ(frostcap_snapshot_perform_b(other), 0);
    frostcap_snapshot_free(other, 1);
    const std::vector<std::string> log = fresh.log();
    const std::vector<std::string> completion(log.end() - 11, log.end() - 9);
    EXPECT_EQ(completion,
              (std::vector<std::string>{
                  "SetBackupSucceeded(" + kAi + "," + kA + ",1,Store\\Main,Mail,true)",
                  "SetBackupSucceeded(" + kBi + "," + kB + ",2,,Documents,true)"}));
    EXPECT_EQ(fresh.count("BackupComplete"), 1);
    EXPECT_TRUE(fresh.breaches().empty());
  }
}

}  // namespace
}  // namespace frostcap::test
