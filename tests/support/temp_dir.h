#pragma once

// A fresh directory tree for a test, removed afterwards, and its paths in the
// library's own form: backslashes, as a writer names its files (natively the
// host path with its slashes turned round, under Windows the path itself).

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"

namespace frostcap::test {

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = std::filesystem::temp_directory_path() /
            ("frostcap-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(root_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::filesystem::path host(const std::string& relative = "") const {
    return relative.empty() ? root_ : root_ / std::filesystem::path(relative).make_preferred();
  }

  // Creates an empty file, and the directories above it.
  void file(const std::string& relative) const {
    std::filesystem::create_directories(host(relative).parent_path());
    std::ofstream(host(relative)).put('x');
  }
  void directory(const std::string& relative) const {
    std::filesystem::create_directories(host(relative));
  }

  // The library's form of a path below the root, with a trailing backslash
  // when `trailingBackslash` is set.
  std::u16string path(const std::string& relative = "", bool trailingBackslash = true) const {
    const std::u8string utf8 = host(relative).u8string();
    std::u16string text = platform::utf8ToWide(std::string(utf8.begin(), utf8.end()));
    for (char16_t& unit : text) {
      if (unit == u'/') unit = u'\\';
    }
    if (trailingBackslash && text.back() != u'\\') text.push_back(u'\\');
    return text;
  }

 private:
  std::filesystem::path root_;
};

}  // namespace frostcap::test
