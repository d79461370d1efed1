// A host that dies holding a shadow copy: copies the directory given, writes
// the copy's device name and directory (a line each) to the file given, and is
// terminated without releasing it, as a killed host would be.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "simulator/shadow_copy.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const auto copy = std::make_unique<frostcap::simulator::ShadowCopy>(argv[1], 1);
  const std::u8string directory = copy->directory().u8string();
  std::ofstream(argv[2], std::ios::binary)
      << frostcap::platform::wideToUtf8(copy->deviceName()) << '\n'
      << std::string(directory.begin(), directory.end()) << '\n';
  TerminateProcess(GetCurrentProcess(), 9);
  return 1;
}
