// What a new shadow copy does with what it finds in the shared temporary
// folder (POSIX): it removes the copies nobody holds and nothing else, and
// nothing placed there, by another process or another user, can stop it or
// make it wait. The copy holds every name that the directory search lists.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "platform/platform.h"
#include "simulator/shadow_copy.h"
#include "support/temp_dir.h"

namespace frostcap::test {
namespace {

namespace fs = std::filesystem;
using simulator::ShadowCopy;

// A test's own temporary folder, where the copies go while it lives.
class CopyFolder : public testing::Test {
 protected:
  CopyFolder() {
    const char* previous = std::getenv("TMPDIR");
    if (previous != nullptr) previous_ = previous;
    folder_.directory("copies");
    folder_.file("volume/data.txt");
    ::setenv("TMPDIR", folder_.host("copies").c_str(), 1);
  }
  ~CopyFolder() override {
    if (previous_) {
      ::setenv("TMPDIR", previous_->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }

  fs::path copies() const { return folder_.host("copies"); }
  fs::path volume() const { return folder_.host("volume"); }

  std::set<std::string> names() const {
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(copies())) {
      found.insert(entry.path().filename().string());
    }
    return found;
  }

  TempDir folder_;

 private:
  std::optional<std::string> previous_;
};

// An open file holding the lock of a marker, as its owner does.
class HeldMarker {
 public:
  explicit HeldMarker(const fs::path& marker) : fd_(::open(marker.c_str(), O_RDONLY)) {
    EXPECT_GE(fd_, 0);
    EXPECT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0);
  }
  ~HeldMarker() { ::close(fd_); }
  HeldMarker(const HeldMarker&) = delete;
  HeldMarker& operator=(const HeldMarker&) = delete;

 private:
  int fd_;
};

// Copies left by others, each a directory with its marker: whether the next
// copy removes it depends on whether a process holds the marker, never on the
// process id written in it.
TEST_F(CopyFolder, CopiesNobodyHoldsAreRemovedAndNoOthers) {
  const struct {
    const char* why;
    std::string content;
    bool held;
    bool kept;
  } kLeft[] = {
      // A live owner in another PID namespace: its id means nothing here.
      {"held, with an id that runs nowhere here", "2147483000\n", true, true},
      {"held, with this process's id", std::to_string(::getpid()) + "\n", true, true},
      // A dead owner whose id was given to a process that runs.
      {"not held, with the id of a running process", "1\n", false, false},
      {"not held, with an id that runs nowhere", "2147483000\n", false, false},
      {"not held, persistent", "persistent 2147483000\n", false, true},
      {"not held, still being written", "", false, true},
  };
  std::vector<std::unique_ptr<HeldMarker>> holders;
  for (std::size_t i = 0; i < std::size(kLeft); ++i) {
    const fs::path copy = copies() / ("frostcap-shadow-copy1-left" + std::to_string(i));
    fs::create_directory(copy);
    std::ofstream(copy / "data.txt") << "x";
    std::ofstream(copy.string() + ".owner") << kLeft[i].content;
    if (kLeft[i].held) holders.push_back(std::make_unique<HeldMarker>(copy.string() + ".owner"));
  }

  const ShadowCopy next(volume(), 1);
  for (std::size_t i = 0; i < std::size(kLeft); ++i) {
    SCOPED_TRACE(kLeft[i].why);
    const fs::path copy = copies() / ("frostcap-shadow-copy1-left" + std::to_string(i));
    EXPECT_EQ(fs::exists(copy / "data.txt"), kLeft[i].kept);
    EXPECT_EQ(fs::exists(copy.string() + ".owner"), kLeft[i].kept);
  }
  // This very copy is held too: another copy made now leaves it alone.
  const ShadowCopy other(volume(), 2);
  EXPECT_TRUE(fs::exists(next.directory() / "data.txt"));
}

// Anyone who can write to the folder can name things like markers. None of
// them makes a new copy wait or fail, none is followed, and none is removed.
TEST_F(CopyFolder, ThingsNamedLikeMarkersNeitherStopNorDelayACopy) {
  const fs::path pipe = copies() / "frostcap-shadow-copy1-pipe.owner";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", copies() / "frostcap-shadow-copy1-zero.owner");
  fs::create_directory(copies() / "frostcap-shadow-copy1-linked");
  std::ofstream(folder_.host("elsewhere.owner")) << "2147483000\n";
  fs::create_symlink(folder_.host("elsewhere.owner"),
                     copies() / "frostcap-shadow-copy1-linked.owner");
  fs::create_directory(copies() / "frostcap-shadow-copy1-folder.owner");

  {
    const ShadowCopy copy(volume(), 1);
    EXPECT_TRUE(fs::exists(copy.directory() / "data.txt"));
  }
  EXPECT_EQ(names(), (std::set<std::string>{
                         "frostcap-shadow-copy1-pipe.owner", "frostcap-shadow-copy1-zero.owner",
                         "frostcap-shadow-copy1-linked", "frostcap-shadow-copy1-linked.owner",
                         "frostcap-shadow-copy1-folder.owner"}));
}

// A name that is not UTF-8 is listed with U+FFFD in place of each byte that is
// not; the copy holds it under that very name. Two such names that read the
// same are both kept.
TEST_F(CopyFolder, NamesThatAreNotUtf8AreCopiedAsTheyAreListed) {
  std::ofstream(volume() / "caf\xE9.txt") << "e acute";
  std::ofstream(volume() / "caf\xE8.txt") << "e grave";
  std::ofstream(volume() / "caf\xC3\xA9.txt") << "UTF-8";
  const ShadowCopy copy(volume(), 1);

  std::set<std::string> contents;
  for (const auto& entry : fs::directory_iterator(copy.directory())) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(platform::wideToUtf8(platform::utf8ToWide(name)), name) << "not UTF-8: " << name;
    std::ifstream in(entry.path());
    std::string content;
    std::getline(in, content);
    contents.insert(name.starts_with("caf\xEF\xBF\xBD") ? content : name + ": " + content);
  }
  EXPECT_EQ(contents,
            (std::set<std::string>{"caf\xC3\xA9.txt: UTF-8", "data.txt: x", "e acute", "e grave"}));
  EXPECT_TRUE(fs::exists(copy.directory() / "caf\xEF\xBF\xBD.txt"));
}

}  // namespace
}  // namespace frostcap::test
