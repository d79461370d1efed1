#pragma once

// The files of the selected components as a backup reads them: the library
// names each entry by its live path and expands a descriptor one directory
// level, so the command finds each entry inside the copy of its volume, marks
// the directories and, on request, walks them there.

#include <functional>
#include <string>
#include <vector>

namespace frostcap::cli {

struct ListedFile {
  std::string path;      // the live path, as the library names it
  std::string copyPath;  // inside the copy of its volume; empty when on none
  bool directory = false;
};

struct ListingInput {
  std::vector<std::string> files, excluded;      // `excluded`: what to leave out
  std::vector<std::string> volumes, mountPaths;  // in the same order
  // Where this process opens a path inside a copy.
  std::function<std::string(const std::string&)> hostPath;
  bool walk = false;  // each directory followed by everything below it
};

std::vector<ListedFile> makeListing(const ListingInput& input);

}  // namespace frostcap::cli
