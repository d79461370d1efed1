// The library's exported functions against the simulated service, loaded
// from scenario files written into a temporary directory: real copies of
// real directories, found again through the directory search.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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
using simulator::RecordEntry;
using simulator::recordLine;
using simulator::Simulation;

const std::u16string kFirstCopy = u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\";

// The bundled example, which the documentation walks through: its scenario
// and a copy of its volume beside it, which tests may change.
class SimulatedService : public testing::Test {
 protected:
  SimulatedService() {
    fs::copy(fs::path(FROSTCAP_EXAMPLES_DIR) / "volume", dir.host("volume"),
             fs::copy_options::recursive);
  }
  ~SimulatedService() override { frostcap_snapshot_free(handle, 0); }

  // A fresh handle for the next case of a table.
  void renew() {
    frostcap_snapshot_free(handle, 0);
    handle = frostcap_snapshot_new();
  }

  // The example's scenario, where `call` fails with 0x80042306 at its
  // `occurrence` when a call is named.
  std::unique_ptr<Simulation> load(const std::string& call = "", int occurrence = 0) {
    std::ifstream in(fs::path(FROSTCAP_EXAMPLES_DIR) / "two-writers.json");
    std::string scenario{std::istreambuf_iterator<char>(in), {}};
    if (!call.empty()) {
      scenario.insert(scenario.rfind('}'), R"(, "faults": [{"call": ")" + call +
                                               R"(", "status": "0x80042306", "occurrence": )" +
                                               std::to_string(occurrence) + "}]");
    }
    std::ofstream(dir.host("scenario.json")) << scenario;
    std::unique_ptr<Simulation> simulation = Simulation::fromFile(dir.host("scenario.json"));
    simulation->install();
    return simulation;
  }

  void selectBothWriters(const std::u16string& volume = u"C:\\") {
    frostcap_snapshot_addVolumePath(handle, host(volume));
    frostcap_snapshot_addWriterDatabaseComponentFallback(
        handle, host(u"{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}"), host(u"Mail"),
        host(u"Mailbox Database"), host(u""));
    frostcap_snapshot_addWriterFilegroupComponentFallback(
        handle, host(u"{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}"), host(u""), host(u"Documents"),
        host(u""));
  }

  std::vector<std::u16string> messages() { return drain(handle, frostcap_snapshot_getNextMessage); }
  std::vector<std::u16string> sorted(std::vector<std::u16string> texts) {
    std::sort(texts.begin(), texts.end());
    return texts;
  }
  std::vector<std::u16string> files() {
    frostcap_snapshot_loadWriterFileInfo(handle);
    return sorted(drain(handle, frostcap_snapshot_getNextWriterFileInfo));
  }

  TempDir dir;
  frostcap_snapshot* handle = frostcap_snapshot_new();
};

// The listing is the one the README shows: an excluded file stays among the
// files, and is listed once more among the exclusions.
TEST_F(SimulatedService, BackupReadsAPointInTimeCopyThatEndsWithTheHandle) {
  const auto simulation = load();
  selectBothWriters();
  ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0) << utf8(messages().at(0));
  const std::vector<std::u16string> live = files();
  EXPECT_EQ(live, (std::vector<std::u16string>{
                      u"C:\\Data\\Mail\\Logs\\E00.chk", u"C:\\Data\\Mail\\Logs\\E00000001.log",
                      u"C:\\Data\\Mail\\Logs\\E00000002.log", u"C:\\Data\\Mail\\mailbox.edb",
                      u"C:\\Data\\Mail\\public.edb", u"C:\\Documents\\Reports",
                      u"C:\\Documents\\Temp", u"C:\\Documents\\budget.csv",
                      u"C:\\Documents\\notes.txt", u"C:\\Documents\\~lock.tmp"}));
  EXPECT_EQ(sorted(drain(handle, frostcap_snapshot_getNextWriterExcludedFileInfo)),
            (std::vector<std::u16string>{u"C:\\Documents\\Temp\\notes.autosave.tmp",
                                         u"C:\\Documents\\~lock.tmp"}));

  ASSERT_EQ(frostcap_snapshot_perform_b(handle), 0) << utf8(messages().at(0));
  EXPECT_EQ(drain(handle, frostcap_snapshot_getNextMountPath), std::vector{kFirstCopy});
  const std::optional<fs::path> copy = simulation->hostPath(kFirstCopy);
  ASSERT_TRUE(copy && fs::is_regular_file(*copy / "Data/Mail/mailbox.edb"));

  // Changes to the live volume after the snapshot stay out of the copy, and
  // the inventory now lists what the copy holds, under the live names.
  dir.file("volume/Data/Mail/late.edb");
  fs::remove(dir.host("volume/Documents/notes.txt"));
  EXPECT_FALSE(fs::exists(*copy / "Data/Mail/late.edb"));
  EXPECT_EQ(files(), live);

  frostcap_snapshot_free(handle, 1);
  handle = nullptr;
  EXPECT_FALSE(fs::exists(*copy));
  EXPECT_FALSE(simulation->hostPath(kFirstCopy));
  EXPECT_EQ(simulation->record().back().call, "Release");
}

// A planned fault fails its call, and a volume the service does not have, as
// Windows matches volume names, fails AddToSnapshotSet: the host is told which
// call failed with what, and no copy outlives the handle.
TEST_F(SimulatedService, FailedCallsFailTheSnapshotAndLeaveNoCopy) {
  namespace label = messages::label;
  const struct {
    std::u16string volume;
    std::string fault;  // the planned fault's call, if any
    int occurrence;
    std::u16string_view failed;  // the call the host is told failed, if any
  } kCases[] = {
      {u"C:\\", "DoSnapshotSet", 1, label::kDoSnapshotSet},
      {u"C:\\", "DoSnapshotSet.Result", 1, label::kDoSnapshotSet},
      {u"C:\\", "PrepareForBackup.Wait", 1, label::kPrepareForBackup},
      {u"C:\\", "AddToSnapshotSet", 1, label::kAddToSnapshotSet},
      // The first gathering of writer status follows PrepareForBackup.
      {u"C:\\", "GatherWriterStatus.QueryStatus", 2, label::kGatherWriterStatus},
      {u"c:", "", 0, label::kAddToSnapshotSet},  // no trailing backslash
      {u"C:/", "", 0, {}},
      {u"D:\\", "", 0, label::kAddToSnapshotSet},
      {u"C:\\Data", "", 0, label::kAddToSnapshotSet},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(utf8(c.volume) + " " + c.fault);
    const auto simulation = load(c.fault, c.occurrence);
    renew();
    selectBothWriters(c.volume);
    ASSERT_EQ(frostcap_snapshot_perform_a(handle), 0);
    const int result = frostcap_snapshot_perform_b(handle);
    EXPECT_EQ(result, c.failed.empty() ? 0 : 1);
    // The planned status, or VSS_E_OBJECT_NOT_FOUND for a volume not there.
    const Status status = static_cast<Status>(c.fault.empty() ? 0x80042308 : 0x80042306);
    EXPECT_EQ(messages(), c.failed.empty() ? std::vector<std::u16string>{}
                                           : std::vector{messages::takeSnapshotFailed(
                                                 messages::callFailed(c.failed, status))});
    // The record keeps what a refused AddToSnapshotSet answered; lines of
    // calls that succeeded stay without a status.
    const std::vector<RecordEntry>& record = simulation->record();
    const auto added = std::find_if(record.begin(), record.end(), [](const RecordEntry& e) {
      return e.call == "AddToSnapshotSet";
    });
    ASSERT_NE(added, record.end());
    const std::string refusal =
        c.fault.empty() ? R"("status":"0x80042308"})" : R"("status":"0x80042306"})";
    EXPECT_EQ(recordLine(*added).ends_with(refusal), c.failed == label::kAddToSnapshotSet)
        << recordLine(*added);
    EXPECT_EQ(recordLine(record.front()).find("status"), std::string::npos);
    frostcap_snapshot_free(handle, result == 0 ? 1 : 0);
    handle = nullptr;
    EXPECT_FALSE(simulation->hostPath(kFirstCopy));
  }
}

// Symbolic links and TMPDIR are the POSIX copy's business.
#ifndef _WIN32
TEST_F(SimulatedService, HostDirectoriesNamedAsTypedAreCopiedWithTheirLinks) {
  const std::string live = dir.host("volume").string();
  fs::create_directory_symlink("Data", dir.host("volume/link"));
  const auto simulation =
      Simulation::forVolumes({{platform::utf8ToWide(live), live, std::nullopt}});
  simulation->install();
  EXPECT_EQ(simulation->hostPath(platform::utf8ToWide(live) + u"\\Data/Mail\\"),
            fs::path(live) / "Data/Mail/");
  // No ".." behind either slash leads out of the volume's directory.
  EXPECT_EQ(simulation->hostPath(platform::utf8ToWide(live) + u"\\Data/..\\../x/"),
            fs::path(live) / "x/");
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
  EXPECT_EQ(fs::read_symlink(*copy / "link"), "Data");
  EXPECT_TRUE(fs::is_regular_file(*copy / "Documents/Temp/notes.autosave.tmp"));
  renew();
}
#endif

TEST_F(SimulatedService, ScenarioErrorsSayWhereAndWhatWasExpected) {
  const std::string kWriter =
      R"({"writers": [{"classId": "{AAAAAAAA-0000-0000-0000-000000000001}", "instanceId": )"
      R"("{AAAAAAAA-0000-0000-0000-000000000001}")";
  const struct {
    std::string scenario;
    std::string message;  // after the file's name
  } kCases[] = {
      {"{\n  \"volumes\": [\n    {\"name\": \"C:\\\\\",}\n  ]\n}",
       ":3:21: not valid JSON: syntax error while parsing object key - unexpected '}'; "
       "expected string literal"},
      {R"({"writers": [{"classId": "{AAAA}",)"
       R"( "instanceId": "{AAAAAAAA-0000-0000-0000-000000000001}", "name": "W"}]})",
       ": /writers/0/classId: expected a GUID in braces such as "
       "{00000000-0000-0000-0000-000000000000}, found \"{AAAA}\""},
      {kWriter + R"(, "name": "W", "components": [{"type": "db", "name": "x"}]}]})",
       ": /writers/0/components/0/type: expected \"database\", \"filegroup\" or a component "
       "type number, found \"db\""},
      {kWriter + "}]}", ": /writers/0/name: expected a string, found nothing"},
      {R"({"volumes": [{"name": "C:\\", "directory": "nowhere"}]})",
       ": /volumes/0/directory: expected the path of an existing directory, relative to the "
       "scenario file, found \"nowhere\""},
      {R"({"faults": [{"call": "DoSnapshot", "status": 1}]})",
       ": /faults/0/call: expected the name of a call, such as \"DoSnapshotSet\" or "
       "\"DoSnapshotSet.Wait\", found \"DoSnapshot\""},
      {R"({"faults": [{"call": "DoSnapshotSet", "status": "0x1234567890"}]})",
       ": /faults/0/status: expected a status: an integer or a string such as \"0x80042306\" "
       "(0x and up to eight hex digits), found \"0x1234567890\""},
      {R"({"volumes": [{"name": "C:\\", "directory": ".", "device": "dev"},)"
       R"( {"name": "D:\\", "directory": ".", "device": "DEV"}]})",
       ": /volumes/1/device: expected a device no other volume has, found \"DEV\""},
      {R"({"volume": []})",
       ": /volume: unexpected member; expected one of description, volumes, writers, faults, "
       "refuseUnprepared"},
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
