#pragma once

// One run of the model behind vssapi.dll: a simulation read from a scenario
// file, the file its record goes to, and the ledger of what the COM face
// handed out over it and what came back. The face's objects belong to their
// run until the process ends; after its last Release an object stays in
// memory, emptied, so that a call or a Release too many is recorded as a
// misuse instead of corrupting memory.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "simulator/simulation.h"

namespace frostcap::simulator::com {

class FaceObject;

class Run {
 public:
  // `recordFile` empty: the record is kept but not written anywhere.
  Run(std::unique_ptr<Simulation> simulation, std::filesystem::path recordFile);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  Simulation& simulation() { return *simulation_; }

  // A new object of the face, holding one reference for its caller.
  template <typename Face, typename... Args>
  Face* make(Args&&... args) {
    auto face = std::make_unique<Face>(*this, std::forward<Args>(args)...);
    Face* object = face.get();
    const std::lock_guard lock(mutex_);
    made_.push_back(std::move(face));
    return object;
  }

  // Records a caller's misuse as a "Misuse" entry, and writes the record at
  // once if no backup-components object is left to be released. Never
  // throws.
  void misuse(const std::string& text) noexcept;

  // The ledger, by how much each count changes. An object is held from its
  // making to its last Release; named by its interface.
  void objectHeld(const char* name, int change) noexcept;
  void componentInfoLent(int change) noexcept;
  void snapshotPropertiesLent(int change) noexcept;
  // Backup-components objects: when the last one is released, the run draws
  // up its ledger.
  void backupHeld(int change) noexcept;
  // A backup-components object the model refused to make: with none left to
  // be released, the run draws up its ledger now.
  void backupRefused() noexcept;

  // Adds the ledger to the record, as a "Ledger" entry, and writes the record
  // to its file. With `onlyIfChanged`, nothing is done when neither the
  // record nor the ledger changed since they were last written. Never throws: a record
  // that cannot be written is reported on standard error.
  void drawUp(bool onlyIfChanged = false) noexcept;

  // At the end of the process: lets go of what the objects still held by the
  // caller hold, so that their shadow copies end with the process as the
  // service's do.
  void endHeldObjects() noexcept;

 private:
  std::string ledgerText();
  void write() noexcept;

  std::unique_ptr<Simulation> simulation_;
  const std::filesystem::path recordFile_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<FaceObject>> made_;
  std::map<std::string, int> heldObjects_;
  int componentInfo_ = 0;
  int snapshotProperties_ = 0;
  int backups_ = 0;
  bool ending_ = false;
  std::size_t writtenUpTo_ = 0;  // the record's length when last written
  std::string lastLedger_;
};

// Says what went wrong with the files the model was given, where a developer
// running the host looks: the host itself only sees the service's statuses.
void complain(const std::string& text) noexcept;

}  // namespace frostcap::simulator::com
