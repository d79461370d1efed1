// The simulated service: what the command runs on where the real service does
// not exist.

#include <system_error>

#include "platform/utf_codec.h"
#include "service.h"
#include "simulator/scenario.h"
#include "simulator/simulation.h"
#include "simulator/volume_names.h"

namespace frostcap::cli {
namespace {

class SimulatedService final : public Service {
 public:
  SimulatedService(std::vector<simulator::Volume> volumes,
                   std::unique_ptr<simulator::Simulation> simulation, std::string source)
      : volumes_(std::move(volumes)),
        simulation_(std::move(simulation)),
        source_(std::move(source)) {
    simulation_->install();
  }

  std::string description() const override {
    return "frostcap: simulated shadow copy service (" + source_ + ")";
  }

  std::string hostPath(const std::string& mountPath) const override {
    const auto path = simulation_->hostPath(utf::toUtf16(mountPath));
    return path ? path->string() : mountPath;
  }

  std::optional<std::string> volumeOf(const std::string& path) const override {
    const std::u16string text = utf::toUtf16(path);
    const simulator::Volume* best = nullptr;
    for (const simulator::Volume& volume : volumes_) {
      if (simulator::pathBelow(text, volume.name) &&
          (best == nullptr || volume.name.size() > best->name.size())) {
        best = &volume;
      }
    }
    if (best == nullptr) return std::nullopt;
    return utf::toUtf8(best->name);
  }

  bool sameVolume(const std::string& a, const std::string& b) const override {
    return simulator::volumeKey(utf::toUtf16(a)) == simulator::volumeKey(utf::toUtf16(b));
  }

  bool copyExists(const std::string& mountPath) const override {
    const auto path = simulation_->hostPath(utf::toUtf16(mountPath));
    std::error_code error;
    return path && std::filesystem::is_directory(*path, error);
  }

  bool writeRecord(const std::filesystem::path& file) const override {
    simulation_->writeRecord(file);
    return true;
  }

 private:
  std::vector<simulator::Volume> volumes_;
  std::unique_ptr<simulator::Simulation> simulation_;
  std::string source_;
};

}  // namespace

bool canSimulate() { return true; }

std::unique_ptr<Service> openService(const std::string& scenario,
                                     const std::vector<std::string>& volumes) {
  try {
    if (!scenario.empty()) {
      simulator::Scenario read = simulator::readScenario(scenario);
      std::vector<simulator::Volume> named = read.volumes;
      return std::make_unique<SimulatedService>(
          std::move(named), simulator::Simulation::fromScenario(std::move(read)),
          "scenario " + scenario);
    }
    // Without a scenario every volume is a directory of this host, named as
    // given.
    std::vector<simulator::Volume> simulated;
    for (const std::string& volume : volumes) {
      simulated.push_back({utf::toUtf16(volume), std::filesystem::path(volume), std::nullopt});
    }
    return std::make_unique<SimulatedService>(simulated,
                                              simulator::Simulation::forVolumes(simulated),
                                              "no scenario: the volumes given, no writers");
  } catch (const simulator::ScenarioError& error) {
    throw ServiceError{error.what()};
  } catch (const std::exception& error) {
    // What the scenario's reader lets through, such as a number out of range.
    throw ServiceError{(scenario.empty() ? std::string("the volumes given") : scenario) + ": " +
                       error.what()};
  }
}

}  // namespace frostcap::cli
