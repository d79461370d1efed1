// frostcap.hpp — a C++17 host's view of frostcap, header-only, in the shape
// of the Python, .NET and Go bindings: a snapshot is taken whole (both
// phases) or throws frostcap::Error with the library's messages; it is then
// read (mount paths, the catalogue, files, messages) and freed with the
// backup's verdict. What counts as success is complete(), and nothing else:
// a Snapshot destroyed without it, by an exception or an early return, frees
// the handle with verdict 0, so that writers are never told of a backup that
// did not finish.
#ifndef FROSTCAP_HPP
#define FROSTCAP_HPP

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "frostcap_host.h"

namespace frostcap {

using string = std::basic_string<frostcap_char>;

enum class ComponentType { database, filegroup };

struct Component {
  ComponentType type;
  string writerId;  // the writer's class id, a GUID in braces
  string logicalPath;
  string name;
  string fallbackLogicalPath;  // a second logical path to look under; may be empty
};

struct Options {
  std::vector<string> volumes;  // volume names such as C:\ (FROSTCAP_TEXT("C:\\"))
  std::vector<string> writers;  // writers' class ids, all of whose components are wanted
  std::vector<Component> components;
  unsigned backupType = 0;  // 0 keeps the library's default, 2 (incremental); 5 is copy
  bool systemProvider = false;
};

// A message of the library rendered in English, as UTF-8.
inline std::string render(const string& message) {
  const std::size_t size = frostcap_render_message(message.data(), message.size(), nullptr, 0);
  std::string out(size + 1, '\0');
  frostcap_render_message(message.data(), message.size(), out.data(), out.size());
  out.resize(size);
  return out;
}

// A phase of the snapshot failed. what() gives the messages in English, one
// a line; messages() keeps them as the library queued them, with tokens.
class Error : public std::runtime_error {
 public:
  explicit Error(std::vector<string> messages)
      : std::runtime_error(joined(messages)), messages_(std::move(messages)) {}
  const std::vector<string>& messages() const noexcept { return messages_; }

 private:
  static std::string joined(const std::vector<string>& messages) {
    std::string text;
    for (const string& message : messages) text += (text.empty() ? "" : "\n") + render(message);
    return text.empty() ? "the snapshot failed without a message" : text;
  }
  std::vector<string> messages_;
};

// Where `livePath` lies inside the shadow copy of the volume it lies on;
// nothing when it lies on none of `volumes`. `mountPaths` are the copies'
// device paths in the order of `volumes`, as Snapshot::mountPaths() gives
// them. The longest volume name that is a prefix of the path wins, compared
// without regard to ASCII case and at a separator, so that a volume mounted in
// a folder of another (C:\Data\ below C:\) takes the paths below that
// folder. Any string type: frostcap::string, or UTF-8 in std::string.
template <typename Text>
std::optional<Text> copyPath(const Text& livePath, const std::vector<Text>& volumes,
                             const std::vector<Text>& mountPaths) {
  using Char = typename Text::value_type;
  const auto same = [](Char a, Char b) {
    const auto fold = [](Char c) { return c >= 'A' && c <= 'Z' ? static_cast<Char>(c + 32) : c; };
    return fold(a) == fold(b);
  };
  const auto withSeparator = [](Text path) {
    if (path.empty() || path.back() != Char('\\')) path += Char('\\');
    return path;
  };
  const Text candidate = withSeparator(livePath);
  std::size_t best = mountPaths.size(), bestLength = 0;
  for (std::size_t i = 0; i < volumes.size() && i < mountPaths.size(); ++i) {
    const Text root = withSeparator(volumes[i]);
    if (root.size() > bestLength && root.size() <= candidate.size() &&
        std::equal(root.begin(), root.end(), candidate.begin(), same)) {
      best = i;
      bestLength = root.size();
    }
  }
  if (best == mountPaths.size()) return std::nullopt;
  Text inside = withSeparator(mountPaths[best]);
  if (livePath.size() > bestLength) inside.append(livePath, bestLength, Text::npos);
  return inside;
}

class Snapshot {
 public:
  // Prepares the backup and creates the shadow copies; frostcap_library_init
  // is called first. When either phase fails the backup is freed as failed
  // and Error is thrown; std::bad_alloc when no handle can be had.
  static Snapshot take(const Options& options) {
    frostcap_library_init();
    Snapshot snapshot(frostcap_snapshot_new());
    if (snapshot.handle_ == nullptr) throw std::bad_alloc();
    frostcap_snapshot* handle = snapshot.handle_;
    for (const string& volume : options.volumes)
      frostcap_snapshot_addVolumePath(handle, volume.c_str());
    for (const string& writer : options.writers)
      frostcap_snapshot_addWriter(handle, writer.c_str());
    for (const Component& c : options.components) {
      auto add = c.type == ComponentType::database
                     ? frostcap_snapshot_addWriterDatabaseComponentFallback
                     : frostcap_snapshot_addWriterFilegroupComponentFallback;
      add(handle, c.writerId.c_str(), c.logicalPath.c_str(), c.name.c_str(),
          c.fallbackLogicalPath.c_str());
    }
    if (options.backupType != 0) frostcap_snapshot_setIncrementalMode(handle, options.backupType);
    if (options.systemProvider) frostcap_snapshot_setUseSystemProvider(handle);
    if (frostcap_snapshot_perform_a(handle) != 0 || frostcap_snapshot_perform_b(handle) != 0)
      throw Error(snapshot.rawMessages());
    snapshot.volumes_ = options.volumes;
    snapshot.mountPaths_ = snapshot.drain(frostcap_snapshot_getNextMountPath);
    return snapshot;
  }

  Snapshot(Snapshot&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)),
        succeeded_(other.succeeded_),
        volumes_(std::move(other.volumes_)),
        mountPaths_(std::move(other.mountPaths_)) {}
  Snapshot& operator=(Snapshot&& other) noexcept {
    if (this != &other) {
      free();
      handle_ = std::exchange(other.handle_, nullptr);
      succeeded_ = other.succeeded_;
      volumes_ = std::move(other.volumes_);
      mountPaths_ = std::move(other.mountPaths_);
    }
    return *this;
  }
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;
  ~Snapshot() { free(); }

  // The device path of each volume's shadow copy, in the order the volumes
  // were given.
  const std::vector<string>& mountPaths() const noexcept { return mountPaths_; }
  // Where a live path lies inside these copies (see frostcap::copyPath).
  std::optional<string> copyPath(const string& livePath) const {
    return frostcap::copyPath(livePath, volumes_, mountPaths_);
  }

  // Every component of every writer the service reports, read afresh: one
  // JSON array a line ([writer id, logical path, name, type, selectable]),
  // lines beginning with "#" are not entries (see docs/api.md).
  std::vector<string> catalogue() {
    frostcap_snapshot_loadWriterComponents(handle_);
    return drain(frostcap_snapshot_getNextWriterComponent);
  }
  // The files of the chosen components, searched inside the shadow copies
  // and named by their live paths.
  std::vector<string> files() {
    frostcap_snapshot_loadWriterFileInfo(handle_);
    return drain(frostcap_snapshot_getNextWriterFileInfo);
  }
  // The files the writers exclude from the backup (after files()).
  std::vector<string> excludedFiles() {
    return drain(frostcap_snapshot_getNextWriterExcludedFileInfo);
  }
  // The messages queued since the last call, with their tokens; render()
  // gives each in English.
  std::vector<string> rawMessages() { return drain(frostcap_snapshot_getNextMessage); }

  // Declares the backup succeeded: the destructor frees the handle with
  // verdict 1. Call it last, once the data is safely copied.
  void complete() noexcept { succeeded_ = true; }

 private:
  explicit Snapshot(frostcap_snapshot* handle) noexcept : handle_(handle) {}

  void free() noexcept {
    frostcap_snapshot_free(handle_, succeeded_ ? 1 : 0);
    handle_ = nullptr;
  }

  using Next = const frostcap_char* (*)(frostcap_snapshot*, std::size_t*);
  std::vector<string> drain(Next next) {
    std::vector<string> entries;
    std::size_t length = 0;
    for (const frostcap_char* entry = next(handle_, &length); length != 0;
         entry = next(handle_, &length))
      entries.emplace_back(entry, length);
    return entries;
  }

  frostcap_snapshot* handle_ = nullptr;
  bool succeeded_ = false;
  std::vector<string> volumes_;
  std::vector<string> mountPaths_;
};

}  // namespace frostcap

#endif
