#pragma once

// A file that whole lines are appended to, by this process and others at the
// same time: each line goes out in one write at the end of the file, so that
// lines never interleave inside a line. The file is never reached through a
// link, and one it creates is readable and writable by its owner only.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace frostcap::platform {

class AppendFile {
 public:
  // Opens `path` for appending, creating it if it does not exist. A symbolic
  // link or reparse point at the name, or anything but a regular file, is
  // refused.
  explicit AppendFile(const std::u16string& path);
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  bool isOpen() const noexcept;
  // Why the file could not be opened, in English; empty when it is open.
  const std::string& failure() const noexcept;

  // Writes `line` at the end of the file in one write; false when it could
  // not be written whole.
  bool append(std::string_view line) noexcept;

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::string failure_;
};

// The value of an environment variable of this process (GetEnvironmentVariableW);
// nothing when it is not set.
std::optional<std::u16string> environmentVariable(const char16_t* name);

// GetCurrentProcessId.
unsigned long currentProcessId() noexcept;

}  // namespace frostcap::platform
