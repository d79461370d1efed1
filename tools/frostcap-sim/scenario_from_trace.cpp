#include "scenario_from_trace.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <set>
#include <string_view>
#include <utility>

#include "compare_calls.h"
#include "platform/platform.h"
#include "simulator/faultable_calls.h"
#include "simulator/volume_names.h"

namespace frostcap::replay {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// No server lists as many writers, components or files: a count or index
// beyond is a damaged line, not something to make room for.
constexpr std::uint64_t kMostListed = 100000;
constexpr std::uint32_t kAsyncFinished = 0x0004230A;  // VSS_S_ASYNC_FINISHED
constexpr std::string_view kAsynchronous[] = {"GatherWriterMetadata", "PrepareForBackup",
                                              "DoSnapshotSet", "GatherWriterStatus",
                                              "BackupComplete"};
// Calls the model takes that never reach a scenario.
constexpr std::string_view kOtherCalls[] = {"Release", "CreateVssExamineWriterMetadata",
                                            "SaveAsXML", "IsVolumeSnapshotted",
                                            "ShouldBlockRevert"};

template <std::size_t N>
bool among(std::string_view call, const std::string_view (&names)[N]) {
  return std::find(std::begin(names), std::end(names), call) != std::end(names);
}

struct File {
  std::optional<std::string> path;
  std::string filespec;
  bool recursive = false;
};

struct Component {
  std::uint32_t type = 2;
  std::string logicalPath;
  std::optional<std::string> name;  // nothing: never described in the trace
  bool selectable = true;
  std::vector<File> files, databases, logs;
};

struct Writer {
  std::string instanceId;
  std::optional<std::string> classId;
  std::optional<std::string> name;
  std::optional<std::uint32_t> failure;
  std::optional<std::int64_t> state;
  std::vector<Component> components;
  std::vector<File> excludes;
  ordered_json failedComponents = ordered_json::array();
};

struct VolumeSeen {
  std::string name;
  std::optional<std::string> device;
};

// A VSS_WRITER_STATE from VSS_WS_FAILED_AT_IDENTIFY on is a failure.
bool failedState(std::int64_t state) { return state >= 7; }

class Converter {
 public:
  Converter(const TraceFile& trace, const ScenarioOptions& options)
      : source_(trace.source), options_(options) {}

  MadeScenario convert(const std::vector<TraceLine>& run) {
    for (const TraceLine& line : run) take(line);
    return finish();
  }

 private:
  [[noreturn]] void fail(const TraceLine& line, const std::string& why) const {
    throw TraceError(where(source_, line) + line.call + ": " + why);
  }

  // The member `key` of the line's result, of the kind `is` accepts.
  const json& result(const TraceLine& line, const char* key, bool (json::*is)() const noexcept,
                     const char* kind) const {
    const auto found = line.entry.find("result");
    if (found == line.entry.end() || !found->is_object()) {
      fail(line, "no \"result\" (a model record has none: give a trace)");
    }
    const auto member = found->find(key);
    if (member == found->end() || !((*member).*is)()) {
      fail(line, std::string("expected \"") + key + "\" in its result as " + kind);
    }
    return *member;
  }
  std::string text(const TraceLine& line, const char* key) const {
    return result(line, key, &json::is_string, "a string");
  }
  std::uint32_t count(const TraceLine& line, const char* key) const {
    const json& value = result(line, key, &json::is_number_unsigned, "a count");
    if (value.get<std::uint64_t>() >= kMostListed)
      fail(line, std::string("\"") + key + "\" too large");
    return value.get<std::uint32_t>();
  }
  std::uint32_t status(const TraceLine& line, const char* key) const {
    const std::string value = text(line, key);
    if (value.size() != 10 || value.rfind("0x", 0) != 0 ||
        value.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos) {
      fail(line, std::string("expected \"") + key + "\" as \"0x\" and eight hex digits");
    }
    return static_cast<std::uint32_t>(std::stoul(value.substr(2), nullptr, 16));
  }
  // The argument text between the call's parentheses.
  std::string arguments(const TraceLine& line) const {
    const std::size_t open = line.text.find('(');
    if (open == std::string::npos || line.text.back() != ')')
      fail(line, "expected CALL(ARGUMENTS)");
    return line.text.substr(open + 1, line.text.size() - open - 2);
  }
  std::uint32_t index(const TraceLine& line) const {
    const std::string digits = arguments(line);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      fail(line, "expected an index below 100000 as its argument");
    }
    return static_cast<std::uint32_t>(std::stoul(digits));
  }

  Writer& writerWith(const std::string& instanceId) {
    for (Writer& writer : writers_) {
      if (writer.instanceId == instanceId) return writer;
    }
    return writers_.emplace_back(Writer{instanceId, {}, {}, {}, {}, {}, {}, ordered_json::array()});
  }
  // Sets `field` to `value`, which it must have if it has one already.
  void settle(const TraceLine& line, std::optional<std::string>& field, const std::string& value,
              const char* what) const {
    if (field && *field != value) {
      fail(line, std::string("the writer's ") + what + " " + value + " differs from " + *field +
                     " given before");
    }
    field = value;
  }
  template <typename T>
  static T& grownTo(std::vector<T>& items, std::size_t size) {
    if (items.size() < size + 1) items.resize(size + 1);
    return items[size];
  }

  Writer& metadataWriter(const TraceLine& line) {
    if (!metadataWriter_) fail(line, "no GetWriterMetadata before it");
    return *metadataWriter_;
  }
  Component& component(const TraceLine& line) {
    if (!component_) fail(line, "no GetComponent before it");
    return *component_;
  }
  File& descriptor(const TraceLine& line) {
    if (!descriptor_)
      fail(line,
           "no GetFile, GetDatabaseFile, GetDatabaseLogFile or "
           "GetExcludeFile before it");
    return *descriptor_;
  }

  void take(const TraceLine& line) {
    if (!isCallEntry(line.call) || line.call == "Release") return;
    const bool known = simulator::isFaultableCall(line.call) || among(line.call, kOtherCalls);
    if (!known) fail(line, "not a call of the service that a scenario knows");
    const int occurrence = ++occurrences_[line.call];
    if (line.status != 0) fault(line, line.call, line.status, occurrence);
    if (static_cast<std::int32_t>(line.status) < 0) return;
    if (among(line.call, kAsynchronous)) ++started_[line.call];
    read(line);
  }

  void fault(const TraceLine& line, const std::string& call, std::uint32_t status, int occurrence) {
    if (!simulator::isFaultableCall(call)) {
      notes_.push_back(where(source_, line) + call + " answered " + statusText(status) +
                       ", which a scenario cannot replay");
      return;
    }
    faults_.push_back({{"call", call}, {"status", statusText(status)}, {"occurrence", occurrence}});
  }

  // What a call that succeeded tells of the server.
  void read(const TraceLine& line) {
    const std::string& call = line.call;
    if (call == "GetWriterMetadata") {
      metadataWriter_ = &writerWith(text(line, "instanceId"));
      component_ = nullptr;
      descriptor_ = nullptr;
    } else if (call == "GetIdentity") {
      Writer& writer = metadataWriter(line);
      if (text(line, "instanceId") != writer.instanceId) {
        fail(line, "an instance id other than GetWriterMetadata gave");
      }
      settle(line, writer.classId, text(line, "classId"), "class id");
      settle(line, writer.name, text(line, "name"), "name");
    } else if (call == "GetFileCounts") {
      Writer& writer = metadataWriter(line);
      if (const std::uint32_t n = count(line, "excludeFiles")) grownTo(writer.excludes, n - 1);
      if (const std::uint32_t n = count(line, "components")) grownTo(writer.components, n - 1);
      component_ = nullptr;
      descriptor_ = nullptr;
    } else if (call == "GetExcludeFile") {
      descriptor_ = &grownTo(metadataWriter(line).excludes, index(line));
    } else if (call == "GetComponent") {
      component_ = &grownTo(metadataWriter(line).components, index(line));
      descriptor_ = nullptr;
    } else if (call == "GetComponentInfo") {
      describe(line, component(line));
    } else if (call == "GetFile") {
      descriptor_ = &grownTo(component(line).files, index(line));
    } else if (call == "GetDatabaseFile") {
      descriptor_ = &grownTo(component(line).databases, index(line));
    } else if (call == "GetDatabaseLogFile") {
      descriptor_ = &grownTo(component(line).logs, index(line));
    } else if (call == "GetPath") {
      const json& path = result(line, "path", &json::is_primitive, "a string or null");
      if (!path.is_null() && !path.is_string()) fail(line, "expected \"path\" as a string or null");
      descriptor(line).path =
          path.is_null() ? std::nullopt : std::optional<std::string>(path.get<std::string>());
    } else if (call == "GetFilespec") {
      descriptor(line).filespec = text(line, "filespec");
    } else if (call == "GetRecursive") {
      descriptor(line).recursive = result(line, "recursive", &json::is_boolean, "true or false");
    } else if (call == "GetWriterStatus") {
      writerStatus(line);
    } else if (call == "GetWriterInfo") {
      componentsWriter_ = &writerWith(text(line, "instanceId"));
      settle(line, componentsWriter_->classId, text(line, "classId"), "class id");
    } else if (call == "GetComponentName") {
      componentName_ = text(line, "name");
    } else if (call == "GetFailure") {
      componentFailure(line);
    } else if (call == "AddToSnapshotSet") {
      addVolume(line);
    } else if (call == "GetSnapshotProperties") {
      const auto volume = snapshots_.find(arguments(line));
      if (volume == snapshots_.end()) fail(line, "a snapshot id no AddToSnapshotSet gave");
      volumes_[volume->second].device = text(line, "deviceObject");
    } else if (call.size() > 12 && call.substr(call.size() - 12) == ".QueryStatus") {
      const std::string operation = call.substr(0, call.size() - 12);
      const std::uint32_t outcome = status(line, "operation");
      if (outcome == 0 || outcome == kAsyncFinished) return;
      const int occurrence = started_[operation];
      if (occurrence == 0) fail(line, "no " + operation + " before it");
      if (outcomes_.insert({operation, occurrence}).second) {
        fault(line, operation + ".Result", outcome, occurrence);
      }
    }
  }

  void describe(const TraceLine& line, Component& component) {
    component.type = count(line, "type");
    component.logicalPath = text(line, "logicalPath");
    component.name = text(line, "componentName");
    component.selectable = result(line, "selectable", &json::is_boolean, "true or false");
    const auto size = [&](std::vector<File>& files, const char* key) {
      if (const std::uint32_t n = count(line, key)) grownTo(files, n - 1);
    };
    size(component.files, "fileCount");
    size(component.databases, "databaseCount");
    size(component.logs, "logFileCount");
    descriptor_ = nullptr;
  }

  // The service reports one state per writer: a failure, once seen, is the
  // one to replay; otherwise the last state given.
  void writerStatus(const TraceLine& line) {
    Writer& writer = writerWith(text(line, "instanceId"));
    settle(line, writer.classId, text(line, "classId"), "class id");
    settle(line, writer.name, text(line, "name"), "name");
    const json& state = result(line, "state", &json::is_number_integer, "a writer state number");
    const std::uint32_t failure = status(line, "failure");
    if (writer.state && failedState(*writer.state) && !failedState(state.get<std::int64_t>())) {
      return;
    }
    if (writer.state && *writer.state != state.get<std::int64_t>()) {
      notes_.push_back(where(source_, line) + "the writer " + *writer.name +
                       " changes state; the scenario gives it the state " +
                       std::to_string(state.get<std::int64_t>()) + " throughout");
    }
    writer.state = state.get<std::int64_t>();
    writer.failure = failure;
  }

  void componentFailure(const TraceLine& line) {
    if (!componentsWriter_) fail(line, "no GetWriterInfo before it");
    if (!componentName_) fail(line, "no GetComponentName before it");
    const std::uint32_t hr = status(line, "hr");
    const std::uint32_t application = status(line, "hrApplication");
    const std::string message = text(line, "applicationMessage");
    if (hr == 0 && application == 0 && message.empty()) return;
    ordered_json& failed = componentsWriter_->failedComponents;
    if (std::any_of(failed.begin(), failed.end(),
                    [&](const ordered_json& c) { return c["name"] == *componentName_; })) {
      return;
    }
    failed.push_back({{"name", *componentName_},
                      {"status", statusText(hr)},
                      {"applicationStatus", statusText(application)},
                      {"message", message}});
  }

  void addVolume(const TraceLine& line) {
    const std::string given = arguments(line);
    const std::size_t comma = given.rfind(',');
    if (comma == std::string::npos || comma == 0) fail(line, "expected VOLUME,PROVIDER");
    const std::string name = given.substr(0, comma);
    const std::u16string key = simulator::volumeKey(platform::utf8ToWide(name));
    auto volume = std::find_if(volumes_.begin(), volumes_.end(), [&](const VolumeSeen& v) {
      return simulator::volumeKey(platform::utf8ToWide(v.name)) == key;
    });
    if (volume == volumes_.end()) volume = volumes_.insert(volumes_.end(), VolumeSeen{name, {}});
    snapshots_[text(line, "snapshotId")] = static_cast<std::size_t>(volume - volumes_.begin());
  }

  static ordered_json file(const File& file) {
    return {{"path", file.path ? ordered_json(*file.path) : ordered_json(nullptr)},
            {"filespec", file.filespec},
            {"recursive", file.recursive}};
  }
  static ordered_json files(const std::vector<File>& list) {
    ordered_json out = ordered_json::array();
    for (const File& f : list) out.push_back(file(f));
    return out;
  }

  ordered_json writerDocument(const Writer& writer) {
    ordered_json out;
    out["classId"] = writer.classId.value_or("{00000000-0000-0000-0000-000000000000}");
    out["instanceId"] = writer.instanceId;
    if (!writer.name) {
      notes_.push_back("the writer " + writer.instanceId +
                       " was never identified in the trace; it has no name in the scenario");
    }
    out["name"] = writer.name.value_or("");
    if (writer.failure && *writer.failure != 0) out["status"] = statusText(*writer.failure);
    if (writer.state) out["state"] = *writer.state;
    ordered_json components = ordered_json::array();
    for (std::size_t i = 0; i < writer.components.size(); ++i) {
      const Component& c = writer.components[i];
      const std::string name = c.name.value_or("component " + std::to_string(i) + " not traced");
      components.push_back({{"type", c.type == 1   ? ordered_json("database")
                                     : c.type == 2 ? ordered_json("filegroup")
                                                   : ordered_json(c.type)},
                            {"logicalPath", c.logicalPath},
                            {"name", name},
                            {"selectable", c.selectable},
                            {"files", files(c.files)},
                            {"databases", files(c.databases)},
                            {"logs", files(c.logs)}});
    }
    out["components"] = std::move(components);
    out["excludes"] = files(writer.excludes);
    if (!writer.failedComponents.empty()) out["failedComponents"] = writer.failedComponents;
    return out;
  }

  ordered_json volumeDocument(const VolumeSeen& volume, MadeScenario& made) {
    ordered_json out = {{"name", volume.name}};
    const std::u16string key = simulator::volumeKey(platform::utf8ToWide(volume.name));
    const auto given =
        std::find_if(options_.volumeDirectories.begin(), options_.volumeDirectories.end(),
                     [&](const auto& entry) { return simulator::volumeKey(entry.first) == key; });
    if (given != options_.volumeDirectories.end()) {
      out["directory"] = given->second.generic_string();
    } else {
      const std::string directory = "volume-" + std::to_string(made.emptyDirectories.size() + 1);
      made.emptyDirectories.push_back(directory);
      notes_.push_back("the volume " + volume.name +
                       " has no --volume: its files are not in a "
                       "trace, so the empty directory " +
                       directory +
                       " beside the scenario "
                       "stands for it");
      out["directory"] = directory;
    }
    if (volume.device) out["device"] = *volume.device;
    return out;
  }

  MadeScenario finish() {
    MadeScenario made;
    ordered_json& document = made.document;
    document["description"] = "Made by frostcap-sim from " + source_;
    document["volumes"] = ordered_json::array();
    for (const VolumeSeen& volume : volumes_) {
      document["volumes"].push_back(volumeDocument(volume, made));
    }
    document["writers"] = ordered_json::array();
    for (const Writer& writer : writers_) document["writers"].push_back(writerDocument(writer));
    document["faults"] = faults_;
    made.notes = std::move(notes_);
    return made;
  }

  const std::string& source_;
  const ScenarioOptions& options_;
  std::deque<Writer> writers_;  // in the order the server reported them
  std::vector<VolumeSeen> volumes_;
  std::map<std::string, std::size_t> snapshots_;  // snapshot id -> volume
  ordered_json faults_ = ordered_json::array();
  std::map<std::string, int> occurrences_;
  std::map<std::string, int> started_;  // asynchronous operations under way, by name
  std::set<std::pair<std::string, int>> outcomes_;
  Writer* metadataWriter_ = nullptr;
  Component* component_ = nullptr;
  File* descriptor_ = nullptr;
  Writer* componentsWriter_ = nullptr;
  std::optional<std::string> componentName_;
  std::vector<std::string> notes_;
};

}  // namespace

MadeScenario scenarioFromTrace(const TraceFile& trace, const ScenarioOptions& options) {
  return Converter(trace, options).convert(selectRun(trace, options.run));
}

}  // namespace frostcap::replay
