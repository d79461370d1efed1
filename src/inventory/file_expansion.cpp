#include "inventory/file_expansion.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "frame/messages.h"
#include "inventory/path_translation.h"
#include "platform/dot_components.h"
#include "platform/platform.h"

namespace frostcap {
namespace {

namespace label = messages::label;

constexpr std::uint32_t kFileNotFound = 2;  // nothing matched
constexpr std::uint32_t kPathNotFound = 3;  // no such directory

bool isDotEntry(std::u16string_view name) { return name == u"." || name == u".."; }

// Windows takes either slash between the components of a path; so must every
// rule here that looks for one, or a writer could hide a ".." from it.
constexpr std::u16string_view kSeparators = u"\\/";

// What the system would see of a text: nothing after an embedded NUL.
void cutAtNul(std::u16string& text) {
  const std::size_t nul = text.find(u'\0');
  if (nul != std::u16string::npos) text.resize(nul);
}

// How many leading units of a directory no ".." may climb above: the longest
// volume the host named that it lies on, else the drive or share it starts
// with (X:\, \\server\share\, \\?\X:\), either slash standing for a backslash.
std::size_t rootLength(std::u16string_view directory, const std::vector<std::u16string>& volumes) {
  const auto withBackslashes = [](std::u16string_view path) {
    std::u16string result(path);
    std::replace(result.begin(), result.end(), u'/', u'\\');
    return result;
  };
  const std::u16string path = withBackslashes(directory);
  std::size_t root = 0;
  for (const std::u16string& volume : volumes) {
    if (volume.size() > root && startsWithIgnoringCase(path, withBackslashes(volume))) {
      root = volume.size();
    }
  }
  if (root != 0) return root;
  std::size_t start = 0;
  std::size_t separators = 1;  // X:\ ends at its first backslash
  if (path.starts_with(u"\\\\?\\")) {
    start = 4;
  } else if (path.starts_with(u"\\\\")) {
    start = 2;
    separators = 2;  // \\server\share\ ends at the second one after the name
  }
  std::size_t end = start;
  for (; separators != 0; --separators) {
    end = path.find(u'\\', end);
    if (end == std::u16string_view::npos) return 0;
    ++end;
  }
  return end;
}

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

  // The search lists the folder the path and the file specification name together
  // (a specification may carry folders of its own, as in Logs\*.log), and
  // each record names an entry of that folder: the file the search found. A
  // descriptor may name its files relative to another folder, but no search
  // leaves the volume or shadow copy it names.
  cutAtNul(*path);
  cutAtNul(filespec);
  const std::size_t split = filespec.find_last_of(kSeparators) + 1;  // 0 without a folder
  const std::u16string directory = platform::resolveDots(*path + filespec.substr(0, split),
                                                         rootLength(*path, snapshot.volumePaths));
  const std::u16string_view match = std::u16string_view(filespec).substr(split);

  const std::vector<std::u16string>& mountPaths = snapshot.mountPaths.entries();
  const std::u16string pattern =
      translatePath(directory, snapshot.volumePaths, mountPaths).append(match);
  platform::DirectorySearch search(pattern);
  if (!search.started()) {
    const std::uint32_t error = search.error();
    if (error != kFileNotFound && error != kPathNotFound) {
      return StepResult::failure(u"FindFirstFile(" + pattern + u"): " +
                                 platform::systemErrorText(error));
    }
    target.append(
        translatePath(directory + std::u16string(match), mountPaths, snapshot.volumePaths));
    return StepResult::success();
  }
  do {
    const std::u16string_view name = search.name();
    if (isDotEntry(name)) continue;
    std::u16string record;
    record.reserve(directory.size() + name.size());
    record.append(directory).append(name);
    target.append(std::move(record));
  } while (search.next());
  return StepResult::success();
}

}  // namespace frostcap
