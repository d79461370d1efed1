#include "platform/path_resolver.h"

#include "platform/mapped_directory.h"

#include <memory>
#include <mutex>
#include <utility>

namespace frostcap::platform {
namespace {

// Searches may run on several threads while a resolver is swapped; each
// search takes its own reference, so a replaced resolver lives until the
// searches using it are done.
struct Installed {
  std::mutex mutex;
  std::shared_ptr<const PathResolver> resolver;
};

Installed& installed() {
  static Installed instance;
  return instance;
}

std::shared_ptr<const PathResolver> currentResolver() {
  Installed& state = installed();
  const std::lock_guard lock(state.mutex);
  return state.resolver;
}

}  // namespace

PathResolver setPathResolver(PathResolver resolver) {
  std::shared_ptr<const PathResolver> replacement;
  if (resolver) replacement = std::make_shared<const PathResolver>(std::move(resolver));
  Installed& state = installed();
  std::shared_ptr<const PathResolver> previous;
  {
    const std::lock_guard lock(state.mutex);
    previous = std::exchange(state.resolver, std::move(replacement));
  }
  return previous ? *previous : PathResolver();
}

// The installed resolver's answer; nothing when there is none.
std::optional<std::string> mappedDirectory(std::u16string_view libraryPath) noexcept {
  try {
    const auto resolver = currentResolver();
    if (!resolver) return std::nullopt;
    return (*resolver)(libraryPath);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace frostcap::platform
