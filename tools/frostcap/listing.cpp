#include "listing.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "frostcap.hpp"

namespace frostcap::cli {
namespace {

std::string folded(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return text;
}

// Names are UTF-8 here, also where the narrow code page is another.
std::filesystem::path fromUtf8(const std::string& text) {
  return std::u8string(text.begin(), text.end());
}

std::string toUtf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

std::vector<ListedFile> makeListing(const ListingInput& input) {
  std::set<std::string> skip;
  for (const std::string& path : input.excluded) skip.insert(folded(path));
  std::vector<ListedFile> listed;
  std::function<void(const std::string&)> visit = [&](const std::string& path) {
    if (skip.count(folded(path)) != 0) return;
    ListedFile entry{path, {}, false};
    std::filesystem::path local;
    if (const auto inside = frostcap::copyPath(path, input.volumes, input.mountPaths)) {
      entry.copyPath = *inside;
      local = fromUtf8(input.hostPath(*inside));
      std::error_code error;
      entry.directory = std::filesystem::is_directory(local, error);
    }
    listed.push_back(entry);
    if (!input.walk || !entry.directory) return;
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(local, error), end; !error && it != end;
         it.increment(error)) {
      names.push_back(toUtf8(it->path().filename()));
    }
    std::sort(names.begin(), names.end());
    const std::string parent = path.back() == '\\' ? path : path + '\\';
    for (const std::string& name : names) visit(parent + name);
  };
  for (const std::string& path : input.files) visit(path);
  return listed;
}

}  // namespace frostcap::cli
