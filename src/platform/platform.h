#pragma once

// The few operating-system operations the library needs. Each has a Windows
// implementation (platform/windows) over the Win32 call named beside it and a
// POSIX one (platform/posix) that behaves the same for the inputs the library
// gives it. Library code reaches the operating system only through here.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace frostcap::platform {

// Same layout as the platform's GUID.
struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};

  friend bool operator==(const Guid&, const Guid&) = default;
};

// UTF-8 to UTF-16 and back (MultiByteToWideChar / WideCharToMultiByte with
// CP_UTF8 and no flags). Ill-formed input becomes U+FFFD; empty in, empty out.
std::u16string utf8ToWide(std::string_view text);
std::string wideToUtf8(std::u16string_view text);

// A GUID in registry form with braces, as CLSIDFromString accepts it;
// nothing when the text is not one.
std::optional<Guid> parseGuid(const std::u16string& text);

// The 38-character upper-case form with braces that StringFromGUID2 writes.
std::u16string formatGuid(const Guid& guid);

// PathIsNetworkPathW. A null path is not a network path.
bool isNetworkPath(const char16_t* path);

// CoInitializeEx(NULL, COINIT_MULTITHREADED); the result is of no use to the
// caller, so none is returned. Nothing to do where there is no COM.
void initialiseCom() noexcept;

// SetLastError(0).
void clearLastError() noexcept;

// The system message table's text for a code (FormatMessageW with
// FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, neutral
// language), exactly as the system gives it, trailing line break included.
// Empty when the system has no text.
std::u16string systemMessage(std::uint32_t code);

// The calling thread's last error code (GetLastError). The POSIX half keeps
// Win32 codes of its own, set by the operations below when they fail.
std::uint32_t lastError() noexcept;

// The system's text for a Win32 error code (FormatMessageW from the system
// into a 2,560-unit buffer), untrimmed: its trailing CR LF stays. Empty when
// the system has no text. A text with insert sequences comes back raw.
std::u16string systemErrorText(std::uint32_t code);

// The system's limit on an expanded environment text, in UTF-16 units with
// the terminating null.
inline constexpr std::size_t kEnvironmentLimit = 32768;

// ExpandEnvironmentStringsW: every %NAME% of a defined variable replaced by
// its value; an undefined name and an unmatched % stay as written. Nothing on
// failure, with lastError() telling why; a result that does not fit the
// system's limit fails with ERROR_INSUFFICIENT_BUFFER (122).
std::optional<std::u16string> expandEnvironment(const std::u16string& text);

// A one-level wildcard listing of a directory (FindFirstFileW, FindNextFileW,
// FindClose): `*` and `?` in the last component, matched without regard to
// case, "." and ".." listed. The pattern is in the library's own form, with
// backslashes; the POSIX half turns them into its separator only at the file
// system call.
class DirectorySearch {
 public:
  explicit DirectorySearch(const std::u16string& pattern);
  ~DirectorySearch();
  DirectorySearch(const DirectorySearch&) = delete;
  DirectorySearch& operator=(const DirectorySearch&) = delete;

  // False when the search could not start; error() then holds the code:
  // 2 nothing matched, 3 no such directory, 5 access denied, or another.
  bool started() const noexcept;
  std::uint32_t error() const noexcept;

  // The current entry's name, up to its terminator; valid until next().
  std::u16string_view name() const noexcept;
  // Moves to the next entry; false at the end or on any error.
  bool next();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace frostcap::platform
