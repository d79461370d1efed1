// frostcap-sim's converter and comparison on small hand-written traces.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "compare_calls.h"
#include "scenario_from_trace.h"
#include "simulator/scenario.h"
#include "simulator/simulation.h"

namespace frostcap::replay {
namespace {

using nlohmann::json;

constexpr const char* kHeader =
    R"j({"call":"Trace","text":"Trace(frostcap 1.0.0)","pid":7,"time":"2026-12-07T06:40:00Z"})j";
constexpr const char* kFirst = "{8F0E6B12-3C4D-4A5B-8E7F-102132435465}";
constexpr const char* kSecond = "{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0}";
constexpr const char* kClass = "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}";
constexpr const char* kSnapshot = "{00000002-5353-1000-8000-000000000000}";

std::string call(const std::string& text, const std::string& status = "0x00000000",
                 const json& result = nullptr) {
  json line = {{"call", text.substr(0, text.find('('))}, {"text", text}, {"status", status}};
  if (!result.is_null()) line["result"] = result;
  line["us"] = 3;
  return line.dump();
}

// A first run that failed at once, then a second with two writers (the
// server gave the second instance first), descriptors of each kind, a
// refused AddComponent, a preparation that failed and a failed component.
std::vector<std::string> twoRuns() {
  return {
      kHeader,
      call("CreateVssBackupComponents()", "0x80070005"),
      kHeader,
      call("CreateVssBackupComponents()"),
      call("GatherWriterMetadata()"),
      call("GatherWriterMetadata.Wait()"),
      call("GatherWriterMetadata.QueryStatus()", "0x00000000", {{"operation", "0x0004230A"}}),
      call("GetWriterMetadataCount()", "0x00000000", {{"count", 2}}),
      call("GetWriterMetadata(0)", "0x00000000", {{"instanceId", kSecond}}),
      call("GetIdentity(Log Writer)", "0x00000000",
           {{"instanceId", kSecond}, {"classId", kClass}, {"name", "Log Writer"}}),
      call("GetFileCounts(Log Writer)", "0x00000000",
           {{"includeFiles", 0}, {"excludeFiles", 1}, {"components", 1}}),
      call("GetExcludeFile(0)"),
      call("GetPath()", "0x00000000", {{"path", "C:\\Temp"}}),
      call("GetFilespec()", "0x00000000", {{"filespec", "*.tmp"}}),
      call("GetRecursive()", "0x00000000", {{"recursive", true}}),
      call("GetComponent(0)"),
      call("GetComponentInfo(Logs)", "0x00000000",
           {{"type", 2},
            {"logicalPath", ""},
            {"componentName", "Logs"},
            {"selectable", true},
            {"fileCount", 1},
            {"databaseCount", 0},
            {"logFileCount", 0}}),
      call("GetFile(0)"),
      call("GetPath()", "0x00000000", {{"path", nullptr}}),
      call("GetFilespec()", "0x00000000", {{"filespec", "*.log"}}),
      call("GetRecursive()", "0x00000000", {{"recursive", false}}),
      call("FreeComponentInfo(Logs)"),
      call("GetWriterMetadata(1)", "0x00000000", {{"instanceId", kFirst}}),
      call("GetIdentity(Mail Writer)", "0x00000000",
           {{"instanceId", kFirst}, {"classId", kClass}, {"name", "Mail Writer"}}),
      call("GetFileCounts(Mail Writer)", "0x00000000",
           {{"includeFiles", 0}, {"excludeFiles", 0}, {"components", 1}}),
      call("GetComponent(0)"),
      call("GetComponentInfo(Db)", "0x00000000",
           {{"type", 1},
            {"logicalPath", "Mail"},
            {"componentName", "Db"},
            {"selectable", false},
            {"fileCount", 0},
            {"databaseCount", 1},
            {"logFileCount", 0}}),
      call("GetDatabaseFile(0)"),
      call("GetPath()", "0x00000000", {{"path", "C:\\Data"}}),
      call("GetFilespec()", "0x00000000", {{"filespec", "*.edb"}}),
      call("GetRecursive()", "0x00000000", {{"recursive", false}}),
      call(std::string("AddComponent(") + kFirst + "," + kClass + ",1,Mail,Db)", "0x80042308"),
      call("StartSnapshotSet()", "0x00000000", {{"snapshotSetId", kSnapshot}}),
      call("AddToSnapshotSet(C:\\,{00000000-0000-0000-0000-000000000000})", "0x00000000",
           {{"snapshotId", kSnapshot}}),
      call(std::string("GetSnapshotProperties(") + kSnapshot + ")", "0x00000000",
           {{"deviceObject", "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy7"}}),
      call("PrepareForBackup()"),
      call("PrepareForBackup.Wait()"),
      call("PrepareForBackup.QueryStatus()", "0x00000000", {{"operation", "0x800423F3"}}),
      R"j({"call":"PrepareForBackup.Result","text":"PrepareForBackup.Result(0x800423f3)"})j",
      call("GatherWriterStatus()"),
      call("GetWriterStatus(0)", "0x00000000",
           {{"instanceId", kSecond},
            {"classId", kClass},
            {"name", "Log Writer"},
            {"state", 7},
            {"failure", "0x800423F3"}}),
      call("GetWriterStatus(1)", "0x00000000",
           {{"instanceId", kFirst},
            {"classId", kClass},
            {"name", "Mail Writer"},
            {"state", 1},
            {"failure", "0x00000000"}}),
      call("GetWriterComponents(0)"),
      call("GetWriterInfo(Log Writer)", "0x00000000",
           {{"instanceId", kSecond}, {"classId", kClass}}),
      call("IVssWriterComponents::GetComponent(0)"),
      call("GetComponentName()", "0x00000000", {{"name", "Logs"}}),
      call("QueryInterface(IVssComponentEx2)"),
      call("GetFailure(Logs)", "0x00000000",
           {{"hr", "0x800423F3"},
            {"hrApplication", "0x00000000"},
            {"applicationMessage", "disk full"}}),
      R"j({"call":"Release","text":"Release()"})j",
  };
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

class ReplayTest : public testing::Test {
 protected:
  std::filesystem::path volume_ = std::filesystem::path(testing::TempDir());

  MadeScenario made(const std::vector<std::string>& lines, std::optional<std::size_t> run = {}) {
    ScenarioOptions options{run, {{u"c:", volume_}}};
    return scenarioFromTrace(parseTrace(joined(lines), "t.jsonl"), options);
  }
};

TEST_F(ReplayTest, ScenarioCarriesWhatTheServerGave) {
  const MadeScenario scenario = made(twoRuns());
  const json document = json::parse(scenario.document.dump());
  struct Case {
    const char* pointer;
    json expected;
  };
  const std::vector<Case> cases = {
      // Writers in the server's order, with its identities.
      {"/writers/0/instanceId", kSecond},
      {"/writers/0/name", "Log Writer"},
      {"/writers/1/instanceId", kFirst},
      {"/writers/1/classId", kClass},
      // Descriptors of every kind, a missing path as null.
      {"/writers/0/excludes",
       json::array({{{"path", "C:\\Temp"}, {"filespec", "*.tmp"}, {"recursive", true}}})},
      {"/writers/0/components/0/files/0/path", nullptr},
      {"/writers/0/components/0/type", "filegroup"},
      {"/writers/1/components/0",
       {{"type", "database"},
        {"logicalPath", "Mail"},
        {"name", "Db"},
        {"selectable", false},
        {"files", json::array()},
        {"databases",
         json::array({{{"path", "C:\\Data"}, {"filespec", "*.edb"}, {"recursive", false}}})},
        {"logs", json::array()}}},
      // Writer states and component failures.
      {"/writers/0/status", "0x800423F3"},
      {"/writers/0/state", 7},
      {"/writers/1/state", 1},
      {"/writers/0/failedComponents/0",
       {{"name", "Logs"},
        {"status", "0x800423F3"},
        {"applicationStatus", "0x00000000"},
        {"message", "disk full"}}},
      // The volume under the name the library gave, its device as the
      // server named it, its files where --volume says.
      {"/volumes/0/name", "C:\\"},
      {"/volumes/0/directory", volume_.generic_string()},
      {"/volumes/0/device", "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy7"},
      // A refused call and a failed operation, at their occurrences.
      {"/faults",
       json::array(
           {{{"call", "AddComponent"}, {"status", "0x80042308"}, {"occurrence", 1}},
            {{"call", "PrepareForBackup.Result"}, {"status", "0x800423F3"}, {"occurrence", 1}}})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(document.at(json::json_pointer(c.pointer)), c.expected) << c.pointer;
  }
  EXPECT_TRUE(scenario.emptyDirectories.empty());
  // The model takes what the tool writes.
  const simulator::Scenario parsed =
      simulator::parseScenario(scenario.document.dump(), "made", volume_);
  EXPECT_EQ(parsed.writers.size(), 2u);

  // The earlier run on request; a volume without --volume gets an empty
  // directory, named in a note.
  EXPECT_EQ(made(twoRuns(), 1).document["faults"][0]["call"], "CreateVssBackupComponents");
  std::vector<std::string> unnamed = {
      call("StartSnapshotSet()", "0x00000000", {{"snapshotSetId", kSnapshot}}),
      call("AddToSnapshotSet(D:\\,{0})", "0x00000000", {{"snapshotId", kSnapshot}})};
  const MadeScenario empty = made(unnamed);
  EXPECT_EQ(empty.emptyDirectories, std::vector<std::string>{"volume-1"});
  EXPECT_EQ(empty.document["volumes"][0]["directory"], "volume-1");
  ASSERT_EQ(empty.notes.size(), 1u);
  EXPECT_NE(empty.notes[0].find("D:\\"), std::string::npos);
}

TEST_F(ReplayTest, UnknownOrInconsistentLinesAreNamed) {
  const std::string status = call("GetWriterStatus(0)", "0x00000000",
                                  {{"instanceId", kFirst},
                                   {"classId", kClass},
                                   {"name", "Mail Writer"},
                                   {"state", 1},
                                   {"failure", "0x00000000"}});
  json renamed = json::parse(status);
  renamed["result"]["name"] = "Other Writer";
  const struct {
    std::vector<std::string> lines;
    std::string message;
  } cases[] = {
      {{kHeader, "not json"}, "t.jsonl:2: not a JSON object"},
      {{R"j({"call":"GetPath"})j"}, "t.jsonl:1: expected \"call\" and \"text\" strings"},
      {{R"j({"call":"GetPath","text":"GetPath()","status":"1"})j"},
       "t.jsonl:1: expected \"status\""},
      {{kHeader, call("Frobnicate()")}, "t.jsonl:2: Frobnicate: not a call of the service"},
      {{call("GetIdentity(X)", "0x00000000",
             {{"instanceId", kFirst}, {"classId", kClass}, {"name", "X"}})},
       "t.jsonl:1: GetIdentity: no GetWriterMetadata before it"},
      {{call("GetWriterMetadata(0)")}, "t.jsonl:1: GetWriterMetadata: no \"result\""},
      {{call("GetWriterMetadata(x)", "0x00000000", {{"instanceId", kFirst}}),
        call("GetComponent(x)")},
       "t.jsonl:2: GetComponent: expected an index"},
      {{call("GetPath()", "0x00000000", {{"path", "C:\\"}})},
       "t.jsonl:1: GetPath: no GetFile, GetDatabaseFile"},
      {{status, renamed.dump()},
       "t.jsonl:2: GetWriterStatus: the writer's name Other Writer differs"},
      {{call("GetSnapshotProperties({1})", "0x00000000", {{"deviceObject", "x"}})},
       "t.jsonl:1: GetSnapshotProperties: a snapshot id no AddToSnapshotSet gave"},
      {{call("PrepareForBackup.QueryStatus()", "0x00000000", {{"operation", "0x80042301"}})},
       "t.jsonl:1: PrepareForBackup.QueryStatus: no PrepareForBackup before it"},
  };
  for (const auto& c : cases) {
    try {
      made(c.lines);
      ADD_FAILURE() << c.message;
    } catch (const TraceError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(c.message, 0), 0u) << error.what();
    }
  }
  EXPECT_THROW(made(twoRuns(), 3), TraceError);
}

TEST(CompareTest, CallsCompareByNameArgumentsAndStatus) {
  // A model record of the same run: no header, no results, a status only
  // where a call failed, and entries that are not calls.
  const std::vector<std::string> trace = {
      kHeader,
      call("CreateVssBackupComponents()"),
      call("SetContext(0)"),
      call("PrepareForBackup.QueryStatus()", "0x00000000", {{"operation", "0x800423F3"}}),
      call("AbortBackup()", "0x80042301"),
      R"j({"call":"Release","text":"Release()"})j"};
  const std::vector<std::string> record = {
      R"j({"call":"CreateVssBackupComponents","text":"CreateVssBackupComponents()"})j",
      R"j({"call":"SetContext","text":"SetContext(0)"})j",
      R"j({"call":"Assumption","text":"Assumption(SetContext: accepted)"})j",
      R"j({"call":"PrepareForBackup.QueryStatus","text":"PrepareForBackup.QueryStatus()"})j",
      R"j({"call":"PrepareForBackup.Result","text":"PrepareForBackup.Result(0x800423f3)"})j",
      R"j({"call":"AbortBackup","text":"AbortBackup()","status":"0x80042301"})j",
      R"j({"call":"Release","text":"Release()"})j",
      R"j({"call":"Ledger","text":"Ledger(0 objects)"})j"};
  std::vector<std::string> otherStatus = record;
  otherStatus[5] = R"j({"call":"AbortBackup","text":"AbortBackup()"})j";
  std::vector<std::string> otherArgument = record;
  otherArgument[1] = R"j({"call":"SetContext","text":"SetContext(9)"})j";
  std::vector<std::string> shorter(record.begin(), record.begin() + 4);

  const struct {
    std::vector<std::string> b;
    bool agree;
    std::string report;
  } cases[] = {
      {record, true, "the 5 calls agree\n"},
      {otherStatus, false,
       "call 4 differs:\na:5: AbortBackup() -> 0x80042301\nb:6: AbortBackup() -> 0x00000000\n"},
      {otherArgument, false,
       "call 2 differs:\na:3: SetContext(0) -> 0x00000000\nb:2: SetContext(9) -> 0x00000000\n"},
      {shorter, false, "b ends after 3 calls; a goes on:\na:5: AbortBackup() -> 0x80042301\n"},
  };
  for (const auto& c : cases) {
    const Comparison comparison =
        compareCalls(parseTrace(joined(trace), "a"), parseTrace(joined(c.b), "b"));
    EXPECT_EQ(comparison.agree, c.agree);
    EXPECT_EQ(comparison.report, c.report);
  }
}

}  // namespace
}  // namespace frostcap::replay
