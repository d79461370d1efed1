// Reading scenario files.
//
// A scenario is one JSON object; // and /* */ comments are allowed. For
// example, one volume and one writer whose DoSnapshotSet fails:
//
//   {"volumes": [{"name": "C:\\", "directory": "volume"}],
//    "writers": [{"classId": "{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}",
//                 "instanceId": "{8F0E6B12-3C4D-4A5B-8E7F-102132435465}",
//                 "name": "Mail Store Writer",
//                 "components": [{"type": "database", "logicalPath": "Mail",
//                                 "name": "Mailbox Database",
//                                 "databases": [{"path": "C:\\Data", "filespec": "*.edb"}]}]}],
//    "faults": [{"call": "DoSnapshotSet", "status": "0x80042306"}]}
//
// The members, each optional with the default after "=" unless required:
//
//   top level    description (text, ignored), volumes, writers, faults,
//                refuseUnprepared = false (true: GatherWriterStatus where no
//                writer metadata was gathered answers VSS_E_BAD_STATE, and
//                SetBackupSucceeded of a component never added
//                VSS_E_OBJECT_NOT_FOUND, each a breach; false: both are
//                accepted as assumptions, except the mark of a component the
//                writer does not have, which answers VSS_E_OBJECT_NOT_FOUND)
//   volume       name (required): what hosts pass, e.g. C:\ or /srv/data;
//                directory (required): an existing directory, relative to the
//                scenario file's folder; device: the device name of its
//                shadow copy, in place of the one the service makes up ("":
//                a provider that maps no device; no two volumes name the same
//                device, and the service never hands out one they name);
//                vanishAfter: milliseconds after which the service deletes
//                each shadow copy of the volume, as when its storage area
//                fills up while it is being read (its files go, and
//                GetSnapshotProperties no longer finds it)
//   writer       classId, instanceId (required GUIDs, instance ids distinct),
//                name (required), status = 0 (the failure GetWriterStatus
//                reports), state = 1, or 8 when status is a failure,
//                components, excludes (FILEs), failedComponents,
//                restoreMethod (none: GetRestoreMethod answers S_FALSE),
//                alternateLocations (FILEs, each with its alternateLocation:
//                the writer's alternate location mappings), backupSchema = 0
//                (the VSS_BACKUP_SCHEMA flags GetBackupSchema reports)
//   restore      method (required): "restoreIfNotThere",
//   method       "restoreIfCanReplace", "stopRestoreStart", "restoreToAlternateLocation",
//                "restoreAtReboot", "restoreAtRebootIfCannotReplace", "custom",
//                "restoreStopStart" or a VSS_RESTOREMETHOD_ENUM number; service = "",
//                userProcedure = "", writerRestore = "never": "never", "ifReplaceFails",
//                "always" or a number; rebootRequired = false
//   component    type (required): "database", "filegroup" or a number;
//                logicalPath = "", name (required), selectable = true,
//                files, databases, logs (FILEs)
//   FILE         path (required): text, or null for a descriptor without one;
//                filespec (required), recursive = false, alternateLocation = ""
//                (what its GetAlternateLocation reports)
//   failed       name (required), status = 0, applicationStatus = 0,
//   component    message = "": what GetFailure reports for that component
//   fault        call (required): an operation such as "AddComponent", or
//                X.Wait, X.QueryStatus or X.Result of an asynchronous
//                operation X; status (required unless delay is given; = 0);
//                occurrence = 1 (which call of that name answers the status,
//                or "every"); delay = 0: milliseconds the call takes before
//                it answers, such as writers slow to report their metadata
//                (a delay of GatherWriterMetadata.Wait). A positive
//                status of X.Result plays an operation that ends pending
//                (0x42309) or cancelled (0x4230B); a failing X.Wait, a wait
//                that fails
//
// The service reports writers in the order they are listed, as a real server
// lists them in the order they answered, whatever their ids. Writers may share
// a class id: they are instances of one writer class, each with its own
// metadata. After a partial failure a writer reports its added components,
// each with the failure failedComponents gives it, then any other component
// failedComponents names.
//
// A status is an integer or a text of "0x" and up to eight hex digits; a GUID
// is written in braces. Unknown members are errors, so that a misspelt name
// is reported rather than ignored. Errors name the file, then the place:
// line:column for text that is not JSON, the JSON pointer of the value for
// anything else.

#include "simulator/scenario.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "platform/platform.h"
#include "simulator/faultable_calls.h"
#include "simulator/volume_names.h"
#include "vss/constants.h"

namespace frostcap::simulator {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kGuidExample =
    "a GUID in braces such as {00000000-0000-0000-0000-000000000000}";
constexpr const char* kStatusExample =
    "a status: an integer or a string such as \"0x80042306\" (0x and up to eight hex digits)";

// One value of the document and its JSON pointer, with what is needed to
// report a problem with it.
class Node {
 public:
  Node(const json& value, std::string pointer, const std::string& source)
      : value_(value), pointer_(std::move(pointer)), source_(source) {}

  const json& value() const { return value_; }
  const std::string& pointer() const { return pointer_; }

  [[noreturn]] void fail(const std::string& expected) const {
    throw ScenarioError(source_ + ": " + (pointer_.empty() ? "top level" : pointer_) +
                        ": expected " + expected + ", found " + describe(value_));
  }

  // An object with no members other than `allowed`.
  void expectObject(std::initializer_list<const char*> allowed) const {
    if (!value_.is_object()) fail("an object");
    for (const auto& item : value_.items()) {
      const std::string& key = item.key();
      if (std::find(allowed.begin(), allowed.end(), std::string_view(key)) != allowed.end()) {
        continue;
      }
      std::string names;
      for (const char* name : allowed) names += std::string(names.empty() ? "" : ", ") + name;
      throw ScenarioError(source_ + ": " + pointer_ + "/" + escape(key) +
                          ": unexpected member; expected one of " + names);
    }
  }

  std::optional<Node> member(const char* key) const {
    const auto found = value_.find(key);
    if (found == value_.end()) return std::nullopt;
    return Node(*found, pointer_ + "/" + escape(key), source_);
  }

  Node required(const char* key, const std::string& expected) const {
    if (std::optional<Node> found = member(key)) return *found;
    throw ScenarioError(source_ + ": " + pointer_ + "/" + escape(key) + ": expected " + expected +
                        ", found nothing");
  }

  std::vector<Node> elements(const std::string& expected) const {
    if (!value_.is_array()) fail("an array of " + expected);
    std::vector<Node> nodes;
    for (std::size_t i = 0; i < value_.size(); ++i) {
      nodes.emplace_back(value_[i], pointer_ + "/" + std::to_string(i), source_);
    }
    return nodes;
  }

  std::u16string text(const std::string& expected = "a string") const {
    if (!value_.is_string()) fail(expected);
    return platform::utf8ToWide(value_.get_ref<const std::string&>());
  }

  bool flag() const {
    if (!value_.is_boolean()) fail("true or false");
    return value_.get<bool>();
  }

  vss::Guid guid() const {
    if (!value_.is_string()) fail(kGuidExample);
    const std::optional<vss::Guid> parsed = platform::parseGuid(text());
    if (!parsed) fail(kGuidExample);
    return *parsed;
  }

  Status status() const {
    std::int64_t code = 0;
    if (value_.is_number_integer()) {
      if (value_.is_number_unsigned()) {
        if (value_.get<std::uint64_t>() > std::numeric_limits<std::uint32_t>::max()) {
          fail(kStatusExample);
        }
        code = static_cast<std::int64_t>(value_.get<std::uint64_t>());
      } else {
        code = value_.get<std::int64_t>();
        if (code < std::numeric_limits<std::int32_t>::min()) fail(kStatusExample);
      }
    } else if (value_.is_string()) {
      const std::string& digits = value_.get_ref<const std::string&>();
      if (digits.size() < 3 || digits.size() > 10 || digits[0] != '0' ||
          (digits[1] != 'x' && digits[1] != 'X') ||
          digits.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos) {
        fail(kStatusExample);
      }
      code = static_cast<std::int64_t>(std::stoull(digits.substr(2), nullptr, 16));
    } else {
      fail(kStatusExample);
    }
    return static_cast<Status>(static_cast<std::uint32_t>(code));
  }

  std::uint64_t unsignedNumber(std::uint64_t min, std::uint64_t max,
                               const std::string& expected) const {
    if (!value_.is_number_integer()) fail(expected);
    if (!value_.is_number_unsigned()) fail(expected);
    const auto number = value_.get<std::uint64_t>();
    if (number < min || number > max) fail(expected);
    return number;
  }

 private:
  static std::string escape(const std::string& key) {
    std::string escaped;
    for (const char c : key) {
      if (c == '~') {
        escaped += "~0";
      } else if (c == '/') {
        escaped += "~1";
      } else {
        escaped += c;
      }
    }
    return escaped;
  }

  static std::string describe(const json& value) {
    switch (value.type()) {
      case json::value_t::object:
        return "an object";
      case json::value_t::array:
        return "an array";
      case json::value_t::null:
        return "null";
      default: {
        std::string shown = value.dump(-1, ' ', false, json::error_handler_t::replace);
        if (shown.size() > 60) shown = shown.substr(0, 57) + "...";
        return shown;
      }
    }
  }

  const json& value_;
  std::string pointer_;
  const std::string& source_;
};

template <typename T, typename Read>
std::vector<T> readList(const Node& parent, const char* key, const std::string& expected,
                        Read read) {
  std::vector<T> items;
  if (const std::optional<Node> list = parent.member(key)) {
    for (const Node& element : list->elements(expected)) items.push_back(read(element));
  }
  return items;
}

FileSpec readFile(const Node& node) {
  node.expectObject({"path", "filespec", "recursive", "alternateLocation"});
  FileSpec file;
  const Node path = node.required("path", "a string or null");
  if (!path.value().is_null()) file.path = path.text("a string or null");
  file.filespec = node.required("filespec", "a string").text();
  if (const auto recursive = node.member("recursive")) file.recursive = recursive->flag();
  if (const auto location = node.member("alternateLocation")) {
    file.alternateLocation = location->text();
  }
  return file;
}

// A number, or one of `names` standing for 1, 2, ...
std::uint32_t readEnumeration(const Node& node, std::initializer_list<const char*> names,
                              const std::string& expected) {
  if (!node.value().is_string()) {
    return static_cast<std::uint32_t>(
        node.unsignedNumber(0, std::numeric_limits<std::uint32_t>::max(), expected));
  }
  std::uint32_t value = 1;
  for (const char* name : names) {
    if (node.value() == name) return value;
    ++value;
  }
  node.fail(expected);
}

RestoreMethodSpec readRestoreMethod(const Node& node) {
  node.expectObject({"method", "service", "userProcedure", "writerRestore", "rebootRequired"});
  RestoreMethodSpec method;
  constexpr const char* kMethodExpected = "a restore method name or number";
  method.method = readEnumeration(
      node.required("method", kMethodExpected),
      {"restoreIfNotThere", "restoreIfCanReplace", "stopRestoreStart", "restoreToAlternateLocation",
       "restoreAtReboot", "restoreAtRebootIfCannotReplace", "custom", "restoreStopStart"},
      kMethodExpected);
  if (const auto service = node.member("service")) method.service = service->text();
  if (const auto procedure = node.member("userProcedure")) method.userProcedure = procedure->text();
  method.writerRestore = 1;  // VSS_WRE_NEVER
  if (const auto restore = node.member("writerRestore")) {
    method.writerRestore = readEnumeration(*restore, {"never", "ifReplaceFails", "always"},
                                           "\"never\", \"ifReplaceFails\", \"always\" or a number");
  }
  if (const auto reboot = node.member("rebootRequired")) method.rebootRequired = reboot->flag();
  return method;
}

std::vector<FileSpec> readFiles(const Node& parent, const char* key) {
  return readList<FileSpec>(parent, key, "file descriptors", readFile);
}

ComponentSpec readComponent(const Node& node) {
  node.expectObject({"type", "logicalPath", "name", "selectable", "files", "databases", "logs"});
  ComponentSpec component;
  constexpr const char* kTypeExpected = "\"database\", \"filegroup\" or a component type number";
  const Node type = node.required("type", kTypeExpected);
  if (type.value().is_string()) {
    const std::string& name = type.value().get_ref<const std::string&>();
    if (name == "database") {
      component.type = vss::kComponentTypeDatabase;
    } else if (name == "filegroup") {
      component.type = vss::kComponentTypeFilegroup;
    } else {
      type.fail(kTypeExpected);
    }
  } else {
    component.type = static_cast<std::uint32_t>(
        type.unsignedNumber(0, std::numeric_limits<std::uint32_t>::max(), kTypeExpected));
  }
  if (const auto path = node.member("logicalPath")) component.logicalPath = path->text();
  component.name = node.required("name", "a string").text();
  if (const auto selectable = node.member("selectable")) component.selectable = selectable->flag();
  component.files = readFiles(node, "files");
  component.databases = readFiles(node, "databases");
  component.logs = readFiles(node, "logs");
  return component;
}

FailedComponentSpec readFailedComponent(const Node& node) {
  node.expectObject({"name", "status", "applicationStatus", "message"});
  FailedComponentSpec component;
  component.name = node.required("name", "a string").text();
  if (const auto status = node.member("status")) component.failure.hr = status->status();
  if (const auto status = node.member("applicationStatus")) {
    component.failure.hrApplication = status->status();
  }
  if (const auto message = node.member("message")) {
    component.failure.applicationMessage = message->text();
  }
  return component;
}

WriterSpec readWriter(const Node& node) {
  node.expectObject({"classId", "instanceId", "name", "status", "state", "components", "excludes",
                     "failedComponents", "restoreMethod", "alternateLocations", "backupSchema"});
  WriterSpec writer;
  writer.classId = node.required("classId", kGuidExample).guid();
  writer.instanceId = node.required("instanceId", kGuidExample).guid();
  writer.name = node.required("name", "a string").text();
  if (const auto status = node.member("status")) writer.status = status->status();
  writer.state =
      failed(writer.status) ? vss::kWriterStateFailedAtPrepareSnapshot : vss::kWriterStateStable;
  if (const auto state = node.member("state")) {
    writer.state = static_cast<std::int32_t>(state->unsignedNumber(
        0, std::numeric_limits<std::int32_t>::max(), "a writer state number"));
  }
  writer.components = readList<ComponentSpec>(node, "components", "components", readComponent);
  writer.excludes = readFiles(node, "excludes");
  writer.failedComponents = readList<FailedComponentSpec>(node, "failedComponents",
                                                          "failed components", readFailedComponent);
  if (const auto method = node.member("restoreMethod"))
    writer.restoreMethod = readRestoreMethod(*method);
  writer.alternateLocations = readFiles(node, "alternateLocations");
  if (const auto schema = node.member("backupSchema")) {
    writer.backupSchema = static_cast<std::uint32_t>(schema->unsignedNumber(
        0, std::numeric_limits<std::uint32_t>::max(), "VSS_BACKUP_SCHEMA flags as a number"));
  }
  return writer;
}

// A duration in milliseconds, up to a day.
std::chrono::milliseconds milliseconds(const Node& node) {
  constexpr std::uint64_t kDay = 24 * 60 * 60 * 1000;
  return std::chrono::milliseconds(
      node.unsignedNumber(0, kDay, "a number of milliseconds up to a day (86400000)"));
}

FaultSpec readFault(const Node& node) {
  node.expectObject({"call", "status", "occurrence", "delay"});
  FaultSpec fault;
  const Node call = node.required("call", "the name of a call");
  constexpr const char* kCallExpected =
      "the name of a call, such as \"DoSnapshotSet\" or \"DoSnapshotSet.Wait\"";
  fault.call = platform::wideToUtf8(call.text(kCallExpected));
  if (!isFaultableCall(fault.call)) call.fail(kCallExpected);
  if (const auto delay = node.member("delay")) fault.delay = milliseconds(*delay);
  if (const auto status = node.member("status"); status || fault.delay.count() == 0) {
    fault.status = node.required("status", kStatusExample).status();
  }
  if (const auto occurrence = node.member("occurrence")) {
    constexpr const char* kOccurrenceExpected = "a call count of 1 or more, or \"every\"";
    if (occurrence->value() == "every") {
      fault.occurrence = FaultSpec::kEveryOccurrence;
    } else {
      fault.occurrence = static_cast<int>(
          occurrence->unsignedNumber(1, std::numeric_limits<int>::max(), kOccurrenceExpected));
    }
  }
  return fault;
}

Volume readVolume(const Node& node, const fs::path& baseDirectory) {
  node.expectObject({"name", "directory", "device", "vanishAfter"});
  Volume volume;
  const Node name = node.required("name", "a volume name such as \"C:\\\\\"");
  volume.name = name.text("a volume name such as \"C:\\\\\"");
  if (volume.name.empty()) name.fail("a volume name such as \"C:\\\\\"");
  constexpr const char* kDirectoryExpected =
      "the path of an existing directory, relative to the scenario file";
  const Node directory = node.required("directory", kDirectoryExpected);
  const std::u16string given = directory.text(kDirectoryExpected);
  volume.directory =
      fs::absolute(baseDirectory / fs::path(platform::wideToUtf8(given))).lexically_normal();
  std::error_code error;
  if (given.empty() || !fs::is_directory(volume.directory, error)) {
    directory.fail(kDirectoryExpected);
  }
  if (const auto device = node.member("device")) volume.device = device->text();
  if (const auto after = node.member("vanishAfter")) volume.vanishAfter = milliseconds(*after);
  return volume;
}

// "line:column" of the byte at 1-based `byte`, the position nlohmann reports
// for the character it stopped at (one past the end at the end of the text).
std::string position(std::string_view text, std::size_t byte) {
  const std::size_t offset = std::min(byte == 0 ? 0 : byte - 1, text.size());
  const std::string_view before = text.substr(0, offset);
  const std::size_t line =
      1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  const std::size_t lineStart = before.rfind('\n');
  const std::size_t column = lineStart == std::string_view::npos ? offset + 1 : offset - lineStart;
  return std::to_string(line) + ":" + std::to_string(column);
}

// nlohmann's explanation without its own prefix, which repeats the position.
std::string explanation(const json::parse_error& error) {
  const std::string what = error.what();
  const std::size_t start = what.find(": ");
  return start == std::string::npos ? what : what.substr(start + 2);
}

}  // namespace

Scenario parseScenario(std::string_view text, const std::string& source,
                       const fs::path& baseDirectory) {
  json document;
  try {
    document = json::parse(text, nullptr, true, true);
  } catch (const json::parse_error& error) {
    throw ScenarioError(source + ":" + position(text, error.byte) +
                        ": not valid JSON: " + explanation(error));
  }

  const Node root(document, "", source);
  root.expectObject({"description", "volumes", "writers", "faults", "refuseUnprepared"});
  if (const auto description = root.member("description")) description->text();

  Scenario scenario;
  std::set<std::u16string> volumeKeys;
  std::set<std::u16string> deviceKeys;
  if (const auto volumes = root.member("volumes")) {
    for (const Node& node : volumes->elements("volumes")) {
      scenario.volumes.push_back(readVolume(node, baseDirectory));
      const Volume& added = scenario.volumes.back();
      if (!volumeKeys.insert(volumeKey(added.name)).second) {
        node.required("name", "").fail("a name no other volume has");
      }
      if (added.device && !added.device->empty() &&
          !deviceKeys.insert(volumeKey(*added.device)).second) {
        node.required("device", "").fail("a device no other volume has");
      }
    }
  }
  if (const auto writers = root.member("writers")) {
    const auto before = [](const vss::Guid& a, const vss::Guid& b) {
      return std::memcmp(&a, &b, sizeof(vss::Guid)) < 0;
    };
    std::set<vss::Guid, decltype(before)> instances(before);
    for (const Node& node : writers->elements("writers")) {
      scenario.writers.push_back(readWriter(node));
      if (!instances.insert(scenario.writers.back().instanceId).second) {
        node.required("instanceId", "").fail("an instance id no other writer has");
      }
    }
  }
  scenario.faults = readList<FaultSpec>(root, "faults", "faults", readFault);
  if (const auto refuse = root.member("refuseUnprepared"))
    scenario.refuseUnprepared = refuse->flag();
  return scenario;
}

Scenario readScenario(const fs::path& file) {
  const std::string source = file.string();
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ScenarioError(source + ": cannot be read: " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw ScenarioError(source + ": cannot be read: " + std::strerror(errno));
  fs::path base = file.parent_path();
  if (base.empty()) base = ".";
  return parseScenario(text.str(), source, base);
}

}  // namespace frostcap::simulator
