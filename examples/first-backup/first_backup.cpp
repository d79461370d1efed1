// A first real backup in C++ (docs/first-backup-cpp.md): the same job as
// first_backup.c with frostcap.hpp. The snapshot is freed with verdict 1 only
// when complete() was reached; any exception or early return fails it.
//
// Built against the simulated service (FROSTCAP_SIMULATED, which links
// frostcap-sim), it loads the scenario that FROSTCAP_SIM_SCENARIO names and
// opens the copy's files in the directory that stands for the copy here.
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "frostcap.hpp"
#include "frostcap_requester.h"
#ifdef FROSTCAP_SIMULATED
#include "frostcap_sim.h"
#endif

namespace {

const frostcap::string kVolume = FROSTCAP_TEXT("C:\\");

std::string utf8(const frostcap::string& text) {
  std::string out(frostcap_to_utf8(text.data(), text.size(), nullptr, 0) + 1, '\0');
  out.resize(frostcap_to_utf8(text.data(), text.size(), out.data(), out.size()));
  return out;
}

// The path inside the copy of a live path on kVolume: the mount path with
// the rest of the live path after the volume name (drive letters in either
// case). Empty for a path on another volume.
frostcap::string pathInCopy(const frostcap::string& mount, const frostcap::string& live) {
  if (live.size() < kVolume.size()) return {};
  for (std::size_t i = 0; i < kVolume.size(); ++i)
    if ((live[i] | 0x20) != (kVolume[i] | 0x20)) return {};
  return mount + live.substr(kVolume.size());
}

// Reads a file inside the copy to its end; its size, or -1 when it cannot be
// read. Windows opens the device path itself; elsewhere only the simulated
// service knows the directory behind it.
long long readFile(const frostcap::string& path) {
#ifdef _WIN32
  std::ifstream file(path.c_str(), std::ios::binary);
#else
  const char* hostPath = nullptr;
#ifdef FROSTCAP_SIMULATED
  hostPath = frostcap_sim_hostPath(utf8(path).c_str());
#endif
  if (hostPath == nullptr) return -1;
  std::ifstream file(hostPath, std::ios::binary);
#endif
  if (!file) return -1;
  char buffer[65536];
  long long total = 0;
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) total += file.gcount();
  return total;
}

}  // namespace

int main() {
  if (const long status = frostcap_requester_setup(); status != 0) {
    std::cerr << "this process cannot be a requester (" << std::hex << status << ")\n";
    return 1;
  }
#ifdef FROSTCAP_SIMULATED
  const char* scenario = std::getenv("FROSTCAP_SIM_SCENARIO");
  if (scenario == nullptr || frostcap_sim_loadScenario(scenario) != 0) {
    std::cerr << "no scenario: " << frostcap_sim_lastError() << "\n";
    return 1;
  }
#endif
  try {
    // 1. The component and the volume it lies on; a copy backup (5) leaves
    //    the writer's logs and backup history alone.
    frostcap::Options options;
    options.volumes = {kVolume};
    options.components = {{frostcap::ComponentType::database,
                           FROSTCAP_TEXT("{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}"),
                           FROSTCAP_TEXT("Mail"),
                           FROSTCAP_TEXT("Mailbox Database"),
                           {}}};
    options.backupType = 5;

    // 2. Both phases; frostcap::Error says why when one fails.
    frostcap::Snapshot snapshot = frostcap::Snapshot::take(options);
    const frostcap::string& mount = snapshot.mountPaths().at(0);
    std::cout << "mount path: " << utf8(mount) << "\n";

    // 3. The component's files, by their live paths, read inside the copy.
    for (const frostcap::string& live : snapshot.files()) {
      const long long size = readFile(pathInCopy(mount, live));
      std::cout << "file: " << utf8(live) << "\n  " << size << " bytes read inside the copy\n";
      if (size < 0) throw std::runtime_error("a file could not be read: " + utf8(live));
    }
    for (const frostcap::string& message : snapshot.rawMessages())
      std::cout << frostcap::render(message) << "\n";

    // 4. The verdict: everything was read.
    snapshot.complete();
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\nbackup failed\n";
    return 1;
  }
  std::cout << "backup succeeded\n";
#ifdef FROSTCAP_SIMULATED
  // What the service was told, for a test to check, as vssapi.dll writes it.
  if (const char* record = std::getenv("FROSTCAP_SIM_RECORD")) frostcap_sim_writeRecord(record);
#endif
  return 0;
}
