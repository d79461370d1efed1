// One source for both platforms: natively it checks the portable layer, under
// Wine the real MultiByteToWideChar, CLSIDFromString, StringFromGUID2 and
// FormatMessageW, against the same expectations. PathIsNetworkPathW is checked
// through the exported function (tests/exports).

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace frostcap::platform {
namespace {

struct TextCase {
  std::string utf8;
  std::u16string utf16;
};

TEST(Utf8, ValidTextRoundTripsAndIllFormedTextIsReplaced) {
  const TextCase cases[] = {
      {"", u""},
      {"plain ASCII", u"plain ASCII"},
      {"caf\xC3\xA9 \xC3\x9F \xC2\xA9", u"caf\u00E9 \u00DF \u00A9"},
      {"\xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC", u"\u20AC \u65E5\u672C"},
      {"\xF0\x9F\x92\xBE disk", u"\U0001F4BE disk"},  // a surrogate pair
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},            // the last one
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const TextCase& c : cases) {
    EXPECT_EQ(utf8ToWide(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(wideToUtf8(c.utf16), c.utf8) << c.utf8;
  }
  // Ill-formed input becomes replacement characters.
  EXPECT_EQ(wideToUtf8(std::u16string(1, char16_t{0xD800}) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(wideToUtf8(u"x" + std::u16string(1, char16_t{0xDC00})), "x\xEF\xBF\xBD");
  EXPECT_EQ(wideToUtf8(std::u16string(1, char16_t{0xDFFF})), "\xEF\xBF\xBD");
  EXPECT_EQ(utf8ToWide(std::string("a\xFF") + "b"), u"a\uFFFDb");
}

// The registry form with braces, upper case when formatted and either case
// when parsed; nothing else.
TEST(Guid, FormatsAndParsesTheRegistryFormOnly) {
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
  const Guid guid = {0xb5946137, 0x7b9f, 0x4925, {0xaf, 0x80, 0x51, 0xab, 0xd6, 0x0b, 0x20, 0xd5}};
  EXPECT_EQ(formatGuid(guid), u"{B5946137-7B9F-4925-AF80-51ABD60B20D5}");
  EXPECT_EQ(formatGuid(Guid{}), u"{00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ(parseGuid(u"{B5946137-7B9F-4925-AF80-51ABD60B20D5}"), guid);
  EXPECT_EQ(parseGuid(u"{b5946137-7b9f-4925-af80-51abd60b20d5}"), guid);
}

// The system's texts for common codes, as FormatMessageW gives them: with
// their line break, and the same for a Win32 error wrapped as an HRESULT.
TEST(SystemMessage, CommonCodesHaveTextsEndingInALineBreak) {
  for (std::uint32_t code : {2u, 3u, 5u, 0x80070005u}) {
    const std::u16string text = systemMessage(code);
    ASSERT_GE(text.size(), 3u) << code;
    EXPECT_EQ(text.back(), u'\n') << code;
    EXPECT_EQ(text.find(u'\0'), std::u16string::npos) << code;
  }
  EXPECT_EQ(systemMessage(0x80070005u), systemMessage(5u));
  EXPECT_TRUE(systemErrorText(5).ends_with(u"\r\n"));
  EXPECT_EQ(systemErrorText(5), systemMessage(5));
  EXPECT_EQ(systemErrorText(999999), u"");
}

}  // namespace
}  // namespace frostcap::platform
