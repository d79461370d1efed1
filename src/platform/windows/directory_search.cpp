// The directory search over FindFirstFileW, FindNextFileW and FindClose.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.

#include <cwchar>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "platform/mapped_directory.h"
#include "platform/platform.h"

namespace frostcap::platform {
namespace {

// The pattern with its directory replaced by the mapped host directory, when
// there is one (only in the simulated builds); otherwise the pattern as given.
std::u16string hostPattern(const std::u16string& pattern) {
  const std::size_t split = pattern.find_last_of(u"\\/");
  if (split == std::u16string::npos) return pattern;
  const std::optional<std::string> directory =
      mappedDirectory(std::u16string_view(pattern).substr(0, split + 1));
  if (!directory) return pattern;
  std::u16string resolved = utf8ToWide(*directory);
  if (!resolved.empty() && resolved.back() != u'\\' && resolved.back() != u'/') {
    resolved.push_back(u'\\');
  }
  return resolved.append(pattern, split + 1);
}

}  // namespace

struct DirectorySearch::State {
  HANDLE handle = INVALID_HANDLE_VALUE;
  // One record serves every entry: each FindNextFileW call overwrites it.
  WIN32_FIND_DATAW data{};
  DWORD error = 0;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    if (handle != INVALID_HANDLE_VALUE) FindClose(handle);
  }
};

DirectorySearch::DirectorySearch(const std::u16string& pattern)
    : state_(std::make_unique<State>()) {
  state_->handle = FindFirstFileW(asWide(hostPattern(pattern).c_str()), &state_->data);
  // Read at once, before anything else can overwrite it.
  if (state_->handle == INVALID_HANDLE_VALUE) state_->error = GetLastError();
}

DirectorySearch::~DirectorySearch() = default;

bool DirectorySearch::started() const noexcept { return state_->handle != INVALID_HANDLE_VALUE; }

std::uint32_t DirectorySearch::error() const noexcept { return state_->error; }

std::u16string_view DirectorySearch::name() const noexcept {
  const wchar_t* name = state_->data.cFileName;
  return {asUtf16(name), wcsnlen(name, std::size(state_->data.cFileName))};
}

bool DirectorySearch::next() {
  return started() && FindNextFileW(state_->handle, &state_->data) != 0;
}

}  // namespace frostcap::platform
