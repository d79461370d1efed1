// The real shadow copy service, reached through frostcap.dll.

#include "service.h"

namespace frostcap::cli {
namespace {

class RealService final : public Service {
 public:
  std::string description() const override { return {}; }
  // The device path of a shadow copy opens like any directory.
  std::string hostPath(const std::string& mountPath) const override { return mountPath; }
  bool writeRecord(const std::filesystem::path&) const override { return false; }
};

}  // namespace

bool canSimulate() { return false; }

std::unique_ptr<Service> openService(const std::string& scenario, const std::vector<std::string>&) {
  if (!scenario.empty()) {
    throw ServiceError{"--scenario needs the simulated service, which this build does not have"};
  }
  return std::make_unique<RealService>();
}

}  // namespace frostcap::cli
