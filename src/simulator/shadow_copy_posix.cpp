// Shadow copies on POSIX systems: files are cloned where the file system can
// share their blocks, and the copy keeps links, permissions and the volume's
// bounds.

#include "simulator/shadow_copy_system.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

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

// What a tree copy must not step into: the copy itself, when it is made
// inside the tree, and other file systems mounted in it, which a snapshot of
// a volume does not include either (their mount points stay, empty).
struct Bounds {
  Identity copy;
  dev_t volume = 0;
};

void copyTree(const fs::path& source, const fs::path& target, const Bounds& bounds) {
  for (const fs::directory_entry& entry : fs::directory_iterator(source)) {
    const fs::path destination = target / entry.path().filename();
    const fs::file_status status = entry.symlink_status();
    if (fs::is_symlink(status)) {
      fs::copy_symlink(entry.path(), destination);
    } else if (fs::is_directory(status)) {
      const Identity identity = identify(entry.path());
      if (identity.device == bounds.copy.device && identity.inode == bounds.copy.inode) continue;
      fs::create_directory(destination);
      if (identity.device == bounds.volume) copyTree(entry.path(), destination, bounds);
      copyDirectoryAttributes(entry.path(), destination);
    } else if (fs::is_regular_file(status)) {
      cloneOrCopyFile(entry.path(), destination);
      fs::permissions(destination, status.permissions());
      fs::last_write_time(destination, fs::last_write_time(entry.path()));
    }
  }
}

}  // namespace

fs::path createCopyDirectory(const std::string& label) {
  std::string name = (fs::temp_directory_path() / ("frostcap-" + label + "-XXXXXX")).string();
  if (::mkdtemp(name.data()) == nullptr) throwErrno("cannot create a directory for the copy", name);
  return name;
}

void copyVolumeTree(const fs::path& source, const fs::path& copy) {
  copyTree(source, copy, {identify(copy), identify(source / "").device});
}

}  // namespace frostcap::simulator
