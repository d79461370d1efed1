#include "simulator/shadow_copy.h"

#include <system_error>

#include "simulator/shadow_copy_system.h"

namespace frostcap::simulator {

namespace fs = std::filesystem;

ShadowCopy::ShadowCopy(const fs::path& source, const std::string& label)
    : directory_(createCopyDirectory(label)) {
  try {
    if (!fs::is_directory(source)) {
      throw fs::filesystem_error("not a directory", source,
                                 std::make_error_code(std::errc::not_a_directory));
    }
    copyVolumeTree(source, directory_);
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
    throw;
  }
}

ShadowCopy::~ShadowCopy() {
  std::error_code ignored;
  fs::remove_all(directory_, ignored);
}

}  // namespace frostcap::simulator
