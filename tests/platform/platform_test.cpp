// One source for both platforms: natively it checks the portable layer, under
// Wine the real MultiByteToWideChar, CLSIDFromString, StringFromGUID2 and
// PathIsNetworkPathW, against the same expectations.

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace frostcap::platform {
namespace {

struct TextCase {
  std::string utf8;
  std::u16string utf16;
};

TEST(Utf8, ValidTextRoundTrips) {
  const TextCase cases[] = {
      {"", u""},
      {"plain ASCII", u"plain ASCII"},
      {"caf\xC3\xA9 \xC3\x9F", u"caf\u00E9 \u00DF"},
      {"\xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC", u"\u20AC \u65E5\u672C"},
      {"\xF0\x9F\x92\xBE disk", u"\U0001F4BE disk"},  // a surrogate pair
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const TextCase& c : cases) {
    EXPECT_EQ(utf8ToWide(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(wideToUtf8(c.utf16), c.utf8) << c.utf8;
  }
}

TEST(Utf8, IllFormedInputBecomesReplacementCharacters) {
  EXPECT_EQ(wideToUtf8(std::u16string(1, char16_t{0xD800}) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(wideToUtf8(u"x" + std::u16string(1, char16_t{0xDC00})), "x\xEF\xBF\xBD");
  EXPECT_EQ(utf8ToWide("a\xFF"
                       "b"),
            u"a\uFFFDb");
}

TEST(Guid, ParsesTheRegistryFormInEitherCase) {
  const Guid expected = {
      0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00}};
  EXPECT_EQ(parseGuid(u"{11223344-5566-7788-99AA-BBCCDDEEFF00}"), expected);
  EXPECT_EQ(parseGuid(u"{11223344-5566-7788-99aa-bbccddeeff00}"), expected);
}

TEST(Guid, RejectsWhatIsNotTheRegistryForm) {
  const std::u16string rejected[] = {
      u"",
      u"11223344-5566-7788-99AA-BBCCDDEEFF00",    // no braces
      u"{11223344-5566-7788-99AA-BBCCDDEEFF0}",   // one digit short
      u"{11223344-5566-7788-99AA-BBCCDDEEFF0G}",  // not hexadecimal
      u"{11223344+5566-7788-99AA-BBCCDDEEFF00}",  // wrong separator
      u"{11223344-5566-7788-99AA-BBCCDDEEFF00",   // no closing brace
  };
  for (const std::u16string& text : rejected) {
    EXPECT_FALSE(parseGuid(text).has_value()) << wideToUtf8(text);
  }
}

TEST(Guid, FormatsUpperCaseWithBraces) {
  const Guid guid = {0xb5946137, 0x7b9f, 0x4925, {0xaf, 0x80, 0x51, 0xab, 0xd6, 0x0b, 0x20, 0xd5}};
  EXPECT_EQ(formatGuid(guid), u"{B5946137-7B9F-4925-AF80-51ABD60B20D5}");
  EXPECT_EQ(formatGuid(Guid{}), u"{00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ(parseGuid(formatGuid(guid)), guid);
}

TEST(NetworkPath, OnlyUncPathsAreNetworkPaths) {
  EXPECT_TRUE(isNetworkPath(u"\\\\server\\share"));
  EXPECT_FALSE(isNetworkPath(u"C:\\data"));
  EXPECT_FALSE(isNetworkPath(u"\\single"));
  EXPECT_FALSE(isNetworkPath(u""));
  EXPECT_FALSE(isNetworkPath(nullptr));
}

TEST(SystemMessage, CommonCodesHaveTextsEndingInALineBreak) {
  for (std::uint32_t code : {2u, 3u, 5u, 0x80070005u}) {
    const std::u16string text = systemMessage(code);
    ASSERT_GE(text.size(), 2u) << code;
    EXPECT_EQ(text.back(), u'\n') << code;
  }
  EXPECT_EQ(systemMessage(0x80070005u), systemMessage(5u));
}

}  // namespace
}  // namespace frostcap::platform
