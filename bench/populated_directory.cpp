#include "populated_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace frostcap::bench {
namespace {

std::string describeErrno(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

bool makeDirectory(const std::string& path) {
  return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool isDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string benchDataRoot() {
  if (const char* root = std::getenv("FROSTCAP_BENCH_DATA"); root != nullptr && *root != '\0') {
    return root;
  }
  return FROSTCAP_BENCH_DATA_DEFAULT;
}

std::string populatedFileName(std::size_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "entry-%07zu.dat", index);
  return name;
}

std::string populatedDirectory(std::size_t count, std::string& error) {
  const std::string root = benchDataRoot();
  const std::string finished = root + "/files-" + std::to_string(count);
  if (isDirectory(finished)) return finished;

  // Filled under a temporary name and renamed when complete, so that an
  // interrupted run leaves nothing a later run would take for finished; the
  // later run just carries on filling it.
  const std::string partial = finished + ".partial";
  if (!makeDirectory(root)) {
    error = describeErrno("cannot create", root);
    return {};
  }
  if (!makeDirectory(partial)) {
    error = describeErrno("cannot create", partial);
    return {};
  }
  const int directory = ::open(partial.c_str(), O_RDONLY | O_DIRECTORY);
  if (directory < 0) {
    error = describeErrno("cannot open", partial);
    return {};
  }
  for (std::size_t index = 0; index < count; ++index) {
    const int file =
        ::openat(directory, populatedFileName(index).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (file < 0) {
      error = describeErrno("cannot create a file in", partial);
      ::close(directory);
      return {};
    }
    ::close(file);
  }
  ::close(directory);
  if (::rename(partial.c_str(), finished.c_str()) != 0) {
    error = describeErrno("cannot rename", partial);
    return {};
  }
  return finished;
}

}  // namespace frostcap::bench
