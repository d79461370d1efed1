#include "simulator/simulation.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <utility>

#include "platform/path_resolver.h"
#include "platform/platform.h"
#include "simulator/backup_components.h"
#include "simulator/documents.h"
#include "simulator/scenario.h"
#include "simulator/service_state.h"
#include "simulator/volume_names.h"
#include "simulator/writer_objects.h"
#include "vss/call_text.h"
#include "vss/constants.h"
#include "vss/factory.h"

namespace frostcap::simulator {
namespace {

namespace fs = std::filesystem;

constexpr Status kObjectNotFound = static_cast<Status>(0x80042308);  // VSS_E_OBJECT_NOT_FOUND

Status create(const std::shared_ptr<ServiceState>& state,
              std::unique_ptr<ModelBackupComponents>& out) {
  const Status status = state->enter("CreateVssBackupComponents");
  if (!failed(status)) out = makeBackupComponents(state);
  return status;
}

class ScenarioSimulation final : public Simulation {
 public:
  explicit ScenarioSimulation(Scenario scenario)
      : state_(std::make_shared<ServiceState>(std::move(scenario))) {}

  ~ScenarioSimulation() override {
    if (!installed_) return;
    vss::setBackupComponentsFactory(std::move(previousFactory_));
    platform::setPathResolver(std::move(previousResolver_));
  }

  void install() override {
    if (installed_) return;
    installed_ = true;
    // Objects the library still holds when the simulation goes keep the
    // state alive; the resolver only looks while the simulation exists.
    std::shared_ptr<ServiceState> state = state_;
    previousFactory_ =
        vss::setBackupComponentsFactory([state](std::unique_ptr<vss::BackupComponents>& out) {
          std::unique_ptr<ModelBackupComponents> made;
          const Status status = create(state, made);
          if (!failed(status)) out = std::move(made);
          return status;
        });
    std::weak_ptr<ServiceState> weak = state_;
    previousResolver_ =
        platform::setPathResolver([weak](std::u16string_view path) -> std::optional<std::string> {
          try {
            const std::shared_ptr<ServiceState> alive = weak.lock();
            if (!alive) return std::nullopt;
            std::optional<fs::path> host = alive->hostPath(path);
            if (!host) return std::nullopt;
            const std::u8string utf8 = host->u8string();
            return std::string(utf8.begin(), utf8.end());
          } catch (...) {
            return std::nullopt;
          }
        });
  }

  Status createBackupComponents(std::unique_ptr<ModelBackupComponents>& out) override {
    return create(state_, out);
  }

  Status volumeQuery(const std::string& call, std::u16string_view volume,
                     bool& snapshotted) override {
    Call taken(*state_, call, platform::wideToUtf8(volume));
    if (taken.refused()) return taken.status();
    const Volume* named = state_->findVolume(volume);
    if (named == nullptr || !hasVolumeNameForm(volume, named->name)) {
      return taken.answer(kObjectNotFound);
    }
    snapshotted = false;
    for (const SnapshotProperties& copy : state_->snapshots().list()) {
      snapshotted = snapshotted || copy.volumeName == state_->volumeGuidPath(*named);
    }
    return taken.status();
  }

  Status examineWriterMetadata(std::u16string_view document,
                               std::unique_ptr<ModelWriterMetadata>& out) override {
    Call call(*state_, "CreateVssExamineWriterMetadata");
    if (call.refused()) return call.status();
    std::optional<WriterSpec> writer = readWriterMetadataDocument(document);
    if (!writer) return call.answer(vss::kInvalidXmlDocument);
    out = makeWriterMetadata(state_, state_->keep(std::move(*writer)));
    return call.status();
  }

  void note(const std::string& call, std::string text) override {
    state_->note(call, std::move(text));
  }

  const std::vector<RecordEntry>& record() const override { return state_->record(); }

  void writeRecord(const fs::path& file) const override {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) {
      throw std::runtime_error(file.string() + ": cannot be written: " + std::strerror(errno));
    }
    for (const RecordEntry& entry : state_->record()) out << recordLine(entry) << '\n';
    out.flush();
    if (!out) throw std::runtime_error(file.string() + ": cannot be written");
  }

  std::optional<fs::path> hostPath(std::u16string_view path) const override {
    return state_->hostPath(path);
  }

  void plan(const FaultSpec& fault) override { state_->plan(fault); }

  Ledger ledger() const override { return state_->ledger(); }

 private:
  std::shared_ptr<ServiceState> state_;
  bool installed_ = false;
  vss::BackupComponentsFactory previousFactory_;
  platform::PathResolver previousResolver_;
};

}  // namespace

std::string recordLine(const RecordEntry& entry) {
  nlohmann::ordered_json line = {{"call", entry.call}, {"text", entry.text}};
  if (entry.status != 0) line["status"] = vss::statusText(entry.status);
  return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::unique_ptr<Simulation> Simulation::fromScenario(Scenario scenario) {
  return std::make_unique<ScenarioSimulation>(std::move(scenario));
}

std::unique_ptr<Simulation> Simulation::fromFile(const fs::path& scenario) {
  return std::make_unique<ScenarioSimulation>(readScenario(scenario));
}

std::unique_ptr<Simulation> Simulation::forVolumes(std::vector<Volume> volumes) {
  Scenario scenario;
  for (Volume& volume : volumes) {
    std::error_code error;
    if (!fs::is_directory(volume.directory, error)) {
      const std::string name = platform::wideToUtf8(volume.name);
      const std::string directory = volume.directory.string();
      throw ScenarioError(name == directory ? directory + ": not an existing directory"
                                            : "volume " + name + ": " + directory +
                                                  " is not an existing directory");
    }
    // The copy is taken later, perhaps from another working directory.
    volume.directory = fs::absolute(volume.directory).lexically_normal();
    scenario.volumes.push_back(std::move(volume));
  }
  return std::make_unique<ScenarioSimulation>(std::move(scenario));
}

}  // namespace frostcap::simulator
