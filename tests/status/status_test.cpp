// Status codes as text: the service's own table, the system's texts for the
// rest, and the fallback when the system has none.

#include "status/status.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>

#include "platform/platform.h"
#include "status/status_table.h"

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

TEST(FormatStatus, RendersTheCodeAndItsDescription) {
  const struct {
    std::uint32_t code;
    std::u16string prefix;
    std::u16string description;
  } cases[] = {
      // The service's own codes, from its table, whatever the system says.
      {0x80042301, u"0x80042301",
       u"A function call was made when the object was in an incorrect state for that function"},
      {0x80042310, u"0x80042310",
       u"The given XML document is invalid. It is either incorrectly-formed XML or it does not "
       u"match the schema. This error code is deprecated."},
      {0x80042311, u"0x80042311",
       u"The given XML document is invalid. It is either incorrectly-formed XML or it does not "
       u"match the schema."},
      {0x80042315, u"0x80042315", u"VSS encountered problems while sending events to writers."},
      {0x80042321, u"0x80042321", u"Some shadow copies were not successfully imported."},
      {0x80042336, u"0x80042336",
       u"The writer experienced a partial failure. Check the component level error state for "
       u"more information."},
      {0x00042309, u"0x00042309", u"The asynchronous operation is pending."},
      {0x0004230A, u"0x0004230a", u"The asynchronous operation has completed."},
      {0x0004230B, u"0x0004230b", u"The asynchronous operation has been cancelled."},
      {0x00042321, u"0x00042321", u"Some shadow copies were not successfully imported."},
      // Inside the service's range but not one of its codes; only the success
      // form of the asynchronous codes is in the table.
      {0x80042309, u"0x80042309", systemOr(0x80042309, u"IDispatch error #8457")},
      {0x8004230A, u"0x8004230a", systemOr(0x8004230A, u"IDispatch error #8458")},
      {0x80040200, u"0x80040200", systemOr(0x80040200, u"Unknown error 0x80040200")},
      {0x80040201, u"0x80040201", systemOr(0x80040201, u"IDispatch error #1")},
      {0x8004FFFF, u"0x8004ffff", systemOr(0x8004FFFF, u"IDispatch error #65023")},
      {0x80050000, u"0x80050000", systemOr(0x80050000, u"Unknown error 0x80050000")},
      {0x2000ABCD, u"0x2000abcd", systemOr(0x2000ABCD, u"Unknown error 0x2000ABCD")},
      {0x00000001, u"0x00000001", systemOr(0x00000001, u"Unknown error 0x1")},
      {0x00000000, u"0x00000000", systemOr(0, u"Unknown error 0x0")},
      // Common system codes, which the system must describe.
      {0x80004001, u"0x80004001", systemOr(0x80004001, u"")},
      {0x80070005, u"0x80070005", systemOr(0x80070005, u"")},
      {0x80070057, u"0x80070057", systemOr(0x80070057, u"")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.code);
    ASSERT_FALSE(c.description.empty());
    EXPECT_EQ(describeStatus(code(c.code)), c.description);
    EXPECT_EQ(formatStatus(code(c.code)), c.prefix + u": " + c.description);
  }
}

// Exact codes only: a lookup that masks bits or is off by one finds a
// neighbour in a gap between listed codes, or the failure form of a success
// code, or the reverse.
TEST(ServiceStatusText, ListsExactlyTheServicesCodesInOneLineEach) {
  const std::pair<std::uint32_t, std::uint32_t> listed[] = {
      {0x80042301, 0x80042304}, {0x80042306, 0x80042308}, {0x8004230C, 0x8004231B},
      {0x8004231D, 0x8004232F}, {0x80042336, 0x80042336}, {0x800423F0, 0x8004240A},
      {0x80042411, 0x80042416}, {0x00042309, 0x0004230B}, {0x00042321, 0x00042321},
  };
  int found = 0;
  for (const std::uint32_t base : {0x80042300u, 0x00042300u}) {
    for (std::uint32_t code = base; code < base + 0x120; ++code) {
      const bool expected = std::any_of(std::begin(listed), std::end(listed), [&](const auto& r) {
        return code >= r.first && code <= r.second;
      });
      const char16_t* text = lookupServiceStatusText(code);
      ASSERT_EQ(text != nullptr, expected) << std::hex << code;
      if (text == nullptr) continue;
      ++found;
      EXPECT_EQ(std::u16string_view(text).find_first_of(u"\r\n"), std::u16string_view::npos);
    }
  }
  EXPECT_EQ(found, 80);
  for (const std::uint32_t code : {0x00000000u, 0x80040200u}) {
    EXPECT_EQ(lookupServiceStatusText(code), nullptr) << std::hex << code;
  }
}

TEST(WithoutTrailingLineBreak, RemovesOneLineBreakOnly) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"Denied.\r\n", u"Denied."},
      {u"Denied.\n", u"Denied."},
      {u"Denied.\r", u"Denied.\r"},
      {u"\n", u"\n"},  // too short to trim
      {u"two\r\nlines.\r\n", u"two\r\nlines."},
      {u"x\n\n", u"x\n"},
  };
  for (const auto& [raw, trimmed] : cases) {
    EXPECT_EQ(withoutTrailingLineBreak(raw), trimmed);
  }
}

}  // namespace
}  // namespace frostcap
