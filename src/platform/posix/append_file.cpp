// POSIX half of the append-only file: O_APPEND makes every write land at the
// end, whoever else writes; O_NOFOLLOW refuses a link at the name.

#include "platform/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace frostcap::platform {

struct AppendFile::State {
  int descriptor = -1;
  ~State() {
    if (descriptor >= 0) ::close(descriptor);
  }
};

AppendFile::AppendFile(const std::u16string& path) : state_(std::make_unique<State>()) {
  const std::string name = wideToUtf8(path);
  // O_NONBLOCK keeps a FIFO at the name from blocking the open; it is refused below.
  const int descriptor =
      ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
             S_IRUSR | S_IWUSR);
  if (descriptor < 0) {
    failure_ = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
    return;
  }
  state_->descriptor = descriptor;
  struct stat status {};
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    failure_ = "it is not a regular file";
    state_.reset();
  }
}

AppendFile::~AppendFile() = default;

bool AppendFile::isOpen() const noexcept { return state_ != nullptr && state_->descriptor >= 0; }

const std::string& AppendFile::failure() const noexcept { return failure_; }

bool AppendFile::append(std::string_view line) noexcept {
  if (!isOpen()) return false;
  const ssize_t written = ::write(state_->descriptor, line.data(), line.size());
  return written >= 0 && static_cast<std::size_t>(written) == line.size();
}

std::optional<std::u16string> environmentVariable(const char16_t* name) {
  const char* value = std::getenv(wideToUtf8(name).c_str());
  if (value == nullptr) return std::nullopt;
  return utf8ToWide(value);
}

unsigned long currentProcessId() noexcept { return static_cast<unsigned long>(::getpid()); }

}  // namespace frostcap::platform
