#include "simulator/com/run.h"

#include <exception>

#include "simulator/com/faces.h"
#include "simulator/com/task_memory.h"

namespace frostcap::simulator::com {

void complain(const std::string& text) noexcept {
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  try {
    const std::string line = "vssapi.dll (simulated shadow copy service): " + text + "\n";
    DWORD written = 0;
    WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  } catch (...) {
  }
}

Run::Run(std::unique_ptr<Simulation> simulation, std::filesystem::path recordFile)
    : simulation_(std::move(simulation)), recordFile_(std::move(recordFile)) {}

// The objects may refer to the simulation to the last.
Run::~Run() { made_.clear(); }

void Run::misuse(const std::string& text) noexcept {
  try {
    simulation_->note("Misuse", text);
  } catch (...) {
    return;
  }
  bool done = false;
  {
    const std::lock_guard lock(mutex_);
    done = backups_ == 0;
  }
  if (done) write();
}

void Run::objectHeld(const char* name, int change) noexcept {
  const std::lock_guard lock(mutex_);
  try {
    const int held = heldObjects_[name] += change;
    if (held == 0) heldObjects_.erase(name);
  } catch (...) {
  }
}

void Run::componentInfoLent(int change) noexcept {
  const std::lock_guard lock(mutex_);
  componentInfo_ += change;
}

void Run::snapshotPropertiesLent(int change) noexcept {
  const std::lock_guard lock(mutex_);
  snapshotProperties_ += change;
}

void Run::backupHeld(int change) noexcept {
  bool last = false;
  {
    const std::lock_guard lock(mutex_);
    backups_ += change;
    last = backups_ == 0 && change < 0 && !ending_;
  }
  if (last) drawUp();
}

void Run::backupRefused() noexcept {
  bool none = false;
  {
    const std::lock_guard lock(mutex_);
    none = backups_ == 0;
  }
  if (none) drawUp();
}

std::string Run::ledgerText() {
  const std::lock_guard lock(mutex_);
  int objects = 0;
  std::string names;
  for (const auto& [name, count] : heldObjects_) {
    objects += count;
    names += (names.empty() ? "" : " ") + name + (count > 1 ? " x" + std::to_string(count) : "");
  }
  const std::optional<std::size_t> strings = outstandingStrings(this);
  return "Ledger(objects=" + std::to_string(objects) + (names.empty() ? "" : " [" + names + "]") +
         ",componentInfo=" + std::to_string(componentInfo_) +
         ",snapshotProperties=" + std::to_string(snapshotProperties_) +
         ",strings=" + (strings ? std::to_string(*strings) : std::string("unwatched")) + ")";
}

void Run::drawUp(bool onlyIfChanged) noexcept {
  try {
    const std::string ledger = ledgerText();
    if (onlyIfChanged && simulation_->record().size() == writtenUpTo_ && ledger == lastLedger_) {
      return;
    }
    simulation_->note("Ledger", ledger);
    lastLedger_ = ledger;
  } catch (...) {
    return;
  }
  write();
}

void Run::write() noexcept {
  writtenUpTo_ = simulation_->record().size();
  if (recordFile_.empty()) return;
  try {
    simulation_->writeRecord(recordFile_);
  } catch (const std::exception& error) {
    complain(error.what());
  } catch (...) {
    complain("the record could not be written");
  }
}

void Run::endHeldObjects() noexcept {
  std::vector<FaceObject*> objects;
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
    try {
      for (const auto& object : made_) objects.push_back(object.get());
    } catch (...) {
      return;
    }
  }
  for (FaceObject* object : objects) object->endIfHeld();
}

}  // namespace frostcap::simulator::com
