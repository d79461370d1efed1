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

  // Once the copies exist, the search looks inside them but names live paths.
  ASSERT_EQ(frostcap_snapshot_perform_b(handle), 0);
  frostcap_snapshot_loadWriterFileInfo(handle);
  EXPECT_EQ(included(), (std::vector<std::u16string>{live(u"db\\main.edb"), live(u"db\\notes.txt"),
                                                     live(u"logs\\a.log")}));
  // Nothing of tmp or cache exists in the copy: the patterns come back live.
  EXPECT_EQ(sorted(excluded()), sorted({live(u"tmp\\*"), live(u"cache\\*.bin")}));
}

// A run again rebuilds the files and appends the exclusions; one that fails at
// the second writer keeps what the first writer listed.
TEST_F(Inventory, ARunAgainRebuildsTheFilesAndAppendsTheExclusions) {
  prepare();
  frostcap_snapshot_loadWriterFileInfo(handle);
  const std::vector<std::u16string> first = included();
  excluded();
  frostcap_snapshot_loadWriterFileInfo(handle);
  EXPECT_EQ(included(), first);
  EXPECT_EQ(excluded().size(), 3u);
  service.fail("GetFileCounts", Status(kDenied), service.count("GetFileCounts") + 2);
  frostcap_snapshot_loadWriterFileInfo(handle);
  EXPECT_EQ(included(), first);
  EXPECT_EQ(excluded().size(), 2u);
  EXPECT_EQ(messages().size(), 1u);
  EXPECT_EQ(state().writerExcludedFileInfo.size(), 8u);
}

TEST_F(Inventory, ComponentsBelowASelectedOneContributeTheirFiles) {
  const std::u16string below = u"Store\\Main\\Mailbox";
  auto& components = service.writers[0].components;
  components.push_back(
      {1, below, u"Archive", true, {descriptor(live(u"db"), u"main.edb")}, {}, {}});
  components.push_back({2, below, u"Other type", true, {descriptor(live(u"db"), u"*")}, {}, {}});
  prepare();
  frostcap_snapshot_loadWriterFileInfo(handle);
  const std::vector<std::u16string> records = included();
  EXPECT_EQ(std::count(records.begin(), records.end(), live(u"db\\main.edb")), 2);
  EXPECT_EQ(records.size(), 5u);
}

// Careless or hostile descriptors: a specification with folders of its own,
// ".." components behind either slash, an embedded NUL. Each record names a file the search
// found, and no search leaves the volume the descriptor's path lies on.
TEST_F(Inventory, EachRecordNamesWhatTheSearchFoundInsideTheVolume) {
  const std::vector<std::u16string> kVolumeTop = {live(u"cache"), live(u"db"), live(u"docs"),
                                                  live(u"logs"), live(u"tmp")};
  const struct {
    const char* what;
    FileSpec file;
    std::vector<std::u16string> records;
  } kCases[] = {
      {"a folder in the file specification",
       descriptor(live(u""), u"logs\\*.log"),
       {live(u"logs\\a.log"), live(u"logs\\b.log")}},
      {"a folder up and down again",
       descriptor(live(u"db\\..\\logs"), u"a.log"),
       {live(u"logs\\a.log")}},
      {"more folders up than the volume has",
       descriptor(live(u"db"), u"..\\..\\..\\d*"),
       {live(u"db"), live(u"docs")}},
      {"a sibling of the volume", descriptor(live(u"..\\shadow"), u"*"), {live(u"shadow\\*")}},
      // Either slash separates, as on Windows: none hides a ".." from the rule.
      {"forward slashes up out of the volume", descriptor(live(u"db/../.."), u"*"), kVolumeTop},
      {"a file pattern up with forward slashes", descriptor(live(u"db"), u"../../*"), kVolumeTop},
      {"both slashes mixed", descriptor(live(u"db\\logs"), u"..\\../..\\*"), kVolumeTop},
      {"a path ending in a slash, the doubled separator read as one",
       descriptor(live(u"db/"), u"../*"), kVolumeTop},
      {"an embedded NUL",
       descriptor(live(u"db"), std::u16string(u"main.edb\0..\\*", 13)),
       {live(u"db\\main.edb")}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    Session session;
    session.service.writers[0].components[0].files = {c.file};
    session.service.volumes = ModelService::volumesNamed({volume});
    frostcap_snapshot_addWriterDatabaseComponentFallback(
        session.handle, host(kDatabaseWriterId), host(u"Store\\Main"), host(u"Mail"), host(u""));
    session.addVolumes({volume});
    ASSERT_EQ(frostcap_snapshot_perform_a(session.handle), 0);
    frostcap_snapshot_loadWriterFileInfo(session.handle);
    EXPECT_EQ(sorted(drain(session.handle, frostcap_snapshot_getNextWriterFileInfo)), c.records);
    EXPECT_TRUE(session.messages().empty());
  }
}

// A path that expands beyond the system's limit stops the inventory there.
TEST_F(Inventory, ExpandsEnvironmentReferencesAfterAddingTheBackslash) {
  ASSERT_TRUE(setEnvironment(u"FROSTCAP_INVENTORY_TEST_DIR", live(u"db")));
  ASSERT_TRUE(setEnvironment(u"FROSTCAP_INVENTORY_TEST_LONG", std::u16string(20000, u'v')));
  ComponentSpec& mail = service.writers[0].components[0];
  mail.files = {descriptor(u"%FROSTCAP_INVENTORY_TEST_DIR%", u"main.edb"),
                descriptor(u"%FROSTCAP_UNDEFINED_VARIABLE%\\x", u"*.edb")};
  mail.databases = {{std::nullopt, u"*", false}};  // no path: no record
  mail.logs = {descriptor(u"%FROSTCAP_INVENTORY_TEST_LONG%%FROSTCAP_INVENTORY_TEST_LONG%", u"*")};
  prepare();
  frostcap_snapshot_loadWriterFileInfo(handle);
  EXPECT_EQ(included(), (std::vector<std::u16string>{live(u"db\\") + u"main.edb",
                                                     u"%FROSTCAP_UNDEFINED_VARIABLE%\\x\\*.edb"}));
  EXPECT_EQ(messages(), std::vector<std::u16string>{
                            u"{WARNING_PREFIX}{ERR_FILE_SET} (ExpandEnvironmentStringsW(): " +
                            platform::systemErrorText(122) + u")"});
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
