#include "simulator/shadow_copy.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "simulator/shadow_copy_system.h"

namespace frostcap::simulator {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDeviceCopyName = "HarddiskVolumeShadowCopy";
constexpr std::string_view kTemporaryCopyName = "frostcap-shadow-copy";
constexpr std::string_view kOwnerSuffix = ".owner";
// Names tried before giving up: device numbers from 1 up, or random names.
constexpr int kMaxAttempts = 10000;

fs::path markerOf(const fs::path& copy) {
  fs::path marker = copy;
  marker += kOwnerSuffix;
  return marker;
}

std::string randomSuffix() {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::uint32_t value = std::random_device{}();
  std::string suffix(8, '0');
  for (char& digit : suffix) {
    digit = kDigits[value & 0xF];
    value >>= 4;
  }
  return suffix;
}

// What a persistent copy's marker begins with: the sweep leaves it alone.
constexpr std::string_view kPersistentMark = "persistent ";

// Removes the copies in `folder` that no process holds: those of a host that
// ended without releasing its snapshot, because it was killed or crashed. A
// marker held, being written (still empty), persistent, or not a plain file
// of this user is left alone. The copy goes before its marker, so that a
// removal cut short leaves nothing that the next one would not find again.
void removeAbandonedCopies(const CopyFolder& folder) {
  const std::string_view copyName = folder.devices ? kDeviceCopyName : kTemporaryCopyName;
  std::vector<fs::path> markers;
  std::error_code error;
  for (fs::directory_iterator entry(folder.path, error), end; !error && entry != end;
       entry.increment(error)) {
    try {
      const std::string name = entry->path().filename().string();
      if (name.starts_with(copyName) && name.ends_with(kOwnerSuffix)) {
        markers.push_back(entry->path());
      }
    } catch (const std::exception&) {
      // A name this system cannot spell narrow is none of ours.
    }
  }
  for (const fs::path& marker : markers) {
    std::optional<MarkerLock> lock = MarkerLock::takeAbandoned(marker);
    if (!lock) continue;
    const std::string content = lock->content();
    if (content.empty() || content.starts_with(kPersistentMark)) continue;
    std::error_code ignored;
    fs::path copy = marker;
    copy.replace_extension();
    fs::remove_all(copy, ignored);
    lock->remove(marker);
  }
}

struct Claim {
  fs::path directory;
  fs::path marker;
  std::unique_ptr<MarkerLock> lock;
  int number = 0;
};

// Takes a name for a new copy: its marker first, then its directory. A name is
// free when neither exists, so a copy is never without its marker while it
// exists, and a marker left without a copy is swept like any other.
Claim claimCopy(const CopyFolder& folder, int number, const CopyOptions& options) {
  const std::string owner = (options.persistent ? std::string(kPersistentMark) : std::string()) +
                            std::to_string(currentProcessId()) + "\n";
  for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
    if (folder.devices && options.reserved && options.reserved(attempt)) continue;
    Claim claim;
    claim.number = folder.devices ? attempt : number;
    claim.directory =
        folder.path / (folder.devices ? std::string(kDeviceCopyName) + std::to_string(attempt)
                                      : std::string(kTemporaryCopyName) + std::to_string(number) +
                                            "-" + randomSuffix());
    claim.marker = markerOf(claim.directory);
    std::optional<MarkerLock> lock = MarkerLock::create(claim.marker, owner);
    if (!lock) continue;
    bool created = false;
    try {
      created = createNewDirectory(claim.directory);
    } catch (...) {
      lock->remove(claim.marker);
      throw;
    }
    if (created) {
      claim.lock = std::make_unique<MarkerLock>(std::move(*lock));
      return claim;
    }
    // A directory of that name without a marker: not one of ours to take.
    lock->remove(claim.marker);
  }
  throw fs::filesystem_error("no free name for a shadow copy", folder.path,
                             std::make_error_code(std::errc::file_exists));
}

}  // namespace

std::u16string shadowCopyDeviceName(int number) {
  std::u16string name = u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy";
  for (const char digit : std::to_string(number)) name.push_back(static_cast<char16_t>(digit));
  return name;
}

// The timer of a copy that is to vanish, stopped when the copy ends first.
struct ShadowCopy::Vanishing {
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  bool vanished = false;
  std::thread timer;
};

ShadowCopy::ShadowCopy(const fs::path& source, int number, CopyOptions options)
    : persistent_(options.persistent) {
  if (!fs::is_directory(source)) {
    throw fs::filesystem_error("not a directory", source,
                               std::make_error_code(std::errc::not_a_directory));
  }
  const CopyFolder folder = copyFolder();
  Claim claim;
  withCopyFolderLocked(folder.path, [&] {
    removeAbandonedCopies(folder);
    claim = claimCopy(folder, number, options);
  });
  directory_ = std::move(claim.directory);
  marker_ = std::move(claim.marker);
  markerLock_ = std::move(claim.lock);
  deviceName_ = shadowCopyDeviceName(claim.number);
  try {
    copyVolumeTree(source, directory_, marker_);
  } catch (...) {
    remove();
    throw;
  }
}

ShadowCopy::~ShadowCopy() { remove(); }

void ShadowCopy::vanishAfter(std::chrono::milliseconds delay) {
  if (vanishing_) return;
  vanishing_ = std::make_unique<Vanishing>();
  vanishing_->timer = std::thread([this, delay, &state = *vanishing_] {
    std::unique_lock lock(state.mutex);
    if (state.wake.wait_for(lock, delay, [&] { return state.stopping; })) return;
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
    state.vanished = true;
  });
}

bool ShadowCopy::vanished() const {
  if (!vanishing_) return false;
  const std::lock_guard lock(vanishing_->mutex);
  return vanishing_->vanished;
}

void ShadowCopy::keep() noexcept {
  if (!persistent_) return;
  directory_.clear();
  marker_.clear();
}

void ShadowCopy::removePersistent(const fs::path& directory) noexcept {
  std::error_code ignored;
  fs::remove_all(directory, ignored);
  fs::remove(markerOf(directory), ignored);
}

void ShadowCopy::remove() noexcept {
  if (vanishing_ && vanishing_->timer.joinable()) {
    {
      const std::lock_guard lock(vanishing_->mutex);
      vanishing_->stopping = true;
    }
    vanishing_->wake.notify_all();
    vanishing_->timer.join();
  }
  if (!directory_.empty()) {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
    if (markerLock_) markerLock_->remove(marker_);
  }
  markerLock_.reset();
}

}  // namespace frostcap::simulator
