#include "inventory/file_expansion.h"

#include <optional>

#include "frame/messages.h"
#include "inventory/path_translation.h"
#include "platform/platform.h"

namespace frostcap {
namespace {

namespace label = messages::label;

constexpr std::uint32_t kFileNotFound = 2;  // nothing matched
constexpr std::uint32_t kPathNotFound = 3;  // no such directory

bool isDotEntry(std::u16string_view name) { return name == u"." || name == u".."; }

}  // namespace

std::u16string lastErrorText() { return platform::systemErrorText(platform::lastError()); }

StepResult expandFileDescriptor(const Snapshot& snapshot, vss::FileDescriptor& descriptor,
                                StringQueue& target) {
  std::optional<std::u16string> path;
  Status status = descriptor.getPath(path);
  if (failed(status)) return callFailure(label::kGetPath, status);
  std::u16string filespec;
  status = descriptor.getFilespec(filespec);
  if (failed(status)) return callFailure(label::kGetFilespec, status);
  // Asked for, as writers expect, but never followed: only one directory
  // level is listed.
  bool recursive = false;
  status = descriptor.getRecursive(recursive);
  if (failed(status)) return callFailure(label::kGetRecursive, status);
  if (!path) return StepResult::success();

  // The separator goes on before the expansion and is not checked again
  // after it: what a variable holds is the writer's business.
  if (!path->empty() && path->back() != u'\\') path->push_back(u'\\');
  if (path->find(u'%') != std::u16string::npos) {
    std::optional<std::u16string> expanded = platform::expandEnvironment(*path);
    if (!expanded) return StepResult::failure(u"ExpandEnvironmentStringsW(): " + lastErrorText());
    path = std::move(*expanded);
  }

  const std::vector<std::u16string>& mountPaths = snapshot.mountPaths.entries();
  const std::u16string pattern = translatePath(*path, snapshot.volumePaths, mountPaths) + filespec;
  platform::DirectorySearch search(pattern);
  if (!search.started()) {
    const std::uint32_t error = search.error();
    if (error != kFileNotFound && error != kPathNotFound) {
      return StepResult::failure(u"FindFirstFile(" + pattern + u"): " +
                                 platform::systemErrorText(error));
    }
    target.append(translatePath(*path + filespec, mountPaths, snapshot.volumePaths));
    return StepResult::success();
  }
  do {
    const std::u16string_view name = search.name();
    if (isDotEntry(name)) continue;
    std::u16string record;
    record.reserve(path->size() + name.size());
    record.append(*path).append(name);
    target.append(std::move(record));
  } while (search.next());
  return StepResult::success();
}

}  // namespace frostcap
