// escapeCatalogueText on any UTF-16 text: the result, put between double
// quotes, must parse as a JSON string that decodes to the input (unpaired
// surrogates read as U+FFFD), must itself be well-formed UTF-16, and may
// escape only in the six-character lower-case form.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

#include "catalogue/catalogue.h"
#include "fuzz_check.h"
#include "platform/platform.h"

namespace {

using frostcap::fuzz::require;

bool isHigh(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLow(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// UTF-8 written out here rather than taken from the library, so that the two
// can disagree.
std::string referenceUtf8(std::u16string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (isHigh(code) && i + 1 < text.size() && isLow(text[i + 1])) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (isHigh(code) || isLow(code)) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      bytes += static_cast<char>(code);
    } else if (code < 0x800) {
      bytes += static_cast<char>(0xC0 | code >> 6);
      bytes += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      bytes += static_cast<char>(0xE0 | code >> 12);
      bytes += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      bytes += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      bytes += static_cast<char>(0xF0 | code >> 18);
      bytes += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      bytes += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      bytes += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return bytes;
}

bool isLowerHex(char16_t unit) {
  return (unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'f');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string input = frostcap::fuzz::unitsOf(data, size);
  const std::u16string escaped = frostcap::escapeCatalogueText(input);

  for (std::size_t i = 0; i < escaped.size(); ++i) {
    const char16_t unit = escaped[i];
    require(unit >= 0x20 && unit != u'"', "a control character or quote left unescaped");
    if (isHigh(unit)) {
      require(i + 1 < escaped.size() && isLow(escaped[i + 1]), "an unpaired surrogate written");
      ++i;
    } else {
      require(!isLow(unit), "an unpaired surrogate written");
    }
    if (unit == u'\\') {
      const bool sixUnits = escaped.compare(i + 1, 3, u"u00") == 0 && i + 5 < escaped.size() &&
                            isLowerHex(escaped[i + 4]) && isLowerHex(escaped[i + 5]);
      require(sixUnits, "an escape other than \\u00 and two lower-case hex digits");
      const int byte =
          std::stoi(std::string(escaped.begin() + i + 4, escaped.begin() + i + 6), nullptr, 16);
      require(byte < 0x20 || byte == 0x22 || byte == 0x5C, "an escape of a byte that needs none");
      i += 5;
    }
  }

  const nlohmann::json parsed = nlohmann::json::parse(
      "\"" + frostcap::platform::wideToUtf8(escaped) + "\"", nullptr, /*allow_exceptions=*/false);
  require(parsed.is_string(), "not a JSON string");
  require(parsed.get<std::string>() == referenceUtf8(input), "decodes to other text");
  return 0;
}
