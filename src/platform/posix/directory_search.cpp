// The directory search over opendir and readdir. Entries are matched as they
// are read, and one string holds the current name, so listing a directory
// costs little more than reading it.

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/mapped_directory.h"
#include "platform/platform.h"
#include "platform/posix/last_error.h"
#include "platform/posix/wildcard.h"

namespace frostcap::platform {
namespace {

// Win32 error codes the search reports.
constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kPathNotFound = 3;
constexpr std::uint32_t kTooManyOpenFiles = 4;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kNotEnoughMemory = 8;
constexpr std::uint32_t kGeneralFailure = 31;
constexpr std::uint32_t kInvalidName = 123;
constexpr std::uint32_t kNameTooLong = 206;
constexpr std::uint32_t kCannotResolveName = 1921;

// Why opendir failed, in the code Wine's FindFirstFileW gives for the same
// situation. A directory that is really a file is an invalid name there, while
// a file further up the path just means the path does not exist.
std::uint32_t openError(int error, std::string directory) {
  switch (error) {
    case ENOENT:
      return kPathNotFound;
    case ENOTDIR: {
      while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
      struct stat info {};
      return ::stat(directory.c_str(), &info) == 0 ? kInvalidName : kPathNotFound;
    }
    case EACCES:
    case EPERM:
      return kAccessDenied;
    case ENAMETOOLONG:
      return kNameTooLong;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case ENOMEM:
      return kNotEnoughMemory;
    case ELOOP:
      return kCannotResolveName;
    default:
      return kGeneralFailure;
  }
}

// Names are almost always ASCII; widening those in place keeps the listing
// free of allocations once the string has grown to the longest name.
void assignName(std::u16string& out, const char* raw) {
  out.clear();
  for (const char* c = raw; *c != '\0'; ++c) {
    if (static_cast<unsigned char>(*c) >= 0x80) {
      out = utf8ToWide(raw);
      return;
    }
    out.push_back(static_cast<char16_t>(*c));
  }
}

// The host path for a directory in the library's form: the mapped directory
// when there is one (only in the simulated builds), otherwise the path in UTF-8
// with backslashes turned into slashes.
std::string hostDirectory(std::u16string_view libraryPath) {
  if (std::optional<std::string> resolved = mappedDirectory(libraryPath)) {
    return std::move(*resolved);
  }
  std::string path = wideToUtf8(libraryPath);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

}  // namespace

struct DirectorySearch::State {
  DIR* directory = nullptr;
  std::u16string pattern;  // the last component, matched against each name
  std::u16string name;
  std::uint32_t error = 0;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    if (directory != nullptr) ::closedir(directory);
  }

  // Returns 0 with the first match current, or the Win32 error code.
  std::uint32_t start(const std::u16string& searchPattern) {
    if (searchPattern.empty()) return kPathNotFound;
    // Windows takes either slash as a separator; the library writes
    // backslashes, and only the file system call sees forward ones.
    const std::size_t split = searchPattern.find_last_of(u"\\/");
    std::string path = ".";
    if (split == std::u16string::npos) {
      pattern = searchPattern;
    } else {
      pattern = searchPattern.substr(split + 1);
      // Keep the separator: a pattern directly under the root then opens "/".
      path = hostDirectory(std::u16string_view(searchPattern).substr(0, split + 1));
    }
    // A pattern ending in a separator names no entry; the directory is not
    // even looked at.
    if (pattern.empty()) return kFileNotFound;
    directory = ::opendir(path.c_str());
    if (directory == nullptr) return openError(errno, std::move(path));
    return advance() ? 0 : kFileNotFound;
  }

  // Reads on to the next matching entry; false at the end or on an error.
  bool advance() {
    while (const dirent* entry = ::readdir(directory)) {
      assignName(name, entry->d_name);
      if (matchesWildcard(pattern, name)) return true;
    }
    name.clear();
    return false;
  }
};

DirectorySearch::DirectorySearch(const std::u16string& pattern)
    : state_(std::make_unique<State>()) {
  const std::uint32_t error = state_->start(pattern);
  if (error != 0) {
    state_->error = error;
    setLastError(error);
    if (state_->directory != nullptr) {
      ::closedir(state_->directory);
      state_->directory = nullptr;
    }
  }
}

DirectorySearch::~DirectorySearch() = default;

bool DirectorySearch::started() const noexcept { return state_->error == 0; }

std::uint32_t DirectorySearch::error() const noexcept { return state_->error; }

std::u16string_view DirectorySearch::name() const noexcept { return state_->name; }

bool DirectorySearch::next() { return started() && state_->advance(); }

}  // namespace frostcap::platform
