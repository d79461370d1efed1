// The library's exported functions against the simulated service, loaded
// from scenario files written into a temporary directory: real copies of
// real directories, found again through the directory search.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "frame/messages.h"
#include "frostcap.h"
#include "platform/platform.h"
#include "simulator/simulation.h"
#include "status/status.h"
#include "support/host_strings.h"
#include "support/temp_dir.h"

namespace frostcap::test {
namespace {

namespace fs = std::filesystem;
using simulator::Simulation;

const std::u16string kMailWriter = u"{AAAAAAAA-0000-0000-0000-000000000001}";
const std::u16string kDocsWriter = u"{BBBBBBBB-0000-0000-0000-000000000002}";
const std::u16string kFirstCopy = u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\";

// Two writers over volume C:, which is the folder "volume" beside the file.
// `mailWriterExtra` and `top` go into the mail writer and the top level.
std::string twoWriters(const std::string& mailWriterExtra = "", const std::string& top = "") {
  return R"({"volumes": [{"name": "C:\\", "directory": "volume"}],
  "writers": [
    {"classId": "{AAAAAAAA-0000-0000-0000-000000000001}",
     "instanceId": "{11111111-0000-0000-0000-000000000001}", "name": "Mail Writer",
     "components": [{"type": "database", "logicalPath": "Mail", "name": "Mailbox",
                     "databases": [{"path": "C:\\Data\\Mail", "filespec": "*.edb"}],
                     "logs": [{"path": "C:\\Data\\Mail\\Logs", "filespec": "*.log"}]}])" +
         mailWriterExtra + R"(},
    {"classId": "{BBBBBBBB-0000-0000-0000-000000000002}",
     "instanceId": "{22222222-0000-0000-0000-000000000002}", "name": "Docs Writer",
     "components": [{"type": "filegroup", "name": "Documents",
                     "files": [{"path": "C:\\Docs", "filespec": "*", "recursive": true}]}],
     "excludes": [{"path": "C:\\Docs\\Temp", "filespec": "*.tmp"}, {"path": null, "filespec": "*"}]}
  ])" + top +
         "}";
}

class SimulatedService : public testing::Test {
 protected:
  SimulatedService() {
    for (const char* file : {"Data/Mail/box.edb", "Data/Mail/Logs/E00.log", "Docs/report.txt",
                             "Docs/Temp/draft.tmp"}) {
      dir.file(std::string("volume/") + file);
    }
  }
  ~SimulatedService() override { frostcap_snapshot_free(handle, 0); }

  // A fresh handle for the next case of a table.
  void renew() {
    frostcap_snapshot_free(handle, 0);
    handle = frostcap_snapshot_new();
  }

  std::unique_ptr<Simulation> load(const std::string& scenario) {
    std::ofstream(dir.host("scenario.json")) << scenario;
    std::unique_ptr<Simulation> simulation = Simulation::fromFile(dir.host("scenario.json"));
    simulation->install();
    return simulation;
  }

  void selectBothWriters() {
    frostcap_snapshot_addVolumePath(handle, host(u"C:\\"));
    frostcap_snapshot_addWriterDatabaseComponentFallback(handle, host(kMailWriter), host(u"Mail"),
                                                         host(u"Mailbox"), host(u""));
    frostcap_snapshot_addWriterFilegroupComponentFallback(handle, host(kDocsWriter), host(u""),
                                                          host(u"Documents"), host(u""));
  }

  std::vector<std::u16string> messages() { return drain(handle, frostcap_snapshot_getNextMessage); }
  std::vector<std::u16string> files() {
    frostcap_snapshot_loadWriterFileInfo(handle);
    std::vector<std::u16string> listed = drain(handle, frostcap_snapshot_getNextWriterFileInfo);
    std::sort(listed.begin(), listed.end());
    return listed;
  }

  TempDir dir;
  frostcap_snapshot* handle = frostcap_snapshot_new();
};

TEST_F(SimulatedService, BackupReadsAPointInTimeCopyThatEndsWithTheHandle) {
  const auto simulation = load(twoWriters());
  selectBothWriters();
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0) << utf8(messages().at(0));
  const std::vector<std::u16string> live = {u"C:\\Data\\Mail\\Logs\\E00.log",
                                            u"C:\\Data\\Mail\\box.edb", u"C:\\Docs\\Temp",
                                            u"C:\\Docs\\report.txt"};
  EXPECT_EQ(files(), live);
  EXPECT_EQ(drain(handle, frostcap_snapshot_getNextWriterExcludedFileInfo),
            std::vector<std::u16string>{u"C:\\Docs\\Temp\\draft.tmp"});

  ASSERT_EQ(frostcap_snapshot_perform_b(handle), 0) << utf8(messages().at(0));
  EXPECT_EQ(drain(handle, frostcap_snapshot_getNextMountPath), std::vector{kFirstCopy});
  const std::optional<fs::path> copy = simulation->hostPath(kFirstCopy);
  ASSERT_TRUE(copy && fs::is_regular_file(*copy / "Data/Mail/box.edb"));

  // Changes to the live volume after the snapshot stay out of the copy, and
  // the inventory now lists what the copy holds, under the live names.
  dir.file("volume/Data/Mail/late.edb");
  fs::remove(dir.host("volume/Docs/report.txt"));
  EXPECT_FALSE(fs::exists(*copy / "Data/Mail/late.edb"));
  EXPECT_EQ(files(), live);

  frostcap_snapshot_free(handle, 1);
  handle = nullptr;
  EXPECT_FALSE(fs::exists(*copy));
  EXPECT_FALSE(simulation->hostPath(kFirstCopy));
  EXPECT_EQ(simulation->record().back().call, "Release");
}

std::u16string phaseFailed(std::u16string_view label, std::uint32_t status) {
  return messages::takeSnapshotFailed(messages::callFailed(label, static_cast<Status>(status)));
}

TEST_F(SimulatedService, PlannedFaultsFailTheirCallAndLeaveNoCopy) {
  const struct {
    const char* call;
    int occurrence;
    std::u16string_view label;
  } kCases[] = {
      {"DoSnapshotSet", 1, messages::label::kDoSnapshotSet},
      {"DoSnapshotSet.Result", 1, messages::label::kDoSnapshotSet},
      {"PrepareForBackup.Wait", 1, messages::label::kPrepareForBackup},
      {"AddToSnapshotSet", 1, messages::label::kAddToSnapshotSet},
      // The first gathering of writer status follows PrepareForBackup.
      {"GatherWriterStatus.QueryStatus", 2, messages::label::kGatherWriterStatus},
  };
  for (const auto& fault : kCases) {
    SCOPED_TRACE(fault.call);
    const auto simulation =
        load(twoWriters("", R"(, "faults": [{"call": ")" + std::string(fault.call) +
                                R"(", "status": "0x80042306", "occurrence": )" +
                                std::to_string(fault.occurrence) + "}]"));
    renew();
    selectBothWriters();
    ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
    EXPECT_EQ(frostcap_snapshot_perform_b(handle), 1);
    EXPECT_EQ(messages(), std::vector{phaseFailed(fault.label, 0x80042306)});
    frostcap_snapshot_free(handle, 0);
    handle = nullptr;
    EXPECT_FALSE(simulation->hostPath(kFirstCopy));
  }
}

TEST_F(SimulatedService, VolumesAreMatchedAsWindowsMatchesThem) {
  const struct {
    std::u16string volume;
    int result;
  } kCases[] = {{u"C:\\", 0}, {u"c:", 0}, {u"C:/", 0}, {u"D:\\", 1}, {u"C:\\Data", 1}};
  for (const auto& [volume, result] : kCases) {
    SCOPED_TRACE(utf8(volume));
    const auto simulation = load(twoWriters());
    renew();
    frostcap_snapshot_addVolumePath(handle, host(volume));
    ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
    EXPECT_EQ(frostcap_snapshot_perform_b(handle), result);
    if (result != 0) {
      EXPECT_EQ(messages(),
                std::vector{phaseFailed(messages::label::kAddToSnapshotSet, 0x80042308)});
    }
    frostcap_snapshot_free(handle, 1);
    handle = nullptr;
  }
}

TEST_F(SimulatedService, HostDirectoriesNamedAsTypedAreCopiedWithTheirLinks) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links and TMPDIR are the POSIX copy's business";
#else
  const std::string live = dir.host("volume").string();
  fs::create_directory_symlink("Data", dir.host("volume/link"));
  {
    const auto simulation = Simulation::forVolumes({{platform::utf8ToWide(live), live, std::nullopt}});
    simulation->install();
    EXPECT_EQ(simulation->hostPath(platform::utf8ToWide(live) + u"\\Data/Mail\\"),
              fs::path(live) / "Data/Mail/");
    frostcap_snapshot_addVolumePath(handle, host(platform::utf8ToWide(live)));
    ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
    // The copy lands inside the very tree it copies, and must not copy itself.
    dir.directory("volume/tmp");
    const std::string temp = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "";
    setenv("TMPDIR", dir.host("volume/tmp").c_str(), 1);
    const int result = frostcap_snapshot_perform_b(handle);
    temp.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", temp.c_str(), 1);
    ASSERT_EQ(result, 0) << utf8(messages().at(0));
    const std::optional<fs::path> copy = simulation->hostPath(kFirstCopy);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->parent_path(), dir.host("volume/tmp"));
    EXPECT_TRUE(fs::is_empty(*copy / "tmp"));
    EXPECT_TRUE(fs::is_symlink(*copy / "link"));
    EXPECT_EQ(fs::read_symlink(*copy / "link"), "Data");
    EXPECT_TRUE(fs::is_regular_file(*copy / "Docs/Temp/draft.tmp"));
    renew();
  }
  // Without the simulation the built-in factory answers again.
  EXPECT_EQ(frostcap_snapshot_perform_a(handle), 1);
  EXPECT_EQ(messages(), std::vector{messages::initVssFailed(static_cast<Status>(0x80004001))});
#endif
}

// The scenario the documentation walks through stays loadable and matches
// the files beside it.
TEST_F(SimulatedService, ExampleScenarioDescribesItsVolume) {
  const auto simulation =
      Simulation::fromFile(fs::path(FROSTCAP_EXAMPLES_DIR) / "two-writers.json");
  simulation->install();
  frostcap_snapshot_addVolumePath(handle, host(u"C:\\"));
  frostcap_snapshot_addWriterDatabaseComponentFallback(
      handle, host(u"{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}"), host(u"Mail"),
      host(u"Mailbox Database"), host(u""));
  frostcap_snapshot_addWriterFilegroupComponentFallback(
      handle, host(u"{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}"), host(u""), host(u"Documents"),
      host(u""));
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0) << utf8(messages().at(0));
  EXPECT_EQ(files(), (std::vector<std::u16string>{
                         u"C:\\Data\\Mail\\Logs\\E00.chk", u"C:\\Data\\Mail\\Logs\\E00000001.log",
                         u"C:\\Data\\Mail\\Logs\\E00000002.log", u"C:\\Data\\Mail\\mailbox.edb",
                         u"C:\\Data\\Mail\\public.edb", u"C:\\Documents\\Reports",
                         u"C:\\Documents\\Temp", u"C:\\Documents\\budget.csv",
                         u"C:\\Documents\\notes.txt", u"C:\\Documents\\~lock.tmp"}));
  std::vector<std::u16string> excluded =
      drain(handle, frostcap_snapshot_getNextWriterExcludedFileInfo);
  std::sort(excluded.begin(), excluded.end());
  EXPECT_EQ(excluded, (std::vector<std::u16string>{u"C:\\Documents\\Temp\\notes.autosave.tmp",
                                                   u"C:\\Documents\\~lock.tmp"}));
}

TEST_F(SimulatedService, ScenarioErrorsSayWhereAndWhatWasExpected) {
  const std::string kGuid = R"("{AAAAAAAA-0000-0000-0000-000000000001}")";
  const struct {
    std::string scenario;
    std::string message;  // after the file's name
  } kCases[] = {
      {"{\n  \"volumes\": [\n    {\"name\": \"C:\\\\\",}\n  ]\n}",
       ":3:21: not valid JSON: syntax error while parsing object key - unexpected '}'; "
       "expected string literal"},
      {R"({"writers": [{"classId": "{AAAA}", "instanceId": )" + kGuid + R"(, "name": "W"}]})",
       ": /writers/0/classId: expected a GUID in braces such as "
       "{00000000-0000-0000-0000-000000000000}, found \"{AAAA}\""},
      {R"({"writers": [{"classId": )" + kGuid + R"(, "instanceId": )" + kGuid +
           R"(, "name": "W", "components": [{"type": "db", "name": "x"}]}]})",
       ": /writers/0/components/0/type: expected \"database\", \"filegroup\" or a component "
       "type number, found \"db\""},
      {R"({"writers": [{"classId": )" + kGuid + R"(, "instanceId": )" + kGuid + R"(}]})",
       ": /writers/0/name: expected a string, found nothing"},
      {R"({"volumes": [{"name": "C:\\", "directory": "nowhere"}]})",
       ": /volumes/0/directory: expected the path of an existing directory, relative to the "
       "scenario file, found \"nowhere\""},
      {R"({"faults": [{"call": "DoSnapshot", "status": 1}]})",
       ": /faults/0/call: expected the name of a call, such as \"DoSnapshotSet\" or "
       "\"DoSnapshotSet.Wait\", found \"DoSnapshot\""},
      {R"({"faults": [{"call": "DoSnapshotSet", "status": "0x1234567890"}]})",
       ": /faults/0/status: expected a status: an integer or a string such as \"0x80042306\" "
       "(0x and up to eight hex digits), found \"0x1234567890\""},
      {R"({"volume": []})",
       ": /volume: unexpected member; expected one of description, volumes, writers, faults"},
  };
  for (const auto& [scenario, message] : kCases) {
    std::ofstream(dir.host("bad.json")) << scenario;
    try {
      Simulation::fromFile(dir.host("bad.json"));
      ADD_FAILURE() << "accepted: " << scenario;
    } catch (const simulator::ScenarioError& error) {
      EXPECT_EQ(error.what(), dir.host("bad.json").string() + message);
    }
  }
}

}  // namespace
}  // namespace frostcap::test
