// The real shadow copy service, reached through frostcap.dll.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <string>
#include <vector>

#include "command_line.h"
#include "platform/utf_codec.h"
#include "service.h"

namespace frostcap::cli {
namespace {

std::wstring wide(const std::string& text) {
  const std::u16string utf16 = utf::toUtf16(text);
  return std::wstring(utf16.begin(), utf16.end());
}

std::string folded(std::string name) {
  name = volumeName(std::move(name));
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == '/') c = '\\';
  }
  return name;
}

class RealService final : public Service {
 public:
  std::string description() const override { return {}; }
  // The device path of a shadow copy opens like any directory.
  std::string hostPath(const std::string& mountPath) const override { return mountPath; }

  // The system's own rule: the mount point of the volume the path lies on,
  // a drive (C:\) or a folder another volume is mounted on.
  std::optional<std::string> volumeOf(const std::string& path) const override {
    std::vector<wchar_t> volume(32768);
    if (!GetVolumePathNameW(wide(path).c_str(), volume.data(), static_cast<DWORD>(volume.size()))) {
      return std::nullopt;
    }
    const std::wstring name(volume.data());
    return utf::toUtf8(std::u16string(name.begin(), name.end()));
  }

  bool sameVolume(const std::string& a, const std::string& b) const override {
    return folded(a) == folded(b);
  }

  bool copyExists(const std::string& mountPath) const override {
    const DWORD attributes = GetFileAttributesW(wide(mountPath).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  bool writeRecord(const std::filesystem::path&) const override { return false; }
};

}  // namespace

bool canSimulate() { return false; }

std::unique_ptr<Service> openService(const std::string& scenario, const std::vector<std::string>&) {
  if (!scenario.empty()) {
    throw ServiceError{"--scenario needs the simulated service, which this build does not have"};
  }
  return std::make_unique<RealService>();
}

}  // namespace frostcap::cli
