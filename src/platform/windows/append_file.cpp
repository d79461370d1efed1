// Windows half of the append-only file: a handle with FILE_APPEND_DATA alone
// writes only at the end of the file, whoever else writes. The file is opened
// as itself, never through a reparse point, and one it creates gets a
// protected DACL that admits its owner alone.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <string>
#include <vector>

#include "platform/append_file.h"

namespace frostcap::platform {
namespace {

std::string errorText(DWORD code) { return "error " + std::to_string(code); }

// The owner that the process's token gives to the objects it creates.
std::vector<unsigned char> defaultOwner() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenOwner, nullptr, 0, &size);
  std::vector<unsigned char> owner(size);
  const bool read = size != 0 && GetTokenInformation(token, TokenOwner, owner.data(), size, &size);
  CloseHandle(token);
  if (!read) return {};
  return owner;
}

// A security descriptor whose DACL, not inherited, gives full access to the
// owner alone. Its parts live as long as the object.
class OwnerOnly {
 public:
  OwnerOnly() {
    owner_ = defaultOwner();
    if (owner_.empty()) return;
    PSID sid = reinterpret_cast<TOKEN_OWNER*>(owner_.data())->Owner;
    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
    auto* acl = reinterpret_cast<ACL*>(acl_.data());
    ready_ = InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
             AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
             InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
             SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
             SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_ = {sizeof(SECURITY_ATTRIBUTES), &descriptor_, FALSE};
  }
  OwnerOnly(const OwnerOnly&) = delete;
  OwnerOnly& operator=(const OwnerOnly&) = delete;

  SECURITY_ATTRIBUTES* attributes() { return ready_ ? &attributes_ : nullptr; }

 private:
  std::vector<unsigned char> owner_;
  std::vector<unsigned char> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ready_ = false;
};

}  // namespace

struct AppendFile::State {
  HANDLE handle = INVALID_HANDLE_VALUE;
  ~State() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

AppendFile::AppendFile(const std::u16string& path) : state_(std::make_unique<State>()) {
  OwnerOnly security;
  if (security.attributes() == nullptr) {
    failure_ = "the owner-only access of a new file could not be set up";
    state_.reset();
    return;
  }
  // The security attributes apply only when the file is created.
  state_->handle =
      CreateFileW(asWide(path.c_str()), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, security.attributes(),
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (state_->handle == INVALID_HANDLE_VALUE) {
    failure_ = errorText(GetLastError());
    state_.reset();
    return;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(state_->handle, &information)) {
    failure_ = errorText(GetLastError());
    state_.reset();
  } else if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    failure_ = "it is a symbolic link or another reparse point";
    state_.reset();
  } else if (GetFileType(state_->handle) != FILE_TYPE_DISK ||
             (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    failure_ = "it is not a regular file";
    state_.reset();
  }
}

AppendFile::~AppendFile() = default;

bool AppendFile::isOpen() const noexcept { return state_ != nullptr; }

const std::string& AppendFile::failure() const noexcept { return failure_; }

bool AppendFile::append(std::string_view line) noexcept {
  if (!isOpen() || line.size() > MAXDWORD) return false;
  DWORD written = 0;
  return WriteFile(state_->handle, line.data(), static_cast<DWORD>(line.size()), &written,
                   nullptr) &&
         written == line.size();
}

std::optional<std::u16string> environmentVariable(const char16_t* name) {
  std::u16string value(256, u'\0');
  for (;;) {
    SetLastError(0);
    const DWORD length = GetEnvironmentVariableW(asWide(name), asWide(value.data()),
                                                 static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::u16string();
    }
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);  // the size asked for, terminator included
  }
}

unsigned long currentProcessId() noexcept { return GetCurrentProcessId(); }

}  // namespace frostcap::platform
