// The simulated service: what the command runs on where the real service does
// not exist.

#include "platform/utf_codec.h"
#include "service.h"
#include "simulator/simulation.h"

namespace frostcap::cli {
namespace {

class SimulatedService final : public Service {
 public:
  SimulatedService(std::unique_ptr<simulator::Simulation> simulation, std::string source)
      : simulation_(std::move(simulation)), source_(std::move(source)) {
    simulation_->install();
  }

  std::string description() const override {
    return "frostcap: simulated shadow copy service (" + source_ + ")";
  }

  std::string hostPath(const std::string& mountPath) const override {
    const auto path = simulation_->hostPath(utf::toUtf16(mountPath));
    return path ? path->string() : mountPath;
  }

  bool writeRecord(const std::filesystem::path& file) const override {
    simulation_->writeRecord(file);
    return true;
  }

 private:
  std::unique_ptr<simulator::Simulation> simulation_;
  std::string source_;
};

}  // namespace

bool canSimulate() { return true; }

std::unique_ptr<Service> openService(const std::string& scenario,
                                     const std::vector<std::string>& volumes) {
  try {
    if (!scenario.empty()) {
      return std::make_unique<SimulatedService>(simulator::Simulation::fromFile(scenario),
                                                "scenario " + scenario);
    }
    // Without a scenario every volume is a directory of this host, named as
    // given.
    std::vector<simulator::Volume> simulated;
    for (const std::string& volume : volumes) {
      simulated.push_back({utf::toUtf16(volume), std::filesystem::path(volume), std::nullopt});
    }
    return std::make_unique<SimulatedService>(simulator::Simulation::forVolumes(simulated),
                                              "no scenario: the volumes given, no writers");
  } catch (const simulator::ScenarioError& error) {
    throw ServiceError{error.what()};
  }
}

}  // namespace frostcap::cli
