// Shadow copies on POSIX systems: files are cloned where the file system can
// share their blocks, and the copy keeps links, permissions and the volume's
// bounds.

#include "simulator/shadow_copy_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

#include "platform/platform.h"

namespace frostcap::simulator {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void throwErrno(const std::string& what, const fs::path& path) {
  throw fs::filesystem_error(what, path, std::error_code(errno, std::generic_category()));
}

class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Shares the source's blocks where the file system can (a reflink: instant,
// and no extra space), and copies the bytes where it cannot.
void cloneOrCopyFile(const fs::path& source, const fs::path& target) {
#if defined(FICLONE)
  {
    const FileHandle in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) throwErrno("cannot open for the copy", source);
    const FileHandle out(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.get() < 0) throwErrno("cannot create the copy", target);
    if (::ioctl(out.get(), FICLONE, in.get()) == 0) return;
  }
#endif
  fs::copy_file(source, target, fs::copy_options::overwrite_existing);
}

// The directories stay writable for their owner, or the copy could not be
// removed again.
void copyDirectoryAttributes(const fs::path& source, const fs::path& target) {
  fs::permissions(target, fs::status(source).permissions() | fs::perms::owner_all);
  fs::last_write_time(target, fs::last_write_time(source));
}

struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
};

Identity identify(const fs::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) throwErrno("cannot read", path);
  return {info.st_dev, info.st_ino};
}

// What a tree copy must not step into: the copy itself and its marker, when
// they are made inside the tree, and other file systems mounted in it, which a
// snapshot of a volume does not include either (their mount points stay,
// empty).
struct Bounds {
  Identity copy;
  Identity marker;
  fs::path markerName;
  dev_t volume = 0;
};

bool same(const Identity& a, const Identity& b) {
  return a.device == b.device && a.inode == b.inode;
}

// The name an entry has in the copy: its own when it is UTF-8, otherwise the
// name the directory search lists for it, each byte that is not UTF-8 read
// as U+FFFD. Such names can meet; a later one is told apart by a number.
fs::path nameInCopy(const fs::path& target, const fs::path& name) {
  const std::string listed = platform::wideToUtf8(platform::utf8ToWide(name.native()));
  if (listed == name.native()) return target / name;
  fs::path destination = target / listed;
  for (int number = 2; fs::exists(fs::symlink_status(destination)); ++number) {
    destination = target / (listed + " (" + std::to_string(number) + ")");
  }
  return destination;
}

void copyTree(const fs::path& source, const fs::path& target, const Bounds& bounds) {
  for (const fs::directory_entry& entry : fs::directory_iterator(source)) {
    const fs::path destination = nameInCopy(target, entry.path().filename());
    const fs::file_status status = entry.symlink_status();
    if (fs::is_symlink(status)) {
      fs::copy_symlink(entry.path(), destination);
    } else if (fs::is_directory(status)) {
      const Identity identity = identify(entry.path());
      if (same(identity, bounds.copy)) continue;
      fs::create_directory(destination);
      if (identity.device == bounds.volume) copyTree(entry.path(), destination, bounds);
      copyDirectoryAttributes(entry.path(), destination);
    } else if (fs::is_regular_file(status)) {
      if (entry.path().filename() == bounds.markerName &&
          same(identify(entry.path()), bounds.marker)) {
        continue;
      }
      cloneOrCopyFile(entry.path(), destination);
      fs::permissions(destination, status.permissions());
      fs::last_write_time(destination, fs::last_write_time(entry.path()));
    }
  }
}

}  // namespace

// Copies stay in the temporary directory: device names mean nothing to this
// system's own calls, and the simulated builds map them to the copies.
CopyFolder copyFolder() { return {fs::temp_directory_path(), false}; }

// Names in the temporary directory are random and never taken twice, so a
// removal that judged a copy's owner a moment ago cannot meet a new copy of
// the same name: there is nothing to lock.
void withCopyFolderLocked(const fs::path&, const std::function<void()>& work) { work(); }

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

std::optional<MarkerLock> MarkerLock::create(const fs::path& path, std::string_view content) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return std::nullopt;
    throwErrno("cannot create", path);
  }
  MarkerLock marker(fd);
  // A lock of the open file, not of the process (flock, not fcntl): another
  // open of the marker in this very process is refused it too. Taken before
  // the content is written, so that a marker with content is always held
  // while its owner lives; a sweep that meets it empty leaves it alone, and
  // this wait is no longer than that look.
  int locked = 0;
  while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  while (locked == 0 && !content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  if (locked != 0 || !content.empty()) {
    const int error = errno;
    marker.remove(path);
    errno = error;
    throwErrno("cannot write", path);
  }
  return marker;
}

std::optional<MarkerLock> MarkerLock::takeAbandoned(const fs::path& path) noexcept {
  // O_NONBLOCK: opening a pipe named like a marker would wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  MarkerLock marker(fd);
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_uid != ::geteuid()) {
    return std::nullopt;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return std::nullopt;
  // Still the marker of that name: not one that a sweep removed meanwhile.
  struct stat named {};
  if (::lstat(path.c_str(), &named) != 0 || named.st_dev != opened.st_dev ||
      named.st_ino != opened.st_ino) {
    return std::nullopt;
  }
  return marker;
}

MarkerLock::MarkerLock(MarkerLock&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

MarkerLock::~MarkerLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::string MarkerLock::content() const {
  std::string text(kMaxContent, '\0');
  const ssize_t read = ::pread(static_cast<int>(handle_), text.data(), text.size(), 0);
  text.resize(read > 0 ? static_cast<std::size_t>(read) : 0);
  return text;
}

void MarkerLock::remove(const fs::path& path) noexcept { ::unlink(path.c_str()); }

bool createNewDirectory(const fs::path& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  if (errno == EEXIST) return false;
  throwErrno("cannot create a directory for the copy", path);
}

void copyVolumeTree(const fs::path& source, const fs::path& copy, const fs::path& marker) {
  copyTree(source, copy,
           {identify(copy), identify(marker), marker.filename(), identify(source / "").device});
}

}  // namespace frostcap::simulator
