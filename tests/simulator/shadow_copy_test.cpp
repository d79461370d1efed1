// Under Wine the simulated service's shadow copies live where Wine looks up
// their device names, so that any program finds them there, and a copy whose
// host was killed goes when the next one is made. Windows only: the frostcap
// command's end-to-end tests kill a host natively.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/platform.h"
#include "simulator/shadow_copy.h"
#include "support/temp_dir.h"

namespace frostcap::test {
namespace {

namespace fs = std::filesystem;
using simulator::ShadowCopy;

// Runs the copy holder, which terminates itself with code 9 while it holds a
// copy of `volume`, and returns what it wrote: the device name and the copy's
// directory.
std::pair<std::u16string, fs::path> copyOfAKilledHost(const TempDir& dir, const fs::path& volume) {
  std::wstring command = L"frostcap_copy_holder.exe \"" + volume.wstring() + L"\" \"" +
                         dir.host("held").wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  // Found beside this program, where CreateProcessW looks first.
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    ADD_FAILURE() << "cannot start the copy holder: error " << GetLastError();
    return {};
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(code, 9u);
  std::ifstream in(dir.host("held"));
  std::string device, directory;
  std::getline(in, device);
  std::getline(in, directory);
  return {platform::utf8ToWide(device), fs::path(platform::utf8ToWide(directory))};
}

// What FindFirstFileW lists for a pattern, with no resolver in between: what
// the shipped library sees.
std::set<std::u16string> listing(const std::u16string& pattern) {
  std::set<std::u16string> names;
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW(platform::asWide(pattern.c_str()), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names.insert(platform::asUtf16(found.cFileName));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

TEST(ShadowCopies, KilledHostsCopyIsFoundByItsDeviceNameAndGoesWithTheNextCopy) {
  if (std::getenv("WINEPREFIX") == nullptr) {
    GTEST_SKIP() << "device names lead to the copies under Wine only";
  }
  TempDir dir;
  dir.file("volume/Data/box.edb");
  const auto [device, directory] = copyOfAKilledHost(dir, dir.host("volume"));
  ASSERT_FALSE(device.empty());
  fs::path marker = directory;
  marker += ".owner";

  // The killed host's copy stays, and its device name leads to it.
  EXPECT_TRUE(fs::is_regular_file(directory / "Data" / "box.edb"));
  EXPECT_TRUE(fs::is_regular_file(marker));
  EXPECT_EQ(listing(device + u"\\Data\\*"), (std::set<std::u16string>{u".", u"..", u"box.edb"}));

  {
    // The next copy removes it and takes its name, the lowest free again,
    // whatever number the simulation asks for; the name now leads to the new
    // copy.
    dir.file("volume/Data/late.edb");
    const ShadowCopy next(dir.host("volume"), 7);
    EXPECT_EQ(next.deviceName(), device);
    EXPECT_EQ(next.directory(), directory);
    EXPECT_EQ(listing(device + u"\\Data\\*"),
              (std::set<std::u16string>{u".", u"..", u"box.edb", u"late.edb"}));
  }
  EXPECT_FALSE(fs::exists(directory));
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_TRUE(listing(device + u"\\*").empty());
}

}  // namespace
}  // namespace frostcap::test
