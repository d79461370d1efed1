#include "vss/trace.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

#include "frostcap.h"
#include "platform/append_file.h"
#include "vss/call_text.h"

namespace frostcap::vss {
namespace {

using Clock = std::chrono::steady_clock;

// The file of one trace, shared by every object traced into it.
class TraceFile {
 public:
  explicit TraceFile(const std::u16string& path) : file_(path) {}
  bool isOpen() const { return file_.isOpen(); }
  // A line that cannot be written is lost; the backup goes on as it would.
  void write(const std::string& line) noexcept { file_.append(line); }

 private:
  platform::AppendFile file_;
};

std::string hexCode(Status status) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
  return text;
}

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    const auto unit = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (unit < 0x20) {
      char escaped[7];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", unit);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

// How a call ended: its status, or an exception passing through.
struct Outcome {
  Status status = 0;
  bool thrown = false;
  std::int64_t microseconds = 0;
  bool handedBack() const { return !thrown && !failed(status); }
};

// One line of the trace, written field by field in the format's order:
// call, text, status, result, us.
class Line {
 public:
  Line(std::string_view call, const std::string& arguments, const Outcome& outcome)
      : microseconds_(outcome.microseconds) {
    out_ = "{\"call\":";
    appendJsonString(out_, call);
    out_ += ",\"text\":";
    appendJsonString(out_, std::string(call) + "(" + arguments + ")");
    if (outcome.thrown) {
      out_ += ",\"thrown\":true";
    } else {
      out_ += ",\"status\":\"" + hexCode(outcome.status) + "\"";
    }
  }

  Line& text(const char* name, std::string_view value) {
    appendJsonString(key(name), value);
    return *this;
  }
  Line& text(const char* name, std::u16string_view value) { return text(name, callText(value)); }
  Line& guid(const char* name, const Guid& value) { return text(name, callText(value)); }
  Line& flag(const char* name, bool value) {
    key(name) += flagText(value);
    return *this;
  }
  Line& number(const char* name, std::int64_t value) {
    key(name) += std::to_string(value);
    return *this;
  }
  Line& code(const char* name, Status value) { return text(name, hexCode(value)); }
  Line& null(const char* name) {
    key(name) += "null";
    return *this;
  }

  std::string finish() {
    if (inResult_) out_ += '}';
    out_ += ",\"us\":" + std::to_string(microseconds_) + "}\n";
    return std::move(out_);
  }

 private:
  // The fields of `result`, opened at the first.
  std::string& key(const char* name) {
    out_ += inResult_ ? "," : ",\"result\":{";
    inResult_ = true;
    appendJsonString(out_, name);
    out_ += ':';
    return out_;
  }

  std::string out_;
  std::int64_t microseconds_;
  bool inResult_ = false;
};

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ",") + part;
  return text;
}

// What the objects of one backup share: the file, and the writers' names
// learned so far, which the model's record puts into the text of calls that
// name no writer themselves.
class Session {
 public:
  explicit Session(std::shared_ptr<TraceFile> file) : file_(std::move(file)) {}

  // Makes the call through `invoke`, then writes the line `describe` makes of
  // its outcome. Writing never throws into the library; the call's own
  // exception passes on after its line.
  template <typename Invoke, typename Describe>
  Status traced(Invoke&& invoke, Describe&& describe) {
    const Clock::time_point start = Clock::now();
    Outcome outcome;
    try {
      outcome.status = invoke();
    } catch (...) {
      outcome.thrown = true;
      write(describe, outcome, start);
      throw;
    }
    write(describe, outcome, start);
    return outcome.status;
  }

  void write(const std::string& line) noexcept { file_->write(line); }

  void learnWriter(const Guid& instanceId, const std::u16string& name) {
    for (auto& [id, known] : writers_) {
      if (id == instanceId) {
        known = name;
        return;
      }
    }
    writers_.emplace_back(instanceId, name);
  }
  std::u16string writerName(const Guid& instanceId) const {
    for (const auto& [id, name] : writers_) {
      if (id == instanceId) return name;
    }
    return {};
  }

 private:
  template <typename Describe>
  void write(Describe& describe, Outcome& outcome, Clock::time_point start) noexcept {
    try {
      outcome.microseconds =
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
      write(describe(outcome).finish());
    } catch (...) {
      // The line is lost; the call's outcome stands.
    }
  }

  std::shared_ptr<TraceFile> file_;
  std::vector<std::pair<Guid, std::u16string>> writers_;
};

using SessionPtr = std::shared_ptr<Session>;

// The object a call handed out, wrapped when the call succeeded.
template <typename Traced, typename Object, typename... Context>
void wrap(const SessionPtr& session, std::unique_ptr<Object>& object, Context&&... context) {
  if (object) {
    object =
        std::make_unique<Traced>(session, std::move(object), std::forward<Context>(context)...);
  }
}

class TracedAsync final : public Async {
 public:
  TracedAsync(SessionPtr session, std::unique_ptr<Async> inner, std::string operation)
      : session_(std::move(session)), inner_(std::move(inner)), operation_(std::move(operation)) {}

  Status wait() override {
    return session_->traced([&] { return inner_->wait(); },
                            [&](const Outcome& o) { return Line(operation_ + ".Wait", "", o); });
  }
  Status queryStatus(Status& operation) override {
    return session_->traced([&] { return inner_->queryStatus(operation); },
                            [&](const Outcome& o) {
                              Line line(operation_ + ".QueryStatus", "", o);
                              if (o.handedBack()) line.code("operation", operation);
                              return line;
                            });
  }

 private:
  SessionPtr session_;
  std::unique_ptr<Async> inner_;
  std::string operation_;
};

// Wraps the operation a call started, named after the call.
void wrapAsync(const SessionPtr& session, std::unique_ptr<Async>& async, const char* call) {
  wrap<TracedAsync>(session, async, std::string(call));
}

class TracedFileDescriptor final : public FileDescriptor {
 public:
  TracedFileDescriptor(SessionPtr session, std::unique_ptr<FileDescriptor> inner)
      : session_(std::move(session)), inner_(std::move(inner)) {}

  Status getPath(std::optional<std::u16string>& path) override {
    return session_->traced([&] { return inner_->getPath(path); },
                            [&](const Outcome& o) {
                              Line line("GetPath", "", o);
                              if (o.handedBack())
                                path ? line.text("path", *path) : line.null("path");
                              return line;
                            });
  }
  Status getFilespec(std::u16string& filespec) override {
    return session_->traced([&] { return inner_->getFilespec(filespec); },
                            [&](const Outcome& o) {
                              Line line("GetFilespec", "", o);
                              if (o.handedBack()) line.text("filespec", filespec);
                              return line;
                            });
  }
  Status getRecursive(bool& recursive) override {
    return session_->traced([&] { return inner_->getRecursive(recursive); },
                            [&](const Outcome& o) {
                              Line line("GetRecursive", "", o);
                              if (o.handedBack()) line.flag("recursive", recursive);
                              return line;
                            });
  }

 private:
  SessionPtr session_;
  std::unique_ptr<FileDescriptor> inner_;
};

// A call that hands out a file descriptor at `index`.
template <typename Get>
Status tracedFile(const SessionPtr& session, const char* call, std::uint32_t index,
                  std::unique_ptr<FileDescriptor>& file, Get get) {
  const Status status =
      session->traced(get, [&](const Outcome& o) { return Line(call, std::to_string(index), o); });
  wrap<TracedFileDescriptor>(session, file);
  return status;
}

class TracedMetadataComponent final : public WriterMetadataComponent {
 public:
  TracedMetadataComponent(SessionPtr session, std::unique_ptr<WriterMetadataComponent> inner)
      : session_(std::move(session)), inner_(std::move(inner)) {}

  Status getComponentInfo(ComponentInfo& info) override {
    return session_->traced([&] { return inner_->getComponentInfo(info); },
                            [&](const Outcome& o) {
                              if (o.handedBack()) name_ = info.componentName;
                              Line line("GetComponentInfo", callText(name_), o);
                              if (!o.handedBack()) return line;
                              line.number("type", info.type)
                                  .text("logicalPath", info.logicalPath)
                                  .text("componentName", info.componentName)
                                  .flag("selectable", info.selectable)
                                  .number("fileCount", info.fileCount)
                                  .number("databaseCount", info.databaseCount)
                                  .number("logFileCount", info.logFileCount);
                              return line;
                            });
  }
  Status freeComponentInfo(ComponentInfo& info) override {
    const std::string name = callText(info.componentName);
    return session_->traced([&] { return inner_->freeComponentInfo(info); },
                            [&](const Outcome& o) { return Line("FreeComponentInfo", name, o); });
  }
  Status getFile(std::uint32_t index, std::unique_ptr<FileDescriptor>& file) override {
    return tracedFile(session_, "GetFile", index, file,
                      [&] { return inner_->getFile(index, file); });
  }
  Status getDatabaseFile(std::uint32_t index, std::unique_ptr<FileDescriptor>& file) override {
    return tracedFile(session_, "GetDatabaseFile", index, file,
                      [&] { return inner_->getDatabaseFile(index, file); });
  }
  Status getDatabaseLogFile(std::uint32_t index, std::unique_ptr<FileDescriptor>& file) override {
    return tracedFile(session_, "GetDatabaseLogFile", index, file,
                      [&] { return inner_->getDatabaseLogFile(index, file); });
  }

 private:
  SessionPtr session_;
  std::unique_ptr<WriterMetadataComponent> inner_;
  std::u16string name_;
};

class TracedWriterMetadata final : public WriterMetadata {
 public:
  TracedWriterMetadata(SessionPtr session, std::unique_ptr<WriterMetadata> inner)
      : session_(std::move(session)), inner_(std::move(inner)) {}

  Status getIdentity(WriterIdentity& identity) override {
    return session_->traced([&] { return inner_->getIdentity(identity); },
                            [&](const Outcome& o) {
                              if (o.handedBack()) {
                                name_ = identity.name;
                                session_->learnWriter(identity.instanceId, identity.name);
                              }
                              Line line("GetIdentity", callText(name_), o);
                              if (o.handedBack()) {
                                line.guid("instanceId", identity.instanceId)
                                    .guid("classId", identity.classId)
                                    .text("name", identity.name);
                              }
                              return line;
                            });
  }
  Status getFileCounts(FileCounts& counts) override {
    return session_->traced([&] { return inner_->getFileCounts(counts); },
                            [&](const Outcome& o) {
                              Line line("GetFileCounts", callText(name_), o);
                              if (o.handedBack()) {
                                line.number("includeFiles", counts.includeFiles)
                                    .number("excludeFiles", counts.excludeFiles)
                                    .number("components", counts.components);
                              }
                              return line;
                            });
  }
  Status getExcludeFile(std::uint32_t index, std::unique_ptr<FileDescriptor>& file) override {
    return tracedFile(session_, "GetExcludeFile", index, file,
                      [&] { return inner_->getExcludeFile(index, file); });
  }
  Status getComponent(std::uint32_t index,
                      std::unique_ptr<WriterMetadataComponent>& component) override {
    const Status status = session_->traced(
        [&] { return inner_->getComponent(index, component); },
        [&](const Outcome& o) { return Line("GetComponent", std::to_string(index), o); });
    wrap<TracedMetadataComponent>(session_, component);
    return status;
  }

 private:
  SessionPtr session_;
  std::unique_ptr<WriterMetadata> inner_;
  std::u16string name_;
};

class TracedComponentEx2 final : public ComponentEx2 {
 public:
  TracedComponentEx2(SessionPtr session, std::unique_ptr<ComponentEx2> inner, std::u16string name)
      : session_(std::move(session)), inner_(std::move(inner)), name_(std::move(name)) {}

  Status getFailure(ComponentFailure& failure) override {
    return session_->traced([&] { return inner_->getFailure(failure); },
                            [&](const Outcome& o) {
                              Line line("GetFailure", callText(name_), o);
                              if (o.handedBack()) {
                                line.code("hr", failure.hr)
                                    .code("hrApplication", failure.hrApplication)
                                    .text("applicationMessage", failure.applicationMessage);
                              }
                              return line;
                            });
  }

 private:
  SessionPtr session_;
  std::unique_ptr<ComponentEx2> inner_;
  std::u16string name_;
};

class TracedComponent final : public Component {
 public:
  TracedComponent(SessionPtr session, std::unique_ptr<Component> inner)
      : session_(std::move(session)), inner_(std::move(inner)) {}

  Status getComponentName(std::u16string& name) override {
    return session_->traced([&] { return inner_->getComponentName(name); },
                            [&](const Outcome& o) {
                              Line line("GetComponentName", "", o);
                              if (o.handedBack()) {
                                name_ = name;
                                line.text("name", name);
                              }
                              return line;
                            });
  }
  Status queryComponentEx2(std::unique_ptr<ComponentEx2>& component) override {
    const Status status = session_->traced(
        [&] { return inner_->queryComponentEx2(component); },
        [&](const Outcome& o) { return Line("QueryInterface", "IVssComponentEx2", o); });
    wrap<TracedComponentEx2>(session_, component, name_);
    return status;
  }

 private:
  SessionPtr session_;
  std::unique_ptr<Component> inner_;
  std::u16string name_;
};

class TracedWriterComponents final : public WriterComponents {
 public:
  TracedWriterComponents(SessionPtr session, std::unique_ptr<WriterComponents> inner)
      : session_(std::move(session)), inner_(std::move(inner)) {}

  Status getWriterInfo(Guid& instanceId, Guid& classId) override {
    return session_->traced([&] { return inner_->getWriterInfo(instanceId, classId); },
                            [&](const Outcome& o) {
                              if (o.handedBack()) name_ = session_->writerName(instanceId);
                              Line line("GetWriterInfo", callText(name_), o);
                              if (o.handedBack()) {
                                line.guid("instanceId", instanceId).guid("classId", classId);
                              }
                              return line;
                            });
  }
  Status getComponentCount(std::uint32_t& count) override {
    return session_->traced([&] { return inner_->getComponentCount(count); },
                            [&](const Outcome& o) {
                              Line line("GetComponentCount", callText(name_), o);
                              if (o.handedBack()) line.number("count", count);
                              return line;
                            });
  }
  Status getComponent(std::uint32_t index, std::unique_ptr<Component>& component) override {
    const Status status = session_->traced([&] { return inner_->getComponent(index, component); },
                                           [&](const Outcome& o) {
                                             return Line("IVssWriterComponents::GetComponent",
                                                         std::to_string(index), o);
                                           });
    wrap<TracedComponent>(session_, component);
    return status;
  }

 private:
  SessionPtr session_;
  std::unique_ptr<WriterComponents> inner_;
  std::u16string name_;
};

std::string componentArguments(const Guid& instanceId, const Guid& classId, std::uint32_t type,
                               const std::u16string& logicalPath,
                               const std::u16string& componentName) {
  return joined({callText(instanceId), callText(classId), std::to_string(type),
                 callText(logicalPath), callText(componentName)});
}

class TracedBackupComponents final : public BackupComponents {
 public:
  TracedBackupComponents(SessionPtr session, std::unique_ptr<BackupComponents> inner)
      : session_(std::move(session)), inner_(std::move(inner)) {}

  // Released first, then written down: the line follows what it reports.
  ~TracedBackupComponents() override {
    inner_.reset();
    session_->write("{\"call\":\"Release\",\"text\":\"Release()\"}\n");
  }

  Status initializeForBackup() override {
    return plain("InitializeForBackup", "", [&] { return inner_->initializeForBackup(); });
  }
  Status setBackupState(bool selectComponents, bool bootableSystemState, std::uint32_t backupType,
                        bool partialFileSupport) override {
    return plain("SetBackupState",
                 joined({flagText(selectComponents), flagText(bootableSystemState),
                         std::to_string(backupType), flagText(partialFileSupport)}),
                 [&] {
                   return inner_->setBackupState(selectComponents, bootableSystemState, backupType,
                                                 partialFileSupport);
                 });
  }
  Status setContext(std::int32_t context) override {
    return plain("SetContext", std::to_string(context),
                 [&] { return inner_->setContext(context); });
  }
  Status enableWriterClasses(const std::vector<Guid>& classIds) override {
    std::vector<std::string> ids;
    for (const Guid& id : classIds) ids.push_back(callText(id));
    return plain("EnableWriterClasses", joined(ids),
                 [&] { return inner_->enableWriterClasses(classIds); });
  }
  Status gatherWriterMetadata(std::unique_ptr<Async>& async) override {
    return started("GatherWriterMetadata", async,
                   [&] { return inner_->gatherWriterMetadata(async); });
  }
  Status getWriterMetadataCount(std::uint32_t& count) override {
    return counted("GetWriterMetadataCount", count,
                   [&] { return inner_->getWriterMetadataCount(count); });
  }
  Status getWriterMetadata(std::uint32_t index, Guid& instanceId,
                           std::unique_ptr<WriterMetadata>& metadata) override {
    const Status status =
        session_->traced([&] { return inner_->getWriterMetadata(index, instanceId, metadata); },
                         [&](const Outcome& o) {
                           Line line("GetWriterMetadata", std::to_string(index), o);
                           if (o.handedBack()) line.guid("instanceId", instanceId);
                           return line;
                         });
    wrap<TracedWriterMetadata>(session_, metadata);
    return status;
  }
  Status addComponent(const Guid& instanceId, const Guid& classId, std::uint32_t componentType,
                      const std::u16string& logicalPath,
                      const std::u16string& componentName) override {
    return plain("AddComponent",
                 componentArguments(instanceId, classId, componentType, logicalPath, componentName),
                 [&] {
                   return inner_->addComponent(instanceId, classId, componentType, logicalPath,
                                               componentName);
                 });
  }
  Status setBackupSucceeded(const Guid& instanceId, const Guid& classId,
                            std::uint32_t componentType, const std::u16string& logicalPath,
                            const std::u16string& componentName, bool succeeded) override {
    return plain(
        "SetBackupSucceeded",
        componentArguments(instanceId, classId, componentType, logicalPath, componentName) + "," +
            flagText(succeeded),
        [&] {
          return inner_->setBackupSucceeded(instanceId, classId, componentType, logicalPath,
                                            componentName, succeeded);
        });
  }
  Status startSnapshotSet(Guid& snapshotSetId) override {
    return session_->traced([&] { return inner_->startSnapshotSet(snapshotSetId); },
                            [&](const Outcome& o) {
                              Line line("StartSnapshotSet", "", o);
                              if (o.handedBack()) line.guid("snapshotSetId", snapshotSetId);
                              return line;
                            });
  }
  Status addToSnapshotSet(const std::u16string& volumePath, const Guid& providerId,
                          Guid& snapshotId) override {
    return session_->traced(
        [&] { return inner_->addToSnapshotSet(volumePath, providerId, snapshotId); },
        [&](const Outcome& o) {
          Line line("AddToSnapshotSet", callText(volumePath) + "," + callText(providerId), o);
          if (o.handedBack()) line.guid("snapshotId", snapshotId);
          return line;
        });
  }
  Status prepareForBackup(std::unique_ptr<Async>& async) override {
    return started("PrepareForBackup", async, [&] { return inner_->prepareForBackup(async); });
  }
  Status doSnapshotSet(std::unique_ptr<Async>& async) override {
    return started("DoSnapshotSet", async, [&] { return inner_->doSnapshotSet(async); });
  }
  Status getSnapshotProperties(const Guid& snapshotId, std::u16string& deviceObject) override {
    return session_->traced([&] { return inner_->getSnapshotProperties(snapshotId, deviceObject); },
                            [&](const Outcome& o) {
                              Line line("GetSnapshotProperties", callText(snapshotId), o);
                              if (o.handedBack()) line.text("deviceObject", deviceObject);
                              return line;
                            });
  }
  Status gatherWriterStatus(std::unique_ptr<Async>& async) override {
    return started("GatherWriterStatus", async, [&] { return inner_->gatherWriterStatus(async); });
  }
  Status getWriterStatusCount(std::uint32_t& count) override {
    return counted("GetWriterStatusCount", count,
                   [&] { return inner_->getWriterStatusCount(count); });
  }
  Status getWriterStatus(std::uint32_t index, WriterStatus& writer) override {
    return session_->traced([&] { return inner_->getWriterStatus(index, writer); },
                            [&](const Outcome& o) {
                              Line line("GetWriterStatus", std::to_string(index), o);
                              if (!o.handedBack()) return line;
                              session_->learnWriter(writer.instanceId, writer.name);
                              line.guid("instanceId", writer.instanceId)
                                  .guid("classId", writer.classId)
                                  .text("name", writer.name)
                                  .number("state", writer.state)
                                  .code("failure", writer.failure);
                              return line;
                            });
  }
  Status getWriterComponentsCount(std::uint32_t& count) override {
    return counted("GetWriterComponentsCount", count,
                   [&] { return inner_->getWriterComponentsCount(count); });
  }
  Status getWriterComponents(std::uint32_t index,
                             std::unique_ptr<WriterComponents>& components) override {
    const Status status = plain("GetWriterComponents", std::to_string(index),
                                [&] { return inner_->getWriterComponents(index, components); });
    wrap<TracedWriterComponents>(session_, components);
    return status;
  }
  Status backupComplete(std::unique_ptr<Async>& async) override {
    return started("BackupComplete", async, [&] { return inner_->backupComplete(async); });
  }

 private:
  // A call that hands back nothing but its status.
  template <typename Invoke>
  Status plain(const char* call, const std::string& arguments, Invoke&& invoke) {
    return session_->traced(invoke, [&](const Outcome& o) { return Line(call, arguments, o); });
  }
  // A call that starts an operation, which is traced too.
  template <typename Invoke>
  Status started(const char* call, std::unique_ptr<Async>& async, Invoke&& invoke) {
    const Status status = plain(call, "", invoke);
    wrapAsync(session_, async, call);
    return status;
  }
  template <typename Invoke>
  Status counted(const char* call, std::uint32_t& count, Invoke&& invoke) {
    return session_->traced(invoke, [&](const Outcome& o) {
      Line line(call, "", o);
      if (o.handedBack()) line.number("count", count);
      return line;
    });
  }

  SessionPtr session_;
  std::unique_ptr<BackupComponents> inner_;
};

// The trace's process-wide state: the file while the trace is on.
struct Switch {
  std::atomic<bool> on{false};
  std::mutex mutex;
  std::shared_ptr<TraceFile> file;
};

Switch& traceSwitch() {
  static Switch state;
  return state;
}

// 2026-12-07T06:40:00Z
std::string utcNow() {
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss time{now - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

std::string headerLine() {
  std::string line =
      "{\"call\":\"Trace\",\"text\":\"Trace(frostcap " FROSTCAP_VERSION ")\",\"pid\":";
  line += std::to_string(platform::currentProcessId()) + ",\"time\":\"" + utcNow() + "\"}\n";
  return line;
}

}  // namespace

bool startTrace(const std::u16string& path) {
  auto file = std::make_shared<TraceFile>(path);
  if (!file->isOpen()) return false;
  file->write(headerLine());
  Switch& state = traceSwitch();
  const std::lock_guard lock(state.mutex);
  state.file = std::move(file);
  state.on = true;
  return true;
}

void startTraceFromEnvironment() {
  try {
    const std::optional<std::u16string> path = platform::environmentVariable(u"FROSTCAP_TRACE");
    if (path && !path->empty()) startTrace(*path);
  } catch (...) {
    // Without memory for the trace, the library runs untraced.
  }
}

void stopTrace() {
  Switch& state = traceSwitch();
  const std::lock_guard lock(state.mutex);
  state.on = false;
  state.file.reset();
}

bool traceOn() noexcept { return traceSwitch().on.load(std::memory_order_relaxed); }

Status createTraced(Status (*create)(std::unique_ptr<BackupComponents>&),
                    std::unique_ptr<BackupComponents>& out) {
  std::shared_ptr<TraceFile> file;
  {
    Switch& state = traceSwitch();
    const std::lock_guard lock(state.mutex);
    file = state.file;
  }
  if (!file) return create(out);
  auto session = std::make_shared<Session>(std::move(file));
  const Status status =
      session->traced([&] { return create(out); },
                      [&](const Outcome& o) { return Line("CreateVssBackupComponents", "", o); });
  wrap<TracedBackupComponents>(session, out);
  return status;
}

}  // namespace frostcap::vss
