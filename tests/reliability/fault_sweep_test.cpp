// Every service call of a host's road, made in turn to fail with a status, to
// throw std::bad_alloc and to throw something that is no standard exception.
// Each road is first run clean and its calls recorded, so a call added to a
// road is swept without a change here. A run must end its step with the result
// and exactly the messages that the failing call and its step call for, make
// no further call in that step (handing back a description excepted), leave
// the later steps as the clean run had them (after a failed phase the host
// goes straight to the release), and give back everything it obtained.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "frame/messages.h"
#include "platform/platform.h"
#include "support/scenario.h"
#include "support/temp_dir.h"

namespace frostcap::test {
namespace {

constexpr Status kFailure = static_cast<Status>(0x80042302);         // VSS_E_UNEXPECTED
constexpr Status kPartialFailure = static_cast<Status>(0x80042336);  // a writer failed in part

enum class Step { kPerformA, kLoadComponents, kLoadFiles, kPerformB, kFree };

void scriptTwoWriters(ModelService& service) { service.writers = twoWriters(); }

struct Road {
  std::function<void(ModelService&)> script = scriptTwoWriters;
  std::function<void(frostcap_snapshot*)> configure;
  // Ends with the release; a backup's by default.
  std::vector<Step> steps = {Step::kPerformA, Step::kPerformB, Step::kFree};
  // The writer that fails in part, and the messages each of its failed
  // components yields, in order.
  std::u16string partialWriter;
  std::vector<std::vector<std::u16string>> componentMessages;
  std::shared_ptr<TempDir> disk;
};

// The label under which a failing call reports, as the library keeps it; the
// calls on an asynchronous operation, and its result, report under the label
// of the call that started it.
std::u16string labelOf(const std::string& op) {
  namespace label = messages::label;
  static const std::map<std::string, std::u16string_view> kLabels = {
      {"SetBackupState", label::kSetBackupState},
      {"SetContext", label::kSetContext},
      {"EnableWriterClasses", label::kEnableWriterClasses},
      {"GatherWriterMetadata", label::kGatherWriterMetadata},
      {"GetWriterMetadataCount", label::kGetWriterMetadataCount},
      {"GetWriterMetadata", label::kGetWriterMetadata},
      {"AddComponent", label::kAddComponent},
      {"StartSnapshotSet", label::kStartSnapshotSet},
      {"AddToSnapshotSet", label::kAddToSnapshotSet},
      {"PrepareForBackup", label::kPrepareForBackup},
      {"DoSnapshotSet", label::kDoSnapshotSet},
      {"GetSnapshotProperties", label::kGetSnapshotProperties},
      {"GatherWriterStatus", label::kGatherWriterStatus},
      {"GetWriterStatusCount", label::kGatherWriterStatus},  // the count is the gathering's
      {"GetWriterStatus", label::kGetWriterStatus},
      {"GetWriterComponents", label::kPartialGetWriterComponents},
      {"GetComponentCount", label::kPartialGetComponentCount},
      {"IVssWriterComponents::GetComponent", label::kPartialGetComponent},
      {"GetComponentName", label::kPartialGetComponentName},
      {"QueryInterface", label::kPartialQueryComponentEx2},
      {"GetFailure", label::kPartialGetFailure},
      {"SetBackupSucceeded", label::kSetBackupSucceeded},
      {"BackupComplete", label::kBackupComplete},
      {"GetFileCounts", label::kGetFileCounts},
      {"GetComponent", label::kGetComponent},
      {"GetExcludeFile", label::kGetExcludeFile},
      {"GetComponentInfo", label::kGetComponentInfo},
      {"FreeComponentInfo", label::kFreeComponentInfo},
      {"GetFile", label::kGetFile},
      {"GetDatabaseFile", label::kGetDatabaseFile},
      {"GetDatabaseLogFile", label::kGetDatabaseLogFile},
      {"GetPath", label::kGetPath},
      {"GetFilespec", label::kGetFilespec},
      {"GetRecursive", label::kGetRecursive},
  };
  const std::string call = op.substr(0, op.find('.'));
  const auto found = kLabels.find(call);
  EXPECT_TRUE(found != kLabels.end()) << "no label known for " << op << ": add it to the table";
  if (found == kLabels.end()) return u"?";
  // What a host reads names the failed call: an interface of the service and
  // its method (a count of the writers' states is their gathering's), behind
  // the status under which a writer's partial failure was looked into.
  std::u16string_view named = found->second;
  const std::u16string_view partial = u"VSS_E_WRITERERROR_PARTIAL_FAILURE -> ";
  if (named.starts_with(partial)) named.remove_prefix(partial.size());
  const std::string method =
      call == "GetWriterStatusCount" ? "GatherWriterStatus" : call.substr(call.rfind(':') + 1);
  EXPECT_TRUE((named.starts_with(u"IVss") || named.starts_with(u"QueryInterface(IID_IVss")) &&
              named.find(platform::utf8ToWide(method)) != named.npos)
      << op << " reports as " << utf8(std::u16string(found->second));
  return std::u16string(found->second);
}

struct Fault {
  std::size_t call;  // where the clean run made it
  std::string op;
  int occurrence;
  Throw kind = Throw::kNothing;
};

std::string describe(const Fault& fault) {
  static const char* const kKinds[] = {"failing", "throwing std::bad_alloc", "throwing a standard",
                                       "throwing a non-standard exception"};
  return fault.op + " #" + std::to_string(fault.occurrence) + " " +
         kKinds[static_cast<int>(fault.kind)];
}

// The detail a guard makes of what a faulty call threw.
std::u16string exceptionDetail(const Fault& fault) {
  switch (fault.kind) {
    case Throw::kBadAlloc:
      return u"{FATAL_PREFIX}: " + platform::utf8ToWide(std::bad_alloc().what());
    case Throw::kStandard:
      return u"{FATAL_PREFIX}: fault injected into " + platform::utf8ToWide(fault.op);
    default:
      return u"{FATAL_PREFIX}: {ERR_UNCAUGHT}";
  }
}

std::u16string wrap(std::u16string_view opening, std::u16string_view detail) {
  return std::u16string(opening) + u" (" + std::u16string(detail) + u")";
}

struct StepOutcome {
  Step step;
  int result = -1;  // perform functions only
  std::vector<std::u16string> messages;
  std::size_t firstCall = 0;
  std::size_t endCall = 0;
};

struct RoadRun {
  std::vector<StepOutcome> steps;
  std::vector<ModelService::Call> calls;
  // Each selected writer's first selection as the host gave it.
  std::vector<std::optional<ComponentRecord>> firstSelections;
  std::pair<std::size_t, std::size_t> catalogue;  // the calls of the preparation's catalogue
  int liveObjects = 0;
  int outstandingInfo = 0;
};

RoadRun drive(const Road& road, const std::optional<Fault>& fault) {
  ModelService service;
  road.script(service);
  if (fault && fault->kind == Throw::kNothing) {
    service.fail(fault->op, kFailure, fault->occurrence);
  } else if (fault) {
    service.raise(fault->op, fault->kind, fault->occurrence);
  }

  RoadRun run;
  frostcap_snapshot* handle = frostcap_snapshot_new();
  road.configure(handle);
  for (const auto& [writerId, writer] : handle->state.selectedWriters) {
    run.firstSelections.push_back(writer.selections.empty()
                                      ? std::nullopt
                                      : std::optional(writer.selections.front().component));
  }
  bool phaseFailed = false;
  for (const Step step : road.steps) {
    if (phaseFailed && step != Step::kFree) continue;
    StepOutcome outcome;
    outcome.step = step;
    outcome.firstCall = service.calls().size();
    try {
      switch (step) {
        case Step::kPerformA:
          outcome.result = frostcap_snapshot_perform_a(handle);
          break;
        case Step::kLoadComponents:
          frostcap_snapshot_loadWriterComponents(handle);
          break;
        case Step::kLoadFiles:
          frostcap_snapshot_loadWriterFileInfo(handle);
          break;
        case Step::kPerformB:
          outcome.result = frostcap_snapshot_perform_b(handle);
          break;
        case Step::kFree:
          frostcap_snapshot_free(handle, phaseFailed ? 0 : 1);
          handle = nullptr;
          break;
      }
    } catch (...) {
      ADD_FAILURE() << "an exception crossed the interface";
    }
    phaseFailed = phaseFailed || outcome.result == 1;
    outcome.endCall = service.calls().size();
    outcome.messages = drain(handle, frostcap_snapshot_getNextMessage);
    run.steps.push_back(std::move(outcome));
  }
  run.calls = service.calls();
  run.liveObjects = service.ledger().objects;
  run.outstandingInfo = service.ledger().componentInfo;
  return run;
}

// Every call of the clean run, with its occurrence among the calls of its
// operation; behind each status query, the result of the operation it asks.
std::vector<Fault> sweepPoints(const RoadRun& clean) {
  std::vector<Fault> points;
  std::map<std::string, int> seen;
  const std::string query = ".QueryStatus";
  for (std::size_t call = 0; call < clean.calls.size(); ++call) {
    const std::string& op = clean.calls[call].op;
    points.push_back({call, op, ++seen[op], Throw::kNothing});
    if (op.ends_with(query)) {
      points.push_back(
          {call, op.substr(0, op.size() - query.size()) + ".Result", seen[op], Throw::kNothing});
    }
  }
  return points;
}

int callsBefore(const RoadRun& run, std::size_t first, const std::string& op, std::size_t end) {
  int count = 0;
  for (std::size_t call = first; call < end; ++call) count += run.calls[call].op == op;
  return count;
}

struct Expected {
  Expected(int result = -1, std::vector<std::u16string> messages = {}, bool stepGoesOn = false)
      : result(result), messages(std::move(messages)), stepGoesOn(stepGoesOn) {}
  int result;
  std::vector<std::u16string> messages;
  bool stepGoesOn;  // further calls in the step after the failing one
};

std::vector<std::string> callTexts(const RoadRun& run, std::size_t first, std::size_t end) {
  std::vector<std::string> texts;
  for (std::size_t call = first; call < end; ++call) texts.push_back(run.calls[call].text());
  return texts;
}

// The preparation's catalogue among the clean run's calls: those that the
// catalogue makes when the host asks for it after the same preparation.
std::pair<std::size_t, std::size_t> catalogueCalls(const Road& road, const RoadRun& clean) {
  Road listing = road;
  listing.steps = {Step::kPerformA, Step::kLoadComponents, Step::kFree};
  const RoadRun run = drive(listing, std::nullopt);
  const auto listed = callTexts(run, run.steps[1].firstCall, run.steps[1].endCall);
  const auto prepared = callTexts(clean, 0, clean.steps[0].endCall);
  const auto found = std::search(prepared.begin(), prepared.end(), listed.begin(), listed.end());
  const auto first = static_cast<std::size_t>(found - prepared.begin());
  return {first, found == prepared.end() ? first : first + listed.size()};
}

Expected preparationFails(const RoadRun& clean, const Fault& fault) {
  if (fault.kind != Throw::kNothing) {
    return {1, {wrap(u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT}", exceptionDetail(fault))}};
  }
  const std::u16string status = formatStatus(kFailure);
  if (fault.op == "CreateVssBackupComponents") {
    return {1, {wrap(u"{FATAL_PREFIX}{ERR_INIT_VSS}", status)}};
  }
  if (fault.op == "InitializeForBackup") {
    return {1,
            {wrap(u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT}", u"{WARNING_PREFIX}{ERR_NO_PERMISSION}")}};
  }
  const std::u16string callText = labelOf(fault.op) + u": " + status;
  if (fault.call < clean.catalogue.first || fault.call >= clean.catalogue.second) {
    return {1, {wrap(u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT}", callText)}};
  }
  // A failure in the catalogue is only a warning. It stopped at the writer
  // whose metadata it obtained last, and the first writer from there on with a
  // selection has its component missing.
  const int stopped =
      std::max(callsBefore(clean, clean.catalogue.first, "GetWriterMetadata", fault.call + 1), 1) -
      1;
  Expected expected{0, {wrap(u"{WARNING_PREFIX}", callText)}, true};
  for (auto i = static_cast<std::size_t>(stopped); i < clean.firstSelections.size(); ++i) {
    if (!clean.firstSelections[i]) continue;
    const ComponentRecord& selection = *clean.firstSelections[i];
    expected.result = 1;
    expected.messages.push_back(
        wrap(u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT}",
             wrap(u"{FATAL_PREFIX}{ERR_NO_COMPONENT}",
                  u"Path=" + selection.logicalPath + u" Name=" + selection.componentName)));
    break;
  }
  return expected;
}

// The messages of the failed components reported before the failing call.
std::vector<std::u16string> componentMessagesBefore(const Road& road, const RoadRun& clean,
                                                    const StepOutcome& step, const Fault& fault) {
  static const std::set<std::string> kPerComponent = {"GetComponentName", "QueryInterface",
                                                      "GetFailure"};
  int reported =
      callsBefore(clean, step.firstCall, "IVssWriterComponents::GetComponent", fault.call);
  if (kPerComponent.contains(fault.op)) --reported;
  std::vector<std::u16string> messages;
  for (int i = 0; i < reported; ++i) {
    messages.insert(messages.end(), road.componentMessages[i].begin(),
                    road.componentMessages[i].end());
  }
  return messages;
}

Expected expectFault(const Road& road, const RoadRun& clean, const StepOutcome& step,
                     const Fault& fault) {
  if (step.step == Step::kPerformA) return preparationFails(clean, fault);
  if (step.step == Step::kFree) return {};  // its messages die with the handle
  const std::u16string detail = fault.kind == Throw::kNothing
                                    ? labelOf(fault.op) + u": " + formatStatus(kFailure)
                                    : exceptionDetail(fault);
  if (step.step == Step::kLoadComponents) return {-1, {wrap(u"{WARNING_PREFIX}", detail)}};
  if (step.step == Step::kLoadFiles) return {-1, {wrap(u"{WARNING_PREFIX}{ERR_FILE_SET}", detail)}};
  Expected expected{1, componentMessagesBefore(road, clean, step, fault)};
  expected.messages.push_back(wrap(u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT}", detail));
  return expected;
}

Expected expectClean(const Road& road, Step step) {
  if (step == Step::kPerformA) return {0, {}};
  if (step != Step::kPerformB) return {-1, {}};
  if (road.partialWriter.empty()) return {0, {}};
  Expected expected{1, {}};
  for (const auto& component : road.componentMessages) {
    expected.messages.insert(expected.messages.end(), component.begin(), component.end());
  }
  expected.messages.push_back(wrap(u"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT}",
                                   u"IVssBackupComponents::GetWriterStatus(" + road.partialWriter +
                                       u"): " + formatStatus(kPartialFailure)));
  return expected;
}

// The calls that ask the service which writer an entry is: when one fails,
// writers pair by position, which on these roads is the same pairing.
bool asksIdentity(const std::string& op) {
  return op == "GetIdentity" || op == "GetWriterComponentsCount" || op == "GetWriterInfo";
}

void checkFaultedRun(const Road& road, const RoadRun& clean, const Fault& fault) {
  SCOPED_TRACE(describe(fault));
  const RoadRun run = drive(road, fault);
  EXPECT_EQ(run.liveObjects, 0) << "objects obtained from the service were not released";
  EXPECT_EQ(run.outstandingInfo, 0) << "component descriptions not handed back";
  if (fault.kind == Throw::kNothing && asksIdentity(fault.op)) {
    EXPECT_EQ(callTexts(run, 0, run.calls.size()), callTexts(clean, 0, clean.calls.size()));
    ASSERT_EQ(run.steps.size(), clean.steps.size());
    for (std::size_t step = 0; step < run.steps.size(); ++step) {
      EXPECT_EQ(run.steps[step].result, clean.steps[step].result);
      EXPECT_EQ(run.steps[step].messages, clean.steps[step].messages);
    }
    return;
  }

  std::size_t s = 0;
  while (clean.steps[s].endCall <= fault.call) ++s;
  const StepOutcome& cleanStep = clean.steps[s];
  ASSERT_GT(run.steps.size(), s);
  ASSERT_GT(run.calls.size(), fault.call);
  // The same road up to the failing call: the sweep hit the call it meant.
  ASSERT_EQ(callTexts(run, 0, fault.call + 1), callTexts(clean, 0, fault.call + 1));
  for (std::size_t before = 0; before < s; ++before) {
    EXPECT_EQ(run.steps[before].result, clean.steps[before].result);
    EXPECT_EQ(run.steps[before].messages, clean.steps[before].messages);
  }

  const Expected expected = expectFault(road, clean, cleanStep, fault);
  const StepOutcome& step = run.steps[s];
  EXPECT_EQ(step.result, expected.result);
  if (step.step != Step::kFree) {
    EXPECT_EQ(step.messages, expected.messages);
  }
  if (!expected.stepGoesOn) {
    for (std::size_t call = fault.call + 1; call < step.endCall; ++call) {
      EXPECT_EQ(run.calls[call].op, "FreeComponentInfo")
          << "a call after the failing one: " << run.calls[call].text();
    }
  }

  if (step.step == Step::kFree) return;
  if (step.result == 1) {
    // A failed phase sends the host to the release.
    EXPECT_EQ(run.steps.size(), s + 2);
    EXPECT_EQ(run.steps.back().step, Step::kFree);
    return;
  }
  ASSERT_EQ(run.steps.size(), clean.steps.size());
  for (std::size_t later = s + 1; later < clean.steps.size(); ++later) {
    EXPECT_EQ(run.steps[later].result, clean.steps[later].result);
    EXPECT_EQ(run.steps[later].messages, clean.steps[later].messages);
    EXPECT_EQ(callTexts(run, run.steps[later].firstCall, run.steps[later].endCall),
              callTexts(clean, clean.steps[later].firstCall, clean.steps[later].endCall))
        << "the handle behaves differently after the failure";
  }
}

// The roads.

Road fullBackup() {
  Road road;
  road.configure = [](frostcap_snapshot* handle) {
    selectTwoWriters(handle);
    addVolumes(handle, {u"C:\\", u"D:\\", u"E:\\"});
  };
  return road;
}

Road volumeOnly() {
  Road road;
  road.configure = [](frostcap_snapshot* handle) { addVolumes(handle, {u"C:\\", u"D:\\"}); };
  return road;
}

// A second listing shows that the handle is still of use after a failed one.
Road catalogue() {
  Road road;
  road.configure = selectTwoWriters;
  road.steps = {Step::kPerformA, Step::kLoadComponents, Step::kLoadComponents, Step::kFree};
  return road;
}

FileSpec descriptor(std::optional<std::u16string> path, const std::u16string& filespec) {
  return {std::move(path), filespec, false};
}

Road inventory() {
  Road road;
  road.disk = std::make_shared<TempDir>();
  for (const char* name : {"live/db/main.edb", "live/db/notes.txt", "live/logs/a.log",
                           "live/logs/b.log", "live/tmp/scratch", "live/docs/report.doc",
                           "shadow/db/main.edb", "shadow/logs/a.log", "shadow/tmp/scratch"}) {
    road.disk->file(name);
  }
  const std::u16string live = road.disk->path("live");
  const std::u16string shadow = road.disk->path("shadow", false);
  road.script = [live, shadow](ModelService& service) {
    service.writers = twoWriters();
    WriterSpec& database = service.writers[0];
    database.components[0].files = {descriptor(live + u"db", u"*.edb")};
    database.components[0].databases = {descriptor(live + u"db\\", u"notes.txt"),
                                        descriptor(std::nullopt, u"*")};
    database.components[0].logs = {descriptor(live + u"logs", u"*.log")};
    database.components[1].files = {descriptor(live + u"logs", u"b.log")};
    database.excludes = {descriptor(live + u"tmp", u"*")};
    WriterSpec& files = service.writers[1];
    files.components[0].files = {descriptor(live + u"docs", u"*"),
                                 descriptor(live + u"none", u"*.doc")};
    files.excludes = {descriptor(live + u"cache", u"*.bin")};
    service.volumes = {{live, {}, shadow}};
  };
  road.configure = [live](frostcap_snapshot* handle) {
    selectTwoWriters(handle);
    addVolumes(handle, {live});
  };
  road.steps = {Step::kPerformA, Step::kLoadFiles, Step::kPerformB, Step::kLoadFiles, Step::kFree};
  return road;
}

Road writerFailedInPart() {
  const vss::ComponentFailure documents{static_cast<Status>(0x800423F3),
                                        static_cast<Status>(0x800423F4), u"disk full"};
  const vss::ComponentFailure archive{0, 0x0004230A, u"retry later"};
  Road road;
  road.script = [documents, archive](ModelService& service) {
    service.writers = twoWriters();
    service.writers[1].status = kPartialFailure;
    service.writers[1].failedComponents = {{u"Documents", documents}, {u"Archive", archive}};
  };
  road.configure = [](frostcap_snapshot* handle) {
    selectTwoWriters(handle);
    addVolumes(handle, {u"C:\\"});
  };
  road.partialWriter = u"Files Writer";
  road.componentMessages = {
      {u"{ERR_COMPONENT_VSS}: (Documents): " + formatStatus(documents.hr),
       u"{ERR_COMPONENT_APP}: (Documents): " + formatStatus(documents.hrApplication),
       u"{ERR_COMPONENT_CUST}: (Documents): disk full"},
      {u"{ERR_COMPONENT_CUST}: (Archive): retry later"}};
  return road;
}

struct RoadCase {
  const char* name;
  Road (*make)();

  friend void PrintTo(const RoadCase& road, std::ostream* out) { *out << road.name; }
};

class FaultSweep : public testing::TestWithParam<RoadCase> {};

TEST_P(FaultSweep, EveryCallFailingOrThrowingEndsAsItsStepPrescribes) {
  const Road road = GetParam().make();
  RoadRun clean = drive(road, std::nullopt);
  ASSERT_EQ(clean.steps.size(), road.steps.size());
  clean.catalogue = catalogueCalls(road, clean);
  for (const StepOutcome& step : clean.steps) {
    const Expected expected = expectClean(road, step.step);
    ASSERT_EQ(step.result, expected.result) << "the clean road fails";
    ASSERT_EQ(step.messages, expected.messages) << "the clean road fails";
  }
  ASSERT_EQ(clean.liveObjects, 0);

  const std::vector<Fault> points = sweepPoints(clean);
  int runs = 0;
  for (const Throw kind : {Throw::kNothing, Throw::kBadAlloc, Throw::kNonStandard}) {
    for (Fault fault : points) {
      fault.kind = kind;
      // An operation's own status is a value, not a call: nothing can throw it.
      if (kind != Throw::kNothing && fault.op.ends_with(".Result")) continue;
      checkFaultedRun(road, clean, fault);
      ++runs;
      if (HasFatalFailure()) return;
    }
  }
  RecordProperty("calls_swept", static_cast<int>(points.size()));
  RecordProperty("runs", runs);
  std::cout << "[ sweep    ] " << GetParam().name << ": " << points.size() << " calls swept, "
            << runs << " runs\n";
}

INSTANTIATE_TEST_SUITE_P(Roads, FaultSweep,
                         testing::Values(RoadCase{"FullBackup", fullBackup},
                                         RoadCase{"VolumeOnly", volumeOnly},
                                         RoadCase{"Catalogue", catalogue},
                                         RoadCase{"Inventory", inventory},
                                         RoadCase{"WriterFailedInPart", writerFailedInPart}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace frostcap::test
