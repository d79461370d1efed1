// The file inventory through the exported functions, against the scripted
// service and a real directory tree standing in for a volume and its shadow
// copy.

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/platform.h"
#include "support/environment.h"
#include "support/scenario.h"
#include "support/temp_dir.h"

namespace frostcap::test {
namespace {

constexpr std::uint32_t kDenied = 0x80070005;

std::vector<std::u16string> sorted(std::vector<std::u16string> records) {
  std::sort(records.begin(), records.end());
  return records;
}

FileSpec descriptor(const std::u16string& path, const std::u16string& filespec) {
  return {path, filespec, false};
}

class Inventory : public Scenario {
 protected:
  Inventory() {
    // The live volume, and a shadow copy that differs from it.
    for (const char* name : {"live/db/main.edb", "live/db/notes.txt", "live/logs/a.log",
                             "live/logs/b.log", "live/tmp/scratch", "live/tmp/sub/inner",
                             "live/docs/report.doc", "shadow/db/main.edb", "shadow/logs/a.log"}) {
      disk.file(name);
    }
    disk.directory("live/cache");
    volume = disk.path("live");
    WriterSpec& database = service.writers[0];
    database.components[0].files = {descriptor(live(u"db"), u"*.edb")};
    database.components[0].databases = {descriptor(live(u"db"), u"notes.txt")};
    database.components[0].logs = {descriptor(live(u"logs"), u"*.log")};
    database.components[1].files = {descriptor(live(u"logs"), u"b.log")};
    database.excludes = {descriptor(live(u"tmp"), u"*")};
    WriterSpec& files = service.writers[1];
    files.components[0].files = {descriptor(live(u"docs"), u"*")};
    files.excludes = {descriptor(live(u"cache"), u"*.bin")};
    service.volumes = {{volume, {}, disk.path("shadow", false)}};
  }

  std::u16string live(const std::u16string& below) { return volume + below; }

  // Selects the database writer's Mail component and the file writer alone.
  void prepare() {
    frostcap_snapshot_addWriterDatabaseComponentFallback(
        handle, host(kDatabaseWriterId), host(u"Store\\Main"), host(u"Mail"), host(u""));
    frostcap_snapshot_addWriter(handle, host(kFilesWriterId));
    addVolumes({volume});
    ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0) << text(messages().at(0));
  }

  std::vector<std::u16string> included() {
    return drain(handle, frostcap_snapshot_getNextWriterFileInfo);
  }
  std::vector<std::u16string> excluded() {
    return drain(handle, frostcap_snapshot_getNextWriterExcludedFileInfo);
  }

  TempDir disk;
  std::u16string volume;
};

TEST_F(Inventory, ListsSelectedComponentsByDescriptorKindAndEveryWritersExclusions) {
  prepare();
  frostcap_snapshot_loadWriterFileInfo(handle);
  EXPECT_TRUE(messages().empty());
  const std::vector<std::u16string> records = included();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0], live(u"db\\main.edb"));   // file descriptor
  EXPECT_EQ(records[1], live(u"db\\notes.txt"));  // database descriptor
  EXPECT_EQ(sorted({records[2], records[3]}),     // log descriptor, in listing order
            (std::vector<std::u16string>{live(u"logs\\a.log"), live(u"logs\\b.log")}));
  // The sub-directory is listed, never entered; the empty match is recorded
  // as the pattern itself.
  EXPECT_EQ(sorted(excluded()),
            sorted({live(u"tmp\\scratch"), live(u"tmp\\sub"), live(u"cache\\*.bin")}));
}

TEST_F(Inventory, SearchesInsideTheShadowCopyButNamesLivePaths) {
  prepare();
  ASSERT_EQ(frostcap_snapshot_perform_b(handle), 0);
  frostcap_snapshot_loadWriterFileInfo(handle);
  EXPECT_EQ(included(), (std::vector<std::u16string>{live(u"db\\main.edb"), live(u"db\\notes.txt"),
                                                     live(u"logs\\a.log")}));
  // Nothing of tmp or cache exists in the copy: the patterns come back live.
  EXPECT_EQ(sorted(excluded()), sorted({live(u"tmp\\*"), live(u"cache\\*.bin")}));
}

TEST_F(Inventory, ASecondRunRebuildsTheFilesAndAppendsTheExclusions) {
  prepare();
  frostcap_snapshot_loadWriterFileInfo(handle);
  const std::vector<std::u16string> first = included();
  excluded();
  frostcap_snapshot_loadWriterFileInfo(handle);
  EXPECT_EQ(included(), first);
  EXPECT_EQ(excluded().size(), 3u);
  EXPECT_EQ(state().writerExcludedFileInfo.size(), 6u);
}

TEST_F(Inventory, ComponentsBelowASelectedOneContributeTheirFiles) {
  service.writers[0].components.push_back({1,
                                           u"Store\\Main\\Mailbox",
                                           u"Archive",
                                           true,
                                           {descriptor(live(u"db"), u"main.edb")},
                                           {},
                                           {}});
  service.writers[0].components.push_back(
      {2, u"Store\\Main\\Mailbox", u"Other type", true, {descriptor(live(u"db"), u"*")}, {}, {}});
  prepare();
  frostcap_snapshot_loadWriterFileInfo(handle);
  const std::vector<std::u16string> records = included();
  EXPECT_EQ(std::count(records.begin(), records.end(), live(u"db\\main.edb")), 2);
  EXPECT_EQ(records.size(), 5u);
}

TEST_F(Inventory, ExpandsEnvironmentReferencesAfterAddingTheBackslash) {
  const std::u16string variable = u"FROSTCAP_INVENTORY_TEST_DIR";
  ASSERT_TRUE(setEnvironment(variable, live(u"db")));
  service.writers[0].components[0].files = {
      descriptor(u"%" + variable + u"%", u"main.edb"),
      descriptor(u"%FROSTCAP_UNDEFINED_VARIABLE%\\x", u"*.edb"),
  };
  service.writers[0].components[0].databases = {{std::nullopt, u"*", false}};  // no path: no record
  service.writers[0].components[0].logs = {};
  prepare();
  frostcap_snapshot_loadWriterFileInfo(handle);
  EXPECT_EQ(included(), (std::vector<std::u16string>{live(u"db\\") + u"main.edb",
                                                     u"%FROSTCAP_UNDEFINED_VARIABLE%\\x\\*.edb"}));
}

TEST_F(Inventory, ASearchThatFailsOtherwiseThanByFindingNothingFailsTheInventory) {
  // A file where a directory should be is neither "no match" nor "no such
  // directory" to the system.
  service.writers[0].excludes = {descriptor(live(u"db\\main.edb"), u"*")};
  prepare();
  frostcap_snapshot_loadWriterFileInfo(handle);
  platform::DirectorySearch probe(live(u"db\\main.edb\\*"));
  ASSERT_FALSE(probe.started());
  if (probe.error() == 2 || probe.error() == 3) GTEST_SKIP() << "the system calls it not found";
  EXPECT_EQ(messages(),
            std::vector<std::u16string>{u"{WARNING_PREFIX}{ERR_FILE_SET} (FindFirstFile(" +
                                        live(u"db\\main.edb\\*") + u"): " +
                                        platform::systemErrorText(probe.error()) + u")"});
}

TEST_F(Inventory, BeforePreparationThereIsNothingToList) {
  frostcap_snapshot_loadWriterFileInfo(handle);
  EXPECT_EQ(messages(), std::vector<std::u16string>{
                            u"{WARNING_PREFIX}{ERR_FILE_SET} ({FATAL_PREFIX}{ERR_NOT_READY})"});
}

struct FailureCase {
  std::string op;
  int occurrence;
  std::u16string label;
};

TEST_F(Inventory, EachCallFailsUnderItsLabelKeepingEarlierRecords) {
  const FailureCase cases[] = {
      {"GetWriterMetadataCount", 1, u"IVssBackupComponents::GetWriterMetadataCount"},
      {"GetWriterMetadata", 2, u"IVssBackupComponents::GetWriterMetadata"},
      {"GetFileCounts", 2, u"IVssExamineWriterMetadata::GetFileCounts"},
      {"GetExcludeFile", 2, u"IVssExamineWriterMetadata::GetExcludeFile"},
      {"GetComponent", 1, u"IVssExamineWriterMetadata::GetComponent"},
      {"GetComponentInfo", 2, u"IVssWMComponent::GetComponentInfo"},
      {"GetFile", 1, u"IVssWMComponent::GetFile"},
      {"GetDatabaseFile", 1, u"IVssWMComponent::GetDatabaseFile"},
      {"GetDatabaseLogFile", 1, u"IVssWMComponent::GetDatabaseLogFile"},
      {"FreeComponentInfo", 1, u"IVssWMComponent::FreeComponentInfo"},
      {"GetPath", 2, u"IVssWMFiledesc::GetPath"},
      {"GetFilespec", 2, u"IVssWMFiledesc::GetFilespec"},
      {"GetRecursive", 2, u"IVssWMFiledesc::GetRecursive"},
  };
  prepare();
  messages();
  for (const FailureCase& c : cases) {
    service.fail(c.op, Status(kDenied), service.count(c.op) + c.occurrence);
    frostcap_snapshot_loadWriterFileInfo(handle);
    EXPECT_EQ(messages(),
              std::vector<std::u16string>{u"{WARNING_PREFIX}{ERR_FILE_SET} (" + c.label + u": " +
                                          formatStatus(Status(kDenied)) + u")"})
        << c.op;
    EXPECT_EQ(service.ledger().componentInfo, 0) << c.op;
  }
}

TEST_F(Inventory, AFailureAtTheSecondWriterKeepsTheFirstWritersRecords) {
  prepare();
  service.fail("GetFileCounts", Status(kDenied), service.count("GetFileCounts") + 2);
  frostcap_snapshot_loadWriterFileInfo(handle);
  EXPECT_EQ(included().size(), 4u);
  EXPECT_EQ(excluded().size(), 2u);
  EXPECT_EQ(messages().size(), 1u);
}

TEST_F(Inventory, WritersBeyondTheSelectionListOnlyTheirExclusions) {
  // Two writers answer for one, and without identities the second pairs
  // with no selection.
  service.writers[1].classId = kDatabaseWriterClass;
  service.answer("GetIdentity", Status(0x80004001));
  frostcap_snapshot_addWriter(handle, host(kDatabaseWriterId));
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
  frostcap_snapshot_loadWriterFileInfo(handle);
  EXPECT_TRUE(included().empty());
  EXPECT_EQ(excluded().size(), 3u);
}

}  // namespace
}  // namespace frostcap::test
