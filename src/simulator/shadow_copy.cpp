#include "simulator/shadow_copy.h"

#include <charconv>
#include <cstdint>
#include <fstream>
#include <optional>
#include <random>
#include <string_view>
#include <system_error>
#include <vector>

#include "simulator/shadow_copy_system.h"

namespace frostcap::simulator {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDeviceCopyName = "HarddiskVolumeShadowCopy";
constexpr std::string_view kTemporaryCopyName = "frostcap-shadow-copy";
constexpr std::string_view kOwnerSuffix = ".owner";
// What a persistent copy's marker begins with: no owner is read from it, so
// the sweep of ended owners leaves it alone.
constexpr std::string_view kPersistentMark = "persistent ";
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

// The owner a marker names; nothing when it names none, as while its owner is
// still writing it.
std::optional<std::uint32_t> readOwner(const fs::path& marker) {
  std::ifstream in(marker, std::ios::binary);
  std::string text;
  if (!std::getline(in, text)) return std::nullopt;
  std::uint32_t owner = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), owner);
  if (error != std::errc() || end != text.data() + text.size() || owner == 0) return std::nullopt;
  return owner;
}

// Removes the copies in `folder` whose owner no longer runs: those of a host
// that ended without releasing its snapshot, because it was killed or crashed.
// The copy goes before its marker, so that a removal cut short leaves nothing
// that the next one would not find again.
void removeCopiesOfEndedOwners(const CopyFolder& folder) {
  const std::string_view copyName = folder.devices ? kDeviceCopyName : kTemporaryCopyName;
  const std::uint32_t self = currentProcessId();
  std::vector<fs::path> ended;
  std::error_code error;
  for (fs::directory_iterator entry(folder.path, error), end; !error && entry != end;
       entry.increment(error)) {
    try {
      const std::string name = entry->path().filename().string();
      if (!name.starts_with(copyName) || !name.ends_with(kOwnerSuffix)) continue;
      const std::optional<std::uint32_t> owner = readOwner(entry->path());
      if (owner && *owner != self && !processRunning(*owner)) ended.push_back(entry->path());
    } catch (const std::exception&) {
      // A name that is not ours, or a marker that cannot be read: left alone.
    }
  }
  for (const fs::path& marker : ended) {
    std::error_code ignored;
    fs::path copy = marker;
    copy.replace_extension();
    fs::remove_all(copy, ignored);
    fs::remove(marker, ignored);
  }
}

struct Claim {
  fs::path directory;
  fs::path marker;
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
    if (!createNewFile(claim.marker, owner)) continue;
    bool created = false;
    try {
      created = createNewDirectory(claim.directory);
    } catch (...) {
      std::error_code ignored;
      fs::remove(claim.marker, ignored);
      throw;
    }
    if (created) return claim;
    // A directory of that name without a marker: not one of ours to take.
    std::error_code ignored;
    fs::remove(claim.marker, ignored);
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

ShadowCopy::ShadowCopy(const fs::path& source, int number, CopyOptions options)
    : persistent_(options.persistent) {
  if (!fs::is_directory(source)) {
    throw fs::filesystem_error("not a directory", source,
                               std::make_error_code(std::errc::not_a_directory));
  }
  const CopyFolder folder = copyFolder();
  Claim claim;
  withCopyFolderLocked(folder.path, [&] {
    removeCopiesOfEndedOwners(folder);
    claim = claimCopy(folder, number, options);
  });
  directory_ = std::move(claim.directory);
  marker_ = std::move(claim.marker);
  deviceName_ = shadowCopyDeviceName(claim.number);
  try {
    copyVolumeTree(source, directory_, marker_);
  } catch (...) {
    remove();
    throw;
  }
}

ShadowCopy::~ShadowCopy() { remove(); }

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
  if (directory_.empty()) return;
  std::error_code ignored;
  fs::remove_all(directory_, ignored);
  fs::remove(marker_, ignored);
}

}  // namespace frostcap::simulator
