// frostcap-sim's converter and comparison on small hand-written traces.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "compare_calls.h"
#include "scenario_from_trace.h"
#include "simulator/scenario.h"

namespace frostcap::replay {
namespace {

using nlohmann::json;

// Trace lines written short: TEXT [STATUS] [RESULT], the call named by the
// text up to its parenthesis; a line starting with { is taken as it is.
std::string trace(const std::string& shorthand) {
  std::istringstream in(shorthand);
  std::string out, line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '{') {
      out += line + "\n";
      continue;
    }
    const std::size_t end =
        line.find(") ") == std::string::npos ? line.size() : line.find(") ") + 1;
    std::string rest = end < line.size() ? line.substr(end + 1) : "";
    json entry = {{"call", line.substr(0, line.find('('))}, {"text", line.substr(0, end)}};
    entry["status"] = rest.rfind("0x", 0) == 0 ? rest.substr(0, 10) : "0x00000000";
    if (rest.rfind("0x", 0) == 0) rest = rest.size() > 10 ? rest.substr(11) : "";
    if (!rest.empty()) entry["result"] = json::parse(rest);
    out += entry.dump() + "\n";
  }
  return out;
}

const std::string kHeader = R"j({"call":"Trace","text":"Trace(frostcap 1.0.0)","pid":7})j";

// A first run that failed at once, then one with two writers (the server
// gave the second instance first), descriptors of each kind, a refused
// AddComponent, a failed preparation and a failed component.
const std::string kTwoRuns = trace(kHeader + "\nCreateVssBackupComponents() 0x80070005\n" +
                                   kHeader + "\n" + R"j(CreateVssBackupComponents()
GatherWriterMetadata.QueryStatus() {"operation":"0x0004230A"}
GetWriterMetadata(0) {"instanceId":"{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0}"}
GetIdentity(Log Writer) {"instanceId":"{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0}","classId":"{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}","name":"Log Writer"}
GetFileCounts(Log Writer) {"includeFiles":0,"excludeFiles":1,"components":1}
GetExcludeFile(0)
GetPath() {"path":"C:\\Temp"}
GetFilespec() {"filespec":"*.tmp"}
GetRecursive() {"recursive":true}
GetComponent(0)
GetComponentInfo(Logs) {"type":2,"logicalPath":"","componentName":"Logs","selectable":true,"fileCount":1,"databaseCount":0,"logFileCount":0}
GetFile(0)
GetPath() {"path":null}
GetFilespec() {"filespec":"*.log"}
GetWriterMetadata(1) {"instanceId":"{8F0E6B12-3C4D-4A5B-8E7F-102132435465}"}
GetIdentity(Mail Writer) {"instanceId":"{8F0E6B12-3C4D-4A5B-8E7F-102132435465}","classId":"{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}","name":"Mail Writer"}
GetFileCounts(Mail Writer) {"includeFiles":0,"excludeFiles":0,"components":1}
GetComponent(0)
GetComponentInfo(Db) {"type":1,"logicalPath":"Mail","componentName":"Db","selectable":false,"fileCount":0,"databaseCount":1,"logFileCount":0}
GetDatabaseFile(0)
GetPath() {"path":"C:\\Data"}
GetFilespec() {"filespec":"*.edb"}
AddComponent({8F0E6B12-3C4D-4A5B-8E7F-102132435465},{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51},1,Mail,Db) 0x80042308
AddToSnapshotSet(C:\,{00000000-0000-0000-0000-000000000000}) {"snapshotId":"{00000002-5353-1000-8000-000000000000}"}
GetSnapshotProperties({00000002-5353-1000-8000-000000000000}) {"deviceObject":"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy7"}
PrepareForBackup()
PrepareForBackup.QueryStatus() {"operation":"0x800423F3"}
{"call":"PrepareForBackup.Result","text":"PrepareForBackup.Result(0x800423f3)"}
GetWriterStatus(0) {"instanceId":"{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0}","classId":"{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}","name":"Log Writer","state":7,"failure":"0x800423F3"}
GetWriterStatus(1) {"instanceId":"{8F0E6B12-3C4D-4A5B-8E7F-102132435465}","classId":"{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}","name":"Mail Writer","state":1,"failure":"0x00000000"}
GetWriterInfo(Log Writer) {"instanceId":"{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0}","classId":"{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}"}
GetComponentName() {"name":"Logs"}
GetFailure(Logs) {"hr":"0x800423F3","hrApplication":"0x00000000","applicationMessage":"disk full"}
Release())j");

// What the model is to replay of the second run.
const json kWriters = json::parse(R"j([
 {"classId":"{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}","instanceId":"{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0}",
  "name":"Log Writer","status":"0x800423F3","state":7,
  "components":[{"type":"filegroup","logicalPath":"","name":"Logs","selectable":true,
    "files":[{"path":null,"filespec":"*.log","recursive":false}],"databases":[],"logs":[]}],
  "excludes":[{"path":"C:\\Temp","filespec":"*.tmp","recursive":true}],
  "failedComponents":[{"name":"Logs","status":"0x800423F3","applicationStatus":"0x00000000","message":"disk full"}]},
 {"classId":"{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}","instanceId":"{8F0E6B12-3C4D-4A5B-8E7F-102132435465}",
  "name":"Mail Writer","state":1,
  "components":[{"type":"database","logicalPath":"Mail","name":"Db","selectable":false,"files":[],
    "databases":[{"path":"C:\\Data","filespec":"*.edb","recursive":false}],"logs":[]}],
  "excludes":[]}])j");
const json kFaults = json::parse(R"j([
 {"call":"AddComponent","status":"0x80042308","occurrence":1},
 {"call":"PrepareForBackup.Result","status":"0x800423F3","occurrence":1}])j");

MadeScenario made(const std::string& text, std::optional<std::size_t> run = {}) {
  const ScenarioOptions options{run, {{u"c:", testing::TempDir()}}};
  return scenarioFromTrace(parseTrace(text, "t.jsonl"), options);
}

TEST(ScenarioFromTrace, CarriesWhatTheServerGave) {
  const MadeScenario scenario = made(kTwoRuns);
  const json document = json::parse(scenario.document.dump());
  EXPECT_EQ(document["writers"], kWriters);
  EXPECT_EQ(document["faults"], kFaults);
  // The volume under the name the library gave, its device as the server
  // named it, its files where --volume says.
  const json volume = {{"name", "C:\\"},
                       {"directory", std::filesystem::path(testing::TempDir()).generic_string()},
                       {"device", "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy7"}};
  EXPECT_EQ(document["volumes"], json::array({volume}));
  // The model takes what the tool writes.
  EXPECT_EQ(simulator::parseScenario(document.dump(), "made", ".").writers.size(), 2u);

  // The earlier run on request; a volume without --volume gets an empty
  // directory, named in a note.
  EXPECT_EQ(made(kTwoRuns, 1).document["faults"][0]["call"], "CreateVssBackupComponents");
  const MadeScenario empty = made(trace(R"j(AddToSnapshotSet(D:\,{0}) {"snapshotId":"{1}"})j"));
  EXPECT_EQ(empty.emptyDirectories, std::vector<std::string>{"volume-1"});
  EXPECT_EQ(empty.document["volumes"][0]["directory"], "volume-1");
  ASSERT_EQ(empty.notes.size(), 1u);
  EXPECT_NE(empty.notes[0].find("D:\\"), std::string::npos);
}

TEST(ScenarioFromTrace, NamesTheLineItCannotTake) {
  const std::string status =
      R"j(GetWriterStatus(0) {"instanceId":"{1}","classId":"{2}","state":1,"failure":"0x00000000","name":)j";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {kHeader + "\nnot json\n", "t.jsonl:2: not a JSON object"},
      {R"j({"call":"GetPath"})j", "t.jsonl:1: expected \"call\" and \"text\" strings"},
      {R"j({"call":"GetPath","text":"GetPath()","status":"1"})j", "t.jsonl:1: expected \"status\""},
      {trace("Frobnicate()"), "t.jsonl:1: Frobnicate: not a call of the service"},
      {trace(R"j(GetIdentity(X) {"instanceId":"{1}","classId":"{2}","name":"X"})j"),
       "t.jsonl:1: GetIdentity: no GetWriterMetadata before it"},
      {trace("GetWriterMetadata(0)"), "t.jsonl:1: GetWriterMetadata: no \"result\""},
      {trace("GetWriterMetadata(x) {\"instanceId\":\"{1}\"}\nGetComponent(x)"),
       "t.jsonl:2: GetComponent: expected an index"},
      {trace(R"j(GetPath() {"path":"C:\\"})j"), "t.jsonl:1: GetPath: no GetFile, GetDatabaseFile"},
      {trace(status + "\"A\"}\n" + status + "\"B\"}"),
       "t.jsonl:2: GetWriterStatus: the writer's name B differs from A"},
      {trace(R"j(GetSnapshotProperties({1}) {"deviceObject":"x"})j"),
       "t.jsonl:1: GetSnapshotProperties: a snapshot id no AddToSnapshotSet gave"},
      {trace(R"j(PrepareForBackup.QueryStatus() {"operation":"0x80042301"})j"),
       "t.jsonl:1: PrepareForBackup.QueryStatus: no PrepareForBackup before it"},
  };
  for (const auto& c : cases) {
    try {
      made(c.text);
      ADD_FAILURE() << c.message;
    } catch (const TraceError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(c.message, 0), 0u) << error.what();
    }
  }
  EXPECT_THROW(made(kTwoRuns, 3), TraceError);
}

TEST(CompareCalls, ByNameArgumentsAndStatus) {
  // A model record of the same run: no header, no results, a status only
  // where a call failed, and entries that are not calls.
  const std::string traced = trace(kHeader + "\n" + R"j(CreateVssBackupComponents()
SetContext(0)
PrepareForBackup.QueryStatus() {"operation":"0x800423F3"}
AbortBackup() 0x80042301
Release())j");
  const std::vector<std::string> record = {
      R"j({"call":"CreateVssBackupComponents","text":"CreateVssBackupComponents()"})j",
      R"j({"call":"SetContext","text":"SetContext(0)"})j",
      R"j({"call":"Assumption","text":"Assumption(SetContext: accepted)"})j",
      R"j({"call":"PrepareForBackup.QueryStatus","text":"PrepareForBackup.QueryStatus()"})j",
      R"j({"call":"PrepareForBackup.Result","text":"PrepareForBackup.Result(0x800423f3)"})j",
      R"j({"call":"AbortBackup","text":"AbortBackup()","status":"0x80042301"})j",
      R"j({"call":"Release","text":"Release()"})j",
      R"j({"call":"Ledger","text":"Ledger(objects=0)"})j"};
  const auto joined = [&](std::size_t size, std::size_t replaced = 99,
                          const std::string& line = "") {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) text += (i == replaced ? line : record[i]) + "\n";
    return text;
  };
  const struct {
    std::string record;
    std::string report;
  } cases[] = {
      {joined(8), "the 5 calls agree\n"},
      {joined(8, 5, R"j({"call":"AbortBackup","text":"AbortBackup()"})j"),
       "call 4 differs:\na:5: AbortBackup() -> 0x80042301\nb:6: AbortBackup() -> 0x00000000\n"},
      {joined(8, 1, R"j({"call":"SetContext","text":"SetContext(9)"})j"),
       "call 2 differs:\na:3: SetContext(0) -> 0x00000000\nb:2: SetContext(9) -> 0x00000000\n"},
      {joined(4), "b ends after 3 calls; a goes on:\na:5: AbortBackup() -> 0x80042301\n"},
  };
  for (const auto& c : cases) {
    const Comparison comparison = compareCalls(parseTrace(traced, "a"), parseTrace(c.record, "b"));
    EXPECT_EQ(comparison.agree, c.report.ends_with("agree\n"));
    EXPECT_EQ(comparison.report, c.report);
  }
}

}  // namespace
}  // namespace frostcap::replay
