#include "simulator/snapshot_store.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "simulator/shadow_copy.h"
#include "simulator/shadow_copy_system.h"

namespace frostcap::simulator {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::string_view kDescriptionSuffix = ".snapshot";
// VSS_TIMESTAMP counts from 1601, the Unix clock from 1970.
constexpr std::int64_t kUnixEpochAsTimestamp = 116444736000000000;

fs::path descriptionOf(const fs::path& copy) {
  fs::path description = copy;
  description += kDescriptionSuffix;
  return description;
}

std::string utf8(const std::u16string& text) { return platform::wideToUtf8(text); }

json describe(const SnapshotProperties& p) {
  const std::u8string directory = p.directory.u8string();
  return {{"id", utf8(platform::formatGuid(p.id))},
          {"setId", utf8(platform::formatGuid(p.setId))},
          {"context", p.context},
          {"attributes", p.attributes},
          {"setCount", p.setCount},
          {"volumeName", utf8(p.volumeName)},
          {"device", utf8(p.device)},
          {"created", p.created},
          {"directory", std::string(directory.begin(), directory.end())}};
}

// A description another run wrote; nothing for one that cannot be read, as
// while it is being written.
std::optional<SnapshotProperties> readDescription(const fs::path& file) {
  try {
    const json d = json::parse(std::ifstream(file, std::ios::binary));
    SnapshotProperties p;
    const auto id = platform::parseGuid(platform::utf8ToWide(d.at("id").get<std::string>()));
    const auto setId = platform::parseGuid(platform::utf8ToWide(d.at("setId").get<std::string>()));
    if (!id || !setId) return std::nullopt;
    p.id = *id;
    p.setId = *setId;
    p.context = d.at("context").get<std::int32_t>();
    p.attributes = d.at("attributes").get<std::int32_t>();
    p.setCount = d.at("setCount").get<std::int32_t>();
    p.volumeName = platform::utf8ToWide(d.at("volumeName").get<std::string>());
    p.device = platform::utf8ToWide(d.at("device").get<std::string>());
    p.created = d.at("created").get<std::int64_t>();
    const std::string directory = d.at("directory").get<std::string>();
    p.directory = fs::path(std::u8string(directory.begin(), directory.end()));
    return p;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

std::int64_t timestampNow() {
  using namespace std::chrono;
  const auto since1970 = duration_cast<duration<std::int64_t, std::ratio<1, 10000000>>>(
      system_clock::now().time_since_epoch());
  return since1970.count() + kUnixEpochAsTimestamp;
}

SnapshotStore::SnapshotStore() = default;
SnapshotStore::~SnapshotStore() = default;

void SnapshotStore::add(const SnapshotProperties& properties, std::unique_ptr<ShadowCopy> copy) {
  if (copy && (properties.attributes & kPersistentAttribute) != 0) {
    // The description first: a copy handed over is never without one.
    const fs::path description = descriptionOf(copy->directory());
    std::ofstream out(description, std::ios::binary | std::ios::trunc);
    out << describe(properties).dump() << '\n';
    if (!out.flush()) {
      throw fs::filesystem_error("cannot describe the persistent copy", description,
                                 std::make_error_code(std::errc::io_error));
    }
    out.close();
    copy->keep();
  }
  const std::lock_guard lock(mutex_);
  entries_.push_back({properties, std::move(copy)});
}

bool SnapshotStore::remove(const platform::Guid& id) {
  std::unique_ptr<ShadowCopy> copy;
  SnapshotProperties found;
  {
    const std::lock_guard lock(mutex_);
    const auto entry = std::find_if(entries_.begin(), entries_.end(),
                                    [&](const Entry& e) { return e.properties.id == id; });
    if (entry != entries_.end()) {
      found = entry->properties;
      copy = std::move(entry->copy);
      entries_.erase(entry);
    } else {
      const std::vector<SnapshotProperties> left = leftInFolder();
      const auto other = std::find_if(left.begin(), left.end(),
                                      [&](const SnapshotProperties& p) { return p.id == id; });
      if (other == left.end()) return false;
      found = *other;
    }
  }
  if ((found.attributes & kPersistentAttribute) != 0 && !found.directory.empty()) {
    std::error_code ignored;
    fs::remove(descriptionOf(found.directory), ignored);
    ShadowCopy::removePersistent(found.directory);
  }
  copy.reset();  // a copy that is not persistent goes with its object
  return true;
}

std::vector<SnapshotProperties> SnapshotStore::leftInFolder() const {
  std::vector<SnapshotProperties> left;
  fs::path folder;
  try {
    folder = copyFolder().path;
  } catch (const std::exception&) {
    return left;
  }
  std::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    const fs::path& file = entry->path();
    if (file.extension() != kDescriptionSuffix) continue;
    std::optional<SnapshotProperties> p = readDescription(file);
    // A description whose copy is gone (its maker ended before handing it
    // over, and the sweep took it) describes nothing.
    std::error_code gone;
    if (p && !p->directory.empty() && !fs::is_directory(p->directory, gone)) continue;
    if (!p || std::any_of(entries_.begin(), entries_.end(),
                          [&](const Entry& e) { return e.properties.id == p->id; })) {
      continue;
    }
    left.push_back(std::move(*p));
  }
  std::sort(left.begin(), left.end(), [](const SnapshotProperties& a, const SnapshotProperties& b) {
    return a.created < b.created;
  });
  return left;
}

std::vector<SnapshotProperties> SnapshotStore::list() const {
  const std::lock_guard lock(mutex_);
  std::vector<SnapshotProperties> all;
  for (const Entry& entry : entries_) all.push_back(entry.properties);
  for (SnapshotProperties& other : leftInFolder()) all.push_back(std::move(other));
  return all;
}

std::optional<SnapshotProperties> SnapshotStore::find(const platform::Guid& id) const {
  for (SnapshotProperties& p : list()) {
    if (p.id == id) return std::move(p);
  }
  return std::nullopt;
}

bool SnapshotStore::idTaken(const platform::Guid& id) const {
  for (const SnapshotProperties& p : list()) {
    if (p.id == id || p.setId == id) return true;
  }
  return false;
}

bool SnapshotStore::deviceTaken(const std::u16string& device) const {
  for (const SnapshotProperties& p : list()) {
    if (p.device == device) return true;
  }
  return false;
}

}  // namespace frostcap::simulator
