#include "environment.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace frostcap::cli {
namespace {

bool isCommandVariable(std::string_view entry) {
  std::string name(entry.substr(0, entry.find('=', 1)));
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name == "FROSTCAP_MOUNT_PATHS" || name == "FROSTCAP_TRACE") return true;
  for (const std::string_view prefix : {"FROSTCAP_MOUNT_PATH_", "FROSTCAP_SNAPSHOT_DIR_"}) {
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
        std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<std::string> childEnvironment(
    const std::vector<std::string>& inherited,
    const std::vector<std::pair<std::string, std::string>>& own) {
  std::vector<std::string> entries;
  for (const std::string& entry : inherited) {
    if (!isCommandVariable(entry)) entries.push_back(entry);
  }
  for (const auto& [name, value] : own) entries.push_back(name + "=" + value);
  return entries;
}

}  // namespace frostcap::cli
