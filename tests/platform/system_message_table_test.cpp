#include "platform/posix/system_message_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

namespace frostcap::platform {
namespace {

TEST(SystemMessageTable, HoldsTheSystemsTextsForExactCodesAndWrappedWin32Errors) {
  // Each text ends with the system's line break and has no other.
  for (std::uint32_t code : {0u, 2u, 5u, 87u, 193u, 1726u, 0x80004005u, 0x80040154u, 0x8001011Fu}) {
    SCOPED_TRACE(testing::Message() << std::hex << code);
    const char16_t* text = lookupSystemMessage(code);
    ASSERT_NE(text, nullptr);
    const std::u16string_view view(text);
    ASSERT_GE(view.size(), 3u);
    EXPECT_TRUE(view.ends_with(u"\r\n"));
    EXPECT_EQ(view.find_first_of(u"\r\n"), view.size() - 2);
  }
  // A Win32 error wrapped as an HRESULT reads as the bare error.
  for (std::uint32_t code : {2u, 5u, 87u, 122u, 1223u, 1722u, 1726u}) {
    ASSERT_NE(lookupSystemMessage(code), nullptr) << code;
    EXPECT_EQ(lookupSystemMessage(0x80070000u | code), lookupSystemMessage(code)) << code;
  }
  // The last two carry a known Win32 code in their low bits, but not under the
  // Win32 failure facility, so no masking may reach it.
  for (std::uint32_t code : {0x80042301u, 0x2000ABCDu, 0x8004230Au, 0x80040005u, 0x00070005u}) {
    EXPECT_EQ(lookupSystemMessage(code), nullptr) << std::hex << code;
  }
}

}  // namespace
}  // namespace frostcap::platform
