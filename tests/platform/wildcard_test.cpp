#include "platform/posix/wildcard.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace frostcap::platform {
namespace {

TEST(Wildcard, MatchesAsTheWindowsSearchDoes) {
  const struct {
    std::u16string pattern;
    std::u16string name;
    bool matches;
  } cases[] = {
      {u"abc", u"ABC", true},
      {u"abc", u"abcd", false},
      {u"a?c", u"abc", true},
      {u"a?c", u"ac", false},
      {u"?", u"", false},
      {u"*", u"", true},
      {u"", u"a", false},
      {u"*.txt", u"Notes.TXT", true},
      {u"*.txt", u"notes.txt.bak", false},
      {u"*ab", u"aab", true},  // the star must give back what it took
      {u"*a*b", u"xaaab", true},
      {u"a*b*c", u"aXbYc", true},
      {u"a*b*c", u"aXbYcZ", false},
      {u"a[b]", u"A[B]", true},  // no character classes
      // Once the name is used up, a rest of dots and stars matches nothing.
      {u"*.*", u"noext", true},
      {u"noext.*", u"noext", true},
      {u"noext.", u"noext", true},
      {u"a.*", u"ab", false},
      {u"a.b", u"a", false},
      // `?` is one UTF-16 unit: a character outside the BMP takes two.
      {u"??", u"\U0001F4BE", true},
      {u"?", u"\U0001F4BE", false},
      {u"caf?", u"caf\u00E9", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(matchesWildcard(c.pattern, c.name), c.matches)
        << wideToUtf8(c.pattern) << " / " << wideToUtf8(c.name);
  }
}

// A matcher that backtracks exponentially does not finish these.
TEST(Wildcard, ManyStarsDoNotBacktrackExponentially) {
  std::u16string stars;
  for (int i = 0; i < 30; ++i) stars += u"a*";
  const std::u16string name(20000, u'a');
  EXPECT_FALSE(matchesWildcard(stars + u"b", name));
  EXPECT_FALSE(matchesWildcard(std::u16string(30, u'*') + u"b", name));
  EXPECT_TRUE(matchesWildcard(stars, name));
}

}  // namespace
}  // namespace frostcap::platform
