#include "status/status.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace frostcap {
namespace {

Status code(std::uint32_t value) { return static_cast<Status>(value); }

// What the system says for a code, without its line break, or the fallback
// when it says nothing: system texts are taken from the running system, never
// copied into the test.
std::u16string systemOr(std::uint32_t value, const std::u16string& fallback) {
  const std::u16string text = platform::systemMessage(value);
  return text.empty() ? fallback : withoutTrailingLineBreak(text);
}

struct RenderCase {
  std::uint32_t code;
  std::u16string prefix;
  std::u16string description;
};

TEST(FormatStatus, RendersTheCodeAndItsDescription) {
  const RenderCase cases[] = {
      {0x80042301, u"0x80042301",
       u"A function call was made when the object was in an incorrect state for that function"},
      {0x0004230B, u"0x0004230b", u"The asynchronous operation has been cancelled."},
      {0x00042309, u"0x00042309", u"The asynchronous operation is pending."},
      // Inside the service's range but not one of its codes.
      {0x8004230A, u"0x8004230a", systemOr(0x8004230A, u"IDispatch error #8458")},
      {0x80040200, u"0x80040200", systemOr(0x80040200, u"Unknown error 0x80040200")},
      {0x80040201, u"0x80040201", systemOr(0x80040201, u"IDispatch error #1")},
      {0x8004FFFF, u"0x8004ffff", systemOr(0x8004FFFF, u"IDispatch error #65023")},
      {0x80050000, u"0x80050000", systemOr(0x80050000, u"Unknown error 0x80050000")},
      {0x2000ABCD, u"0x2000abcd", systemOr(0x2000ABCD, u"Unknown error 0x2000ABCD")},
      {0x00000001, u"0x00000001", systemOr(0x00000001, u"Unknown error 0x1")},
      {0x00000000, u"0x00000000", systemOr(0, u"Unknown error 0x0")},
      {0x80070005, u"0x80070005", systemOr(0x80070005, u"Unknown error 0x80070005")},
  };
  for (const RenderCase& c : cases) {
    EXPECT_EQ(describeStatus(code(c.code)), c.description) << std::hex << c.code;
    EXPECT_EQ(formatStatus(code(c.code)), c.prefix + u": " + c.description) << std::hex << c.code;
  }
}

TEST(FormatStatus, TheServiceTableWinsOverTheSystem) {
  EXPECT_EQ(describeStatus(code(0x00042321)), describeStatus(code(0x80042321)));
  EXPECT_EQ(describeStatus(code(0x80042321)),
            u"Some shadow copies were not successfully imported.");
  // Only the success form of the asynchronous codes is in the table.
  EXPECT_EQ(describeStatus(code(0x80042309)), systemOr(0x80042309, u"IDispatch error #8457"));
}

TEST(FormatStatus, CommonSystemCodesAreDescribedByTheSystem) {
  for (std::uint32_t value : {2u, 5u, 0x80004001u, 0x80070057u}) {
    const std::u16string raw = platform::systemMessage(value);
    ASSERT_FALSE(raw.empty()) << value;
    EXPECT_EQ(describeStatus(code(value)), withoutTrailingLineBreak(raw));
    EXPECT_NE(describeStatus(code(value)).back(), u'\n');
  }
}

TEST(WithoutTrailingLineBreak, RemovesOneLineBreakOnly) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"Denied.\r\n", u"Denied."},
      {u"Denied.\n", u"Denied."},
      {u"Denied.\r", u"Denied.\r"},
      {u"\n", u"\n"},  // too short to trim
      {u"two\r\nlines.\r\n", u"two\r\nlines."},
      {u"Denied. \r\n", u"Denied. "},
      {u"x\n\n", u"x\n"},
  };
  for (const auto& [raw, trimmed] : cases) {
    EXPECT_EQ(withoutTrailingLineBreak(raw), trimmed);
  }
}

}  // namespace
}  // namespace frostcap
