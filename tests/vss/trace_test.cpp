// The trace: one JSON line per call the library makes to the service, whose
// calls and texts are those of the model's record for the same run, and a
// file of its own that nothing the trace meets there can redirect.

#include "vss/trace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "support/scenario.h"
#include "support/temp_dir.h"

namespace frostcap::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr std::uint32_t kPartialFailure = 0x80042336;
constexpr std::uint32_t kRetryable = 0x800423F3;
constexpr std::uint32_t kNotSupported = 0x8004230C;

std::vector<json> traceLines(const fs::path& file) {
  std::vector<json> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
  return lines;
}

// The trace is on for the life of the object, into `file`.
struct TraceOn {
  explicit TraceOn(const fs::path& file) { started = vss::startTrace(file.u16string()); }
  ~TraceOn() { vss::stopTrace(); }
  bool started;
};

// Two backups into one trace: the first fails after the preparation with a
// writer failed in part (so that every kind of object the service hands out
// is met), the second at its second volume.
TEST(Trace, ListsEachCallAsTheRecordDoesWithWhatItAnsweredAndHandedBack) {
  TempDir dir;
  const fs::path file = dir.host("trace.jsonl");
  std::vector<std::string> recorded;
  {
    TraceOn trace(file);
    ASSERT_TRUE(trace.started);
    Session writerFails;
    WriterSpec& database = writerFails.service.writers[0];
    database.components[0].files = {{u"C:\\Store", u"*.edb", false}};
    database.status = Status(kPartialFailure);
    database.failedComponents = {{u"Mail", {Status(kRetryable), Status(0x80070005), u"disk full"}}};
    writerFails.selectTwoWriters();
    writerFails.addVolumes({u"C:\\"});
    ASSERT_EQ(frostcap_snapshot_perform_a(writerFails.handle), 0);
    frostcap_snapshot_loadWriterFileInfo(writerFails.handle);
    EXPECT_EQ(frostcap_snapshot_perform_b(writerFails.handle), 1);
    writerFails.free(0);

    Session volumeRefused;
    volumeRefused.service.fail("AddToSnapshotSet", Status(kNotSupported), 2);
    volumeRefused.addVolumes({u"C:\\", u"D:\\"});
    ASSERT_EQ(frostcap_snapshot_perform_a(volumeRefused.handle), 0);
    EXPECT_EQ(frostcap_snapshot_perform_b(volumeRefused.handle), 1);
    volumeRefused.free(0);
    for (const Session* session : {&writerFails, &volumeRefused}) {
      for (const ModelService::Call& call : session->service.calls()) {
        recorded.push_back(call.op + " " + call.text());
      }
      recorded.push_back("Release Release()");
    }
  }
  const std::vector<json> lines = traceLines(file);
  ASSERT_FALSE(lines.empty());
  std::vector<std::string> traced;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    traced.push_back(lines[i].at("call").get<std::string>() + " " +
                     lines[i].at("text").get<std::string>());
    if (lines[i]["call"] != "Release") {
      EXPECT_TRUE(lines[i].at("us").is_number_integer());
    }
  }
  EXPECT_EQ(traced, recorded) << "the trace and the model's record are two observers of one run";

  const std::string databaseInstance = text(kDatabaseWriterInstance);
  const std::string databaseClass = text(kDatabaseWriterClass);
  const struct {
    const char* text;
    const char* status;
    json result;  // null: the line has none
  } expected[] = {
      {"CreateVssBackupComponents()", "0x00000000", nullptr},
      {"GetWriterMetadataCount()", "0x00000000", {{"count", 2}}},
      {"GetWriterMetadata(0)", "0x00000000", {{"instanceId", databaseInstance}}},
      {"GetIdentity(Database Writer)",
       "0x00000000",
       {{"instanceId", databaseInstance}, {"classId", databaseClass}, {"name", "Database Writer"}}},
      {"GetFileCounts(Database Writer)",
       "0x00000000",
       {{"includeFiles", 0}, {"excludeFiles", 0}, {"components", 2}}},
      {"GetComponentInfo(Mail)",
       "0x00000000",
       {{"type", 1},
        {"logicalPath", "Store\\Main"},
        {"componentName", "Mail"},
        {"selectable", true},
        {"fileCount", 1},
        {"databaseCount", 0},
        {"logFileCount", 0}}},
      {"GetPath()", "0x00000000", {{"path", "C:\\Store"}}},
      {"GetFilespec()", "0x00000000", {{"filespec", "*.edb"}}},
      {"GetRecursive()", "0x00000000", {{"recursive", false}}},
      {"GatherWriterMetadata.QueryStatus()", "0x00000000", {{"operation", "0x00000000"}}},
      {"StartSnapshotSet()",
       "0x00000000",
       {{"snapshotSetId", "{00000001-5353-1000-8000-000000000000}"}}},
      {"GetWriterStatus(0)",
       "0x00000000",
       {{"instanceId", databaseInstance},
        {"classId", databaseClass},
        {"name", "Database Writer"},
        {"state", 0},
        {"failure", "0x80042336"}}},
      {"GetWriterInfo(Database Writer)",
       "0x00000000",
       {{"instanceId", databaseInstance}, {"classId", databaseClass}}},
      {"GetComponentName()", "0x00000000", {{"name", "Mail"}}},
      {"QueryInterface(IVssComponentEx2)", "0x00000000", nullptr},
      {"GetFailure(Mail)",
       "0x00000000",
       {{"hr", "0x800423F3"},
        {"hrApplication", "0x80070005"},
        {"applicationMessage", "disk full"}}},
      {"AddToSnapshotSet(D:\\,{00000000-0000-0000-0000-000000000000})", "0x8004230C", nullptr},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.text);
    const auto line = std::find_if(lines.begin(), lines.end(),
                                   [&](const json& l) { return l.value("text", "") == e.text; });
    ASSERT_NE(line, lines.end());
    EXPECT_EQ(line->at("status"), e.status);
    EXPECT_EQ(line->contains("result") ? line->at("result") : json(nullptr), e.result);
  }
}

// Where the trace writes and where it refuses to. Whatever it meets, the
// backup goes on as it would untraced.
TEST(Trace, AppendsOnlyToAFileOfItsOwn) {
  const struct {
    const char* what;
    const char* name;      // in a fresh directory
    const char* existing;  // a line the file holds before, or null
    bool link;             // a symbolic link at the name, to another file
    bool opens;
  } cases[] = {
      {"a new file", "trace.jsonl", nullptr, false, true},
      {"an existing file", "trace.jsonl", "{\"call\":\"earlier\"}", false, true},
      {"a missing directory", "missing/trace.jsonl", nullptr, false, false},
      {"a directory", ".", nullptr, false, false},
#ifndef _WIN32
      {"a symbolic link", "trace.jsonl", nullptr, true, false},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const fs::path file = dir.host(c.name);
    if (c.existing) std::ofstream(file) << c.existing << '\n';
    if (c.link) {
      std::ofstream(dir.host("target")) << "kept\n";
      fs::create_symlink(dir.host("target"), file);
    }
    {
      TraceOn trace(file);
      EXPECT_EQ(trace.started, c.opens);
      EXPECT_EQ(vss::traceOn(), c.opens);
      Session session;
      session.addVolumes({u"C:\\"});
      EXPECT_EQ(frostcap_snapshot_perform_a(session.handle), 0);
      EXPECT_EQ(frostcap_snapshot_perform_b(session.handle), 0);
    }
    if (c.link) {
      std::ifstream target(dir.host("target"));
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(target), {}), "kept\n");
    }
    if (!c.opens) continue;
    std::vector<json> lines = traceLines(file);
    if (c.existing) {
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.front(), json::parse(c.existing));
      lines.erase(lines.begin());
    }
    ASSERT_GE(lines.size(), 2U);
    const json& header = lines.front();
    EXPECT_EQ(header.at("call"), "Trace");
    EXPECT_EQ(header.at("text"), "Trace(frostcap " FROSTCAP_VERSION ")");
    EXPECT_TRUE(header.at("pid").is_number_integer());
    EXPECT_TRUE(std::regex_match(header.at("time").get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    EXPECT_EQ(lines.back(), json::parse(R"j({"call":"Release","text":"Release()"})j"));
#ifndef _WIN32
    if (!c.existing) {
      EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    }
#endif
  }
}

// Turned off, the trace wraps no new object; an object made while it was on
// keeps writing to its file until it goes.
TEST(Trace, OffWrapsNothingNew) {
  TempDir dir;
  const fs::path file = dir.host("trace.jsonl");
  Session before, after;
  before.addVolumes({u"C:\\"});
  after.addVolumes({u"C:\\"});
  {
    TraceOn trace(file);
    ASSERT_TRUE(trace.started);
    ASSERT_EQ(frostcap_snapshot_perform_a(before.handle), 0);
  }
  EXPECT_FALSE(vss::traceOn());
  ASSERT_EQ(frostcap_snapshot_perform_a(after.handle), 0);
  ASSERT_EQ(frostcap_snapshot_perform_b(before.handle), 0);
  after.free(0);
  before.free(0);
  std::vector<std::string> calls;
  for (const json& line : traceLines(file)) calls.push_back(line.at("call"));
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "CreateVssBackupComponents"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "DoSnapshotSet"), 1);
  EXPECT_EQ(calls.back(), "Release");
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "Release"), 1);
}

}  // namespace
}  // namespace frostcap::test
