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
  // The volume that holds `path`, named as the service takes it: on Windows
  // the system's own rule (the volume mount point that the path lies under),
  // in the simulation the longest scenario volume the path lies under. Nothing
  // when no volume holds it.
  virtual std::optional<std::string> volumeOf(const std::string& path) const = 0;
  // Whether two names, as hosts pass them, name the same volume.
  virtual bool sameVolume(const std::string& a, const std::string& b) const = 0;
  // Whether a mount path still leads to its shadow copy: the service deletes
  // a copy whose storage fills while the backup reads it.
  virtual bool copyExists(const std::string& mountPath) const = 0;
  // Writes what the service was told, one JSON object a line, if it keeps
  // such a record; false if it does not.
  virtual bool writeRecord(const std::filesystem::path& file) const = 0;
};

// Thrown for a scenario that cannot be used, whatever the reason (a value
// out of range too); the message says why.
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
