// formatStatus and describeStatus for any 32-bit code: "0x", the code as
// eight lower-case hex digits, ": ", then describeStatus's non-empty text,
// exactly 12 units longer than the description.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "status/status.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using frostcap::fuzz::require;
  std::uint32_t code = 0;
  std::memcpy(&code, data, size < sizeof code ? size : sizeof code);
  const auto status = static_cast<frostcap::Status>(code);

  const std::u16string description = frostcap::describeStatus(status);
  const std::u16string formatted = frostcap::formatStatus(status);
  require(!description.empty(), "an empty description");
  require(formatted.size() == description.size() + 12, "not 12 units longer than its description");
  require(formatted.compare(0, 2, u"0x") == 0, "no 0x prefix");
  std::uint32_t shown = 0;
  for (std::size_t i = 2; i < 10; ++i) {
    const char16_t digit = formatted[i];
    require((digit >= u'0' && digit <= u'9') || (digit >= u'a' && digit <= u'f'),
            "not eight lower-case hex digits");
    shown =
        shown << 4 | static_cast<std::uint32_t>(digit <= u'9' ? digit - u'0' : digit - u'a' + 10);
  }
  require(shown == code, "the digits show another code");
  require(formatted.compare(10, 2, u": ") == 0, "no \": \" after the code");
  require(formatted.compare(12, std::u16string::npos, description) == 0,
          "the tail is not describeStatus's text");
  return 0;
}
