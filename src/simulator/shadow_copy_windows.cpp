// Shadow copies on Windows: plain copies of the files and directories, the
// files with their time of last change (the run-time library cannot set a
// directory's). Symbolic links are left out: making them takes a privilege
// that most accounts do not hold.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.

#include <optional>
#include <string>
#include <system_error>

#include "simulator/shadow_copy_system.h"

namespace frostcap::simulator {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void throwSystemError(const std::string& what, const fs::path& path, DWORD error) {
  throw fs::filesystem_error(what, path,
                             std::error_code(static_cast<int>(error), std::system_category()));
}

class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// A variable's value; nothing when it is not set or empty.
std::optional<std::wstring> environmentVariable(const wchar_t* name) {
  std::wstring value(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) return std::nullopt;
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);  // too small: `length` counts the terminator
  }
}

void copyTree(const fs::path& source, const fs::path& target, const fs::path& copy,
              const fs::path& marker) {
  for (const fs::directory_entry& entry : fs::directory_iterator(source)) {
    const fs::path destination = target / entry.path().filename();
    const fs::file_status status = entry.symlink_status();
    if (fs::is_directory(status)) {
      // The copy may be made inside the very tree it copies.
      if (entry.path().lexically_normal() == copy) continue;
      fs::create_directory(destination);
      copyTree(entry.path(), destination, copy, marker);
    } else if (fs::is_regular_file(status)) {
      if (entry.path().lexically_normal() == marker) continue;
      fs::copy_file(entry.path(), destination);
      fs::last_write_time(destination, fs::last_write_time(entry.path()));
    }
  }
}

}  // namespace

CopyFolder copyFolder() {
  // Wine looks up \\?\GLOBALROOT\Device\NAME as the directory
  // dosdevices\globalroot\device\NAME of its prefix, which Z:, the host's
  // root, reaches. A WINEPREFIX that is not a Wine prefix there (as it would
  // be on Windows itself) leaves the copies in the temporary directory.
  if (std::optional<std::wstring> prefix = environmentVariable(L"WINEPREFIX");
      prefix && prefix->front() == L'/') {
    for (wchar_t& unit : *prefix) {
      if (unit == L'/') unit = L'\\';
    }
    const fs::path dosDevices = fs::path(L"Z:" + *prefix) / L"dosdevices";
    std::error_code error;
    if (fs::is_directory(dosDevices, error)) {
      const fs::path devices = dosDevices / L"globalroot" / L"device";
      fs::create_directories(devices);
      return {devices, true};
    }
  }
  return {fs::temp_directory_path(), false};
}

void withCopyFolderLocked(const fs::path& folder, const std::function<void()>& work) {
  // Device names are taken again once free, so the removal of an ended
  // owner's copy must not meet a new claim of its name. One lock for every
  // folder: it is held only while names are looked at and taken.
  const OwnedHandle mutex(CreateMutexW(nullptr, FALSE, L"Local\\frostcap-shadow-copies"));
  if (mutex.get() == nullptr) {
    throwSystemError("cannot create the lock for the copies", folder, GetLastError());
  }
  // WAIT_ABANDONED: a holder died while it held the lock. What it guarded is
  // read again from the folder, so the lock is simply ours now.
  const DWORD waited = WaitForSingleObject(mutex.get(), INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    throwSystemError("cannot take the lock for the copies", folder, GetLastError());
  }
  struct Release {
    HANDLE mutex;
    ~Release() { ReleaseMutex(mutex); }
  } release{mutex.get()};
  work();
}

std::uint32_t currentProcessId() { return GetCurrentProcessId(); }

// A marker is held open, not shared, for the copy's lifetime: another open of
// it fails with a sharing violation until its owner ends, however it ends.
// Deletion is shared so that the holder can remove it while it holds it.
std::optional<MarkerLock> MarkerLock::create(const fs::path& path, std::string_view content) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return std::nullopt;
    throwSystemError("cannot create", path, error);
  }
  MarkerLock marker(reinterpret_cast<std::intptr_t>(file));
  DWORD written = 0;
  if (WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) == 0 ||
      written != content.size()) {
    const DWORD error = GetLastError();
    marker.remove(path);
    throwSystemError("cannot write", path, error);
  }
  return marker;
}

std::optional<MarkerLock> MarkerLock::takeAbandoned(const fs::path& path) noexcept {
  // Not shared for reading or writing: refused while the owner holds it. A
  // reparse point is opened as itself, never followed.
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  MarkerLock marker(reinterpret_cast<std::intptr_t>(file));
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file) != FILE_TYPE_DISK || GetFileInformationByHandle(file, &info) == 0 ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return std::nullopt;
  }
  return marker;
}

MarkerLock::MarkerLock(MarkerLock&& other) noexcept : handle_(other.handle_) {
  other.handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

MarkerLock::~MarkerLock() {
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

std::string MarkerLock::content() const {
  std::string text(kMaxContent, '\0');
  OVERLAPPED start{};
  DWORD read = 0;
  if (ReadFile(reinterpret_cast<HANDLE>(handle_), text.data(), static_cast<DWORD>(text.size()),
               &read, &start) == 0) {
    read = 0;
  }
  text.resize(read);
  return text;
}

void MarkerLock::remove(const fs::path& path) noexcept { DeleteFileW(path.c_str()); }

bool createNewDirectory(const fs::path& path) {
  if (CreateDirectoryW(path.c_str(), nullptr) != 0) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS) return false;
  throwSystemError("cannot create a directory for the copy", path, error);
}

void copyVolumeTree(const fs::path& source, const fs::path& copy, const fs::path& marker) {
  copyTree(source, copy, fs::absolute(copy).lexically_normal(),
           fs::absolute(marker).lexically_normal());
}

}  // namespace frostcap::simulator
