#pragma once

// The shadow copy service behind the library for this run: the real one on
// Windows, the simulated one elsewhere.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace frostcap::cli {

class Service {
 public:
  virtual ~Service() = default;
  // One line for stderr saying which service this is; empty for the real one.
  virtual std::string description() const = 0;
  // Where a command run during the snapshot finds the files of a mount path.
  virtual std::string hostPath(const std::string& mountPath) const = 0;
  // Writes what the service was told, one JSON object a line, if it keeps
  // such a record; false if it does not.
  virtual bool writeRecord(const std::filesystem::path& file) const = 0;
};

// Thrown for a scenario that cannot be used; the message says why.
struct ServiceError {
  std::string message;
};

// `scenario` empty: the volumes given, with no writers (the simulated
// service), or the real service. Throws ServiceError.
std::unique_ptr<Service> openService(const std::string& scenario,
                                     const std::vector<std::string>& volumes);

// Whether this build can simulate the service (--scenario and --record).
bool canSimulate();

}  // namespace frostcap::cli
