// One source for both platforms: natively it checks the portable directory
// search and environment expansion, under Wine the real FindFirstFileW and
// ExpandEnvironmentStringsW, against one set of expectations. Listings are
// compared as sets: Wine sorts entries, a Linux file system hands them out in
// its own order.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <system_error>

#include "platform/platform.h"
#include "support/environment.h"
#include "support/temp_dir.h"

namespace frostcap::platform {
namespace {

namespace fs = std::filesystem;
using test::setEnvironment;

// The form the test creates and removes files through. On Windows the "\\?\"
// prefix keeps the name "..." from being read as a reference to a parent.
fs::path hostForm(const fs::path& path) {
#ifdef _WIN32
  return fs::path(L"\\\\?\\" + path.wstring());
#else
  return path;
#endif
}

struct Listing {
  std::uint32_t error = 0;
  std::multiset<std::string> names;  // a name listed twice shows up twice
};

Listing list(const std::u16string& pattern) {
  DirectorySearch search(pattern);
  Listing listing{search.error(), {}};
  if (search.started()) {
    do {
      listing.names.insert(wideToUtf8(search.name()));
    } while (search.next());
  }
  return listing;
}

class DirectorySearchTest : public testing::Test {
 protected:
  DirectorySearchTest() {
    const fs::path host = hostForm(disk_.host());
    fs::create_directory(host / "Sub");
    for (const fs::path& file :
         {fs::path(u"..."), fs::path(u".hidden"), fs::path(u"a.b.c"), fs::path(u"caf\u00E9.txt"),
          fs::path(u"lower.txt"), fs::path(u"noext"), fs::path(u"UPPER.TXT"),
          fs::path(u"with space.txt"), fs::path(u"Sub") / u"inner.txt"}) {
      std::ofstream(host / file).put('x');
    }
  }
  ~DirectorySearchTest() override {
    std::error_code ignored;
    fs::remove_all(hostForm(disk_.host()), ignored);
  }

  std::u16string pattern(const std::u16string& tail) const { return disk_.path() + tail; }

  test::TempDir disk_;
};

TEST_F(DirectorySearchTest, ListsWhatThePatternMatches) {
  const std::multiset<std::string> everything = {
      ".",         "..",    "...", ".hidden",   "a.b.c",         "caf\xC3\xA9.txt",
      "lower.txt", "noext", "Sub", "UPPER.TXT", "with space.txt"};
  const std::multiset<std::string> texts = {"caf\xC3\xA9.txt", "lower.txt", "UPPER.TXT",
                                            "with space.txt"};
  const struct {
    std::u16string tail;
    std::multiset<std::string> names;
  } cases[] = {
      {u"*", everything},
      {u"*.*", everything},  // names without a dot as well
      {u"*.txt", texts},
      {u"*.TXT", texts},
      {u"?????.txt", {"lower.txt", "UPPER.TXT"}},
      {u"caf?.txt", {"caf\xC3\xA9.txt"}},
      {u"a.*", {"a.b.c"}},
      {u".*", {".", "..", "...", ".hidden"}},
      {u"???", {"...", "Sub"}},
      {u"noext", {"noext"}},
      {u"NOEXT", {"noext"}},
      {u"noext.*", {"noext"}},
      {u"sub", {"Sub"}},  // the directory itself, not what it holds
      {u"Sub\\*", {".", "..", "inner.txt"}},
      {u"Sub/*", {".", "..", "inner.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(wideToUtf8(c.tail));
    const Listing listing = list(pattern(c.tail));
    EXPECT_EQ(listing.error, 0u);
    EXPECT_EQ(listing.names, c.names);
  }
  // A pattern without a separator searches the current directory.
  struct RestoreDirectory {
    fs::path previous = fs::current_path();
    ~RestoreDirectory() { fs::current_path(previous); }
  } restore;
  fs::current_path(disk_.host());
  EXPECT_EQ(list(u"?????.txt").names, (std::multiset<std::string>{"lower.txt", "UPPER.TXT"}));
}

// A file where the directory should be is no "nothing matched" and no "no
// such directory": the caller must see a failure rather than record the
// pattern.
TEST_F(DirectorySearchTest, FailedStartsReportTheSystemsCode) {
  constexpr std::uint32_t kAnotherError = ~0u;
  const struct {
    std::u16string tail;
    std::uint32_t error;
  } cases[] = {
      {u"nothing*", 2},
      {u"*.b", 2},
      {u"Sub\\", 2},  // nothing after the separator names no entry
      {u"missing\\*", 3},
      {u"missing\\deeper\\*", 3},
      {u"noext\\deeper\\*", 3},  // a file part-way along the path
      {u"noext\\*", kAnotherError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(wideToUtf8(c.tail));
    clearLastError();
    DirectorySearch search(pattern(c.tail));
    EXPECT_FALSE(search.started());
    if (c.error == kAnotherError) {
      EXPECT_TRUE(search.error() != 0 && search.error() != 2 && search.error() != 3);
    } else {
      EXPECT_EQ(search.error(), c.error);
    }
    EXPECT_EQ(lastError(), search.error());
    EXPECT_EQ(search.name(), u"");
    EXPECT_FALSE(search.next());
  }
  EXPECT_EQ(list(u"").error, 3u);
}

TEST(ExpandEnvironment, ReplacesDefinedNamesAndLeavesTheRest) {
  const std::u16string value = u"D:\\Daten \u00E4\u65E5\u672C";
  ASSERT_TRUE(setEnvironment(u"FROSTCAP_TEST_VAR", value));
  ASSERT_TRUE(setEnvironment(u"FROSTCAP_TEST_EMPTY", u""));
  const struct {
    std::u16string text;
    std::u16string expanded;
  } cases[] = {
      {u"", u""},
      {u"no reference", u"no reference"},
      {u"%FROSTCAP_TEST_VAR%\\x", value + u"\\x"},
      {u"%frostcap_test_var%", value},  // names are compared without case
      {u"%FROSTCAP_TEST_VAR%%FROSTCAP_TEST_VAR%", value + value},
      {u"[%FROSTCAP_TEST_EMPTY%]", u"[]"},
      {u"%FROSTCAP_UNDEFINED_VAR%", u"%FROSTCAP_UNDEFINED_VAR%"},
      {u"50%", u"50%"},
      {u"%%", u"%%"},
      {u"%FROSTCAP_TEST_VAR", u"%FROSTCAP_TEST_VAR"},
      // The closing sign of an unknown name, or of "%%", opens nothing.
      {u"%FROSTCAP_UNDEFINED_VAR%FROSTCAP_TEST_VAR%",
       u"%FROSTCAP_UNDEFINED_VAR%FROSTCAP_TEST_VAR%"},
      {u"%%FROSTCAP_TEST_VAR%", u"%%FROSTCAP_TEST_VAR%"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(wideToUtf8(c.text));
    EXPECT_EQ(expandEnvironment(c.text), c.expanded);
  }
#ifndef _WIN32
  // A name with '=' in it names no variable, though the environment's own
  // NAME=value form would let getenv match it.
  ASSERT_TRUE(setEnvironment(u"FROSTCAP_TEST_PAIR", u"x=y"));
  EXPECT_EQ(expandEnvironment(u"%FROSTCAP_TEST_PAIR=x%"), u"%FROSTCAP_TEST_PAIR=x%");
#endif
}

// The system's limit is 32,767 units and a null: a result that fits comes
// back whole, a longer one fails as too big for the buffer, never cut.
TEST(ExpandEnvironment, AResultOverTheSystemsLimitFails) {
  // (Exactly at the limit Wine fails where Windows fits.)
  for (const std::size_t length : {32766u, 40000u}) {
    SCOPED_TRACE(length);
    const std::u16string value(length - 1, u'v');
    ASSERT_TRUE(setEnvironment(u"FROSTCAP_TEST_LONG", value));
    const std::optional<std::u16string> result = expandEnvironment(u"%FROSTCAP_TEST_LONG%!");
    if (length < kEnvironmentLimit) {
      EXPECT_TRUE(result == value + u"!");  // too long to print
    } else {
      EXPECT_FALSE(result.has_value());
      EXPECT_EQ(lastError(), 122u);  // ERROR_INSUFFICIENT_BUFFER
    }
  }
}

}  // namespace
}  // namespace frostcap::platform
