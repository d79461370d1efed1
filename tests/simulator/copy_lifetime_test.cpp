// What a new shadow copy does with what it finds in the shared temporary
// folder (POSIX): it removes the copies nobody holds and nothing else, and
// nothing placed there by others can stop it or make it wait; and it holds
// every name that the directory search lists.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "simulator/shadow_copy.h"
#include "support/temp_dir.h"

namespace frostcap::test {
namespace {

namespace fs = std::filesystem;
using simulator::ShadowCopy;

// Left in the folder by others: copies with their markers, and things named
// like markers. A copy goes when no process holds its marker, whatever
// process id is written in it (a live owner in another PID namespace has an id
// that runs nowhere here; a dead one's id may have been given to a running
// process). Nothing is followed, opened so that it blocks, or removed that is
// not a plain marker nobody holds.
TEST(CopyFolder, CopiesNobodyHoldsAreRemovedAndNothingElse) {
  enum Kind { kMarker, kHeldMarker, kPipe, kLink, kDirectory };
  const struct {
    Kind kind;
    std::string content;  // a marker's; a link's target
    bool kept;
  } kLeft[] = {
      {kHeldMarker, "2147483000\n", true},
      {kHeldMarker, std::to_string(::getpid()) + "\n", true},
      {kMarker, "1\n", false},
      {kMarker, "2147483000\n", false},
      {kMarker, "persistent 2147483000\n", true},
      {kMarker, "", true},  // still being written
      {kPipe, "", true},
      {kLink, "/dev/zero", true},
      {kLink, "dead.owner", true},
      {kDirectory, "", true},
  };
  const TempDir dir;
  const fs::path copies = dir.host("copies"), volume = dir.host("volume");
  const std::string previous = fs::temp_directory_path().string();
  ::setenv("TMPDIR", (fs::create_directory(copies), copies).c_str(), 1);
  std::ofstream(dir.host("dead.owner")) << "2147483000\n";
  dir.file("volume/data.txt");
  std::vector<int> held;
  for (std::size_t i = 0; i < std::size(kLeft); ++i) {
    const fs::path copy = copies / ("frostcap-shadow-copy1-left" + std::to_string(i));
    const fs::path marker = copy.string() + ".owner";
    std::ofstream((fs::create_directory(copy), copy / "data.txt")) << "x";
    if (kLeft[i].kind == kMarker || kLeft[i].kind == kHeldMarker) {
      std::ofstream(marker) << kLeft[i].content;
      if (kLeft[i].kind == kHeldMarker) held.push_back(::open(marker.c_str(), O_RDONLY));
    } else if (kLeft[i].kind == kPipe) {
      ASSERT_EQ(::mkfifo(marker.c_str(), 0600), 0);
    } else if (kLeft[i].kind == kLink) {
      fs::create_symlink(fs::absolute(dir.host(kLeft[i].content)), marker);
    } else {
      fs::create_directory(marker);
    }
  }
  for (const int fd : held) ASSERT_EQ(::flock(fd, LOCK_EX), 0);

  // Names that are not UTF-8 are listed with U+FFFD for each byte that is
  // not; the copy holds them under those names, also when two read alike.
  for (const char* name : {"caf\xE9", "caf\xE8", "caf\xC3\xA9"}) {
    std::ofstream(volume / name) << name;
  }
  {
    const ShadowCopy next(volume, 1);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(next.directory())) {
      names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"caf\xEF\xBF\xBD", "caf\xEF\xBF\xBD (2)", "caf\xC3\xA9",
                                            "data.txt"}));
    // This copy is held too: another one made meanwhile leaves it alone.
    const ShadowCopy other(volume, 2);
    EXPECT_TRUE(fs::exists(next.directory() / "data.txt"));
  }
  for (std::size_t i = 0; i < std::size(kLeft); ++i) {
    const fs::path copy = copies / ("frostcap-shadow-copy1-left" + std::to_string(i));
    EXPECT_EQ(fs::exists(copy / "data.txt"), kLeft[i].kept) << i;
    EXPECT_EQ(fs::exists(fs::symlink_status(copy.string() + ".owner")), kLeft[i].kept) << i;
  }
  for (const int fd : held) ::close(fd);
  ::setenv("TMPDIR", previous.c_str(), 1);
}

}  // namespace
}  // namespace frostcap::test
