// Shadow copies on Windows: plain copies of the files and directories, the
// files with their time of last change (the run-time library cannot set a
// directory's). Symbolic links are left out: making them takes a privilege
// that most accounts do not hold.

#include <atomic>
#include <chrono>
#include <string>
#include <system_error>

#include "simulator/shadow_copy_system.h"

namespace frostcap::simulator {
namespace {

namespace fs = std::filesystem;

void copyTree(const fs::path& source, const fs::path& target, const fs::path& copy) {
  for (const fs::directory_entry& entry : fs::directory_iterator(source)) {
    const fs::path destination = target / entry.path().filename();
    const fs::file_status status = entry.symlink_status();
    if (fs::is_directory(status)) {
      // The copy may be made inside the very tree it copies.
      if (entry.path().lexically_normal() == copy) continue;
      fs::create_directory(destination);
      copyTree(entry.path(), destination, copy);
    } else if (fs::is_regular_file(status)) {
      fs::copy_file(entry.path(), destination);
      fs::last_write_time(destination, fs::last_write_time(entry.path()));
    }
  }
}

}  // namespace

fs::path createCopyDirectory(const std::string& label) {
  // Several processes may make copies at once: creating the directory is
  // what claims a name, and a name taken already just means another try.
  static std::atomic<unsigned> counter{0};
  const fs::path temp = fs::temp_directory_path();
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    const fs::path name = temp / ("frostcap-" + label + "-" + std::to_string(stamp) + "-" +
                                  std::to_string(counter++));
    if (fs::create_directory(name)) return name;
  }
}

void copyVolumeTree(const fs::path& source, const fs::path& copy) {
  copyTree(source, copy, fs::absolute(copy).lexically_normal());
}

}  // namespace frostcap::simulator
