#include "status/status_table.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace frostcap {
namespace {

struct ExactText {
  std::uint32_t code;
  std::size_t length;
  std::u16string_view text;
};

TEST(ServiceStatusText, FixedRowsReadExactly) {
  const ExactText rows[] = {
      {0x80042301, 84,
       u"A function call was made when the object was in an incorrect state for that function"},
      {0x80042310, 134,
       u"The given XML document is invalid. It is either incorrectly-formed XML or it does not "
       u"match the schema. This error code is deprecated."},
      {0x80042311, 103,
       u"The given XML document is invalid. It is either incorrectly-formed XML or it does not "
       u"match the schema."},
      {0x80042315, 57, u"VSS encountered problems while sending events to writers."},
      {0x80042321, 50, u"Some shadow copies were not successfully imported."},
      {0x80042336, 101,
       u"The writer experienced a partial failure. Check the component level error state for more "
       u"information."},
      {0x00042309, 38, u"The asynchronous operation is pending."},
      {0x0004230A, 41, u"The asynchronous operation has completed."},
      {0x0004230B, 46, u"The asynchronous operation has been cancelled."},
      {0x00042321, 50, u"Some shadow copies were not successfully imported."},
  };
  for (const ExactText& row : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << row.code);
    const char16_t* text = lookupServiceStatusText(row.code);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::u16string_view(text), row.text);
    EXPECT_EQ(std::u16string_view(text).size(), row.length);
  }
}

TEST(ServiceStatusText, EveryListedCodeHasASingleLineText) {
  const std::uint32_t codes[] = {
      0x80042301, 0x80042302, 0x80042303, 0x80042304, 0x80042306, 0x80042307, 0x80042308,
      0x8004230C, 0x8004230D, 0x8004230E, 0x8004230F, 0x80042310, 0x80042311, 0x80042312,
      0x80042313, 0x80042314, 0x80042315, 0x80042316, 0x80042317, 0x80042318, 0x80042319,
      0x8004231A, 0x8004231B, 0x8004231D, 0x8004231E, 0x8004231F, 0x80042320, 0x80042321,
      0x80042322, 0x80042323, 0x80042324, 0x80042325, 0x80042326, 0x80042327, 0x80042328,
      0x80042329, 0x8004232A, 0x8004232B, 0x8004232C, 0x8004232D, 0x8004232E, 0x8004232F,
      0x80042336, 0x800423F0, 0x800423F1, 0x800423F2, 0x800423F3, 0x800423F4, 0x800423F5,
      0x800423F6, 0x800423F7, 0x800423F8, 0x800423F9, 0x800423FA, 0x800423FB, 0x800423FC,
      0x800423FD, 0x800423FE, 0x800423FF, 0x80042400, 0x80042401, 0x80042402, 0x80042403,
      0x80042404, 0x80042405, 0x80042406, 0x80042407, 0x80042408, 0x80042409, 0x8004240A,
      0x80042411, 0x80042412, 0x80042413, 0x80042414, 0x80042415, 0x80042416, 0x00042309,
      0x0004230A, 0x0004230B, 0x00042321,
  };
  static_assert(std::size(codes) == 80);
  for (std::uint32_t code : codes) {
    SCOPED_TRACE(testing::Message() << std::hex << code);
    const char16_t* text = lookupServiceStatusText(code);
    ASSERT_NE(text, nullptr);
    const std::u16string_view view(text);
    EXPECT_GE(view.size(), 26u);
    EXPECT_LE(view.size(), 812u);
    EXPECT_EQ(view.find_first_of(u"\r\n"), std::u16string_view::npos);
  }
}

// Gaps between listed codes, success forms of failure codes and the reverse:
// a lookup that masks bits or is off by one finds a neighbour here.
TEST(ServiceStatusText, UnlistedCodesHaveNoEntry) {
  const std::uint32_t codes[] = {
      0x80042305, 0x80042309, 0x8004230A, 0x8004230B, 0x8004231C, 0x80042330, 0x80042331,
      0x80042332, 0x80042333, 0x80042334, 0x80042335, 0x8004240B, 0x8004240C, 0x8004240D,
      0x8004240E, 0x8004240F, 0x80042410, 0x00042301, 0x00000000, 0x80040200,
  };
  for (std::uint32_t code : codes) {
    EXPECT_EQ(lookupServiceStatusText(code), nullptr) << std::hex << code;
  }
}

}  // namespace
}  // namespace frostcap
