#include "simulator/service_state.h"

#include <algorithm>
#include <new>
#include <random>
#include <stdexcept>
#include <thread>

#include "platform/dot_components.h"
#include "platform/platform.h"
#include "simulator/shadow_copy.h"
#include "simulator/volume_names.h"

namespace frostcap::simulator {
namespace {

namespace fs = std::filesystem;

// The rest of a library path below a name, as a relative host path, its dots
// resolved as Windows resolves them: no path the model maps leads out of the
// volume or copy it names.
fs::path relativeHostPath(std::u16string_view rest) {
  std::string path = platform::wideToUtf8(platform::resolveDots(rest));
  std::replace(path.begin(), path.end(), '\\', '/');
  return fs::path(path);
}

}  // namespace

ServiceState::ServiceState(Scenario scenario) : scenario_(std::move(scenario)) {
  for (const FaultSpec& fault : scenario_.faults) plan(fault);
  std::uint32_t made = 0;
  for (const Volume& volume : scenario_.volumes) {
    std::optional<std::u16string> known = systemVolumeGuidPath(volume.name);
    volumeGuidPaths_.push_back(known ? *known : madeUpVolumeGuidPath(++made));
  }
}

const WriterSpec& ServiceState::keep(WriterSpec writer) {
  const std::lock_guard lock(mutex_);
  return kept_.emplace_back(std::move(writer));
}

const Volume* ServiceState::findVolume(std::u16string_view name) const {
  const std::u16string key = volumeKey(name);
  for (std::size_t i = 0; i < scenario_.volumes.size(); ++i) {
    const Volume& volume = scenario_.volumes[i];
    if (volumeKey(volume.name) == key || volumeKey(volumeGuidPaths_[i]) == key) return &volume;
  }
  return nullptr;
}

const std::u16string& ServiceState::volumeGuidPath(const Volume& volume) const {
  return volumeGuidPaths_[static_cast<std::size_t>(&volume - scenario_.volumes.data())];
}

void ServiceState::plan(const FaultSpec& fault) {
  const std::lock_guard lock(mutex_);
  faults_[{fault.call, fault.occurrence}] = fault;
}

// Counts this occurrence of `call` and carries out what is planned for it.
// Called with the mutex held; a throw leaves the lock to its guard.
std::optional<Status> ServiceState::plannedFor(const std::string& call,
                                               std::chrono::milliseconds& delay) {
  const int occurrence = ++counts_[call];
  auto fault = faults_.find({call, occurrence});
  if (fault == faults_.end()) fault = faults_.find({call, FaultSpec::kEveryOccurrence});
  if (fault == faults_.end()) return std::nullopt;
  delay = fault->second.delay;
  switch (fault->second.thrown) {
    case Throw::kBadAlloc:
      throw std::bad_alloc();
    case Throw::kStandard:
      throw std::runtime_error("fault injected into " + call);
    case Throw::kNonStandard:
      throw fault->second.status;
    case Throw::kNothing:
      break;
  }
  return fault->second.status;
}

std::optional<Status> ServiceState::delayed(const std::string& call, std::size_t* entry,
                                            const std::string& arguments) {
  std::chrono::milliseconds delay{0};
  std::optional<Status> planned;
  {
    const std::lock_guard lock(mutex_);
    if (entry != nullptr) {
      *entry = record_.size();
      record_.push_back({call, call + "(" + arguments + ")"});
    }
    planned = plannedFor(call, delay);
    if (entry != nullptr) record_[*entry].status = planned.value_or(Status{0});
  }
  // Other calls, on other threads, go on meanwhile.
  if (delay.count() > 0) std::this_thread::sleep_for(delay);
  return planned;
}

Status ServiceState::enter(const std::string& call, const std::string& arguments) {
  std::size_t entry = 0;
  return enter(call, arguments, entry);
}

Status ServiceState::enter(const std::string& call, const std::string& arguments,
                           std::size_t& entry) {
  return delayed(call, &entry, arguments).value_or(Status{0});
}

Status ServiceState::answered(std::size_t entry, Status status) {
  const std::lock_guard lock(mutex_);
  record_[entry].status = status;
  return status;
}

std::optional<Status> ServiceState::plannedOutcome(const std::string& call) {
  return delayed(call, nullptr, {});
}

Status ServiceState::breach(const std::string& call, const Rule& rule) {
  note("Breach",
       "Breach(" + call + ": " + std::string(rule.name) + "; " + std::string(rule.page) + ")");
  return rule.answer;
}

void ServiceState::assume(const std::string& call, const std::string& what) {
  note("Assumption", "Assumption(" + call + ": " + what + ")");
}

void ServiceState::objectMade() {
  const std::lock_guard lock(mutex_);
  ++ledger_.objects;
}

void ServiceState::objectGone() {
  const std::lock_guard lock(mutex_);
  --ledger_.objects;
}

void ServiceState::componentInfoLent() {
  const std::lock_guard lock(mutex_);
  ++ledger_.componentInfo;
}

bool ServiceState::componentInfoReturned() {
  const std::lock_guard lock(mutex_);
  if (ledger_.componentInfo == 0) return false;
  --ledger_.componentInfo;
  return true;
}

Ledger ServiceState::ledger() const {
  const std::lock_guard lock(mutex_);
  return ledger_;
}

void ServiceState::note(const std::string& call, std::string text) {
  const std::lock_guard lock(mutex_);
  record_.push_back({call, std::move(text)});
}

int ServiceState::nextShadowCopyNumber() {
  const std::lock_guard lock(mutex_);
  do {
    ++shadowCopies_;
  } while (deviceNumberReserved(shadowCopies_));
  return shadowCopies_;
}

bool ServiceState::deviceNumberReserved(int number) const {
  const std::u16string device = volumeKey(shadowCopyDeviceName(number));
  return std::any_of(scenario_.volumes.begin(), scenario_.volumes.end(),
                     [&](const Volume& v) { return v.device && volumeKey(*v.device) == device; });
}

vss::Guid ServiceState::newIdentifier(bool persistent) {
  if (persistent) {
    // Unique among every run that shares the copy folder, as a real
    // server's are.
    std::random_device random;
    vss::Guid id;
    id.data1 = random();
    id.data2 = static_cast<std::uint16_t>(random());
    id.data3 = static_cast<std::uint16_t>((random() & 0x0FFF) | 0x4000);
    for (std::uint8_t& byte : id.data4) byte = static_cast<std::uint8_t>(random());
    id.data4[0] = static_cast<std::uint8_t>((id.data4[0] & 0x3F) | 0x80);
    return id;
  }
  const std::lock_guard lock(mutex_);
  return {++identifiers_, 0x5353, 0x1000, {0x80, 0, 0, 0, 0, 0, 0, 0}};
}

bool ServiceState::addShadowCopy(const std::u16string& device, const fs::path& directory) {
  const std::lock_guard lock(mutex_);
  return liveCopies_.emplace(volumeKey(device), directory).second;
}

void ServiceState::removeShadowCopy(const std::u16string& device) {
  const std::lock_guard lock(mutex_);
  liveCopies_.erase(volumeKey(device));
}

std::optional<fs::path> ServiceState::hostPath(std::u16string_view path) const {
  std::optional<fs::path> best;
  std::size_t bestLength = 0;
  const auto consider = [&](std::u16string_view name, const fs::path& directory) {
    const std::optional<std::u16string_view> rest = pathBelow(path, name);
    if (!rest || (best && name.size() <= bestLength)) return;
    best = rest->empty() ? directory : directory / relativeHostPath(*rest);
    bestLength = name.size();
  };
  for (std::size_t i = 0; i < scenario_.volumes.size(); ++i) {
    consider(scenario_.volumes[i].name, scenario_.volumes[i].directory);
    consider(volumeGuidPaths_[i], scenario_.volumes[i].directory);
  }
  const std::lock_guard lock(mutex_);
  for (const auto& [device, directory] : liveCopies_) consider(device, directory);
  return best;
}

}  // namespace frostcap::simulator
