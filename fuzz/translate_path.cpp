// translatePath against a reference written from its description: the pairs
// are tried in order on the result so far, a pair matching when the path
// begins with its first half with ASCII letters folded, and only as many
// pairs take part as the shorter list holds.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "inventory/path_translation.h"

namespace {

// Bytes become units of a small alphabet, so that prefixes meet often: cases
// of ASCII letters that fold and of a letter outside ASCII that does not.
constexpr char16_t kAlphabet[] = {u'C', u'c',      u':',      u'\\', u'D', u'd',
                                  u'x', u'\u00e9', u'\u00c9', u'/',  u'?', u'Z'};

char16_t foldAscii(char16_t unit) {
  return u'A' <= unit && unit <= u'Z' ? static_cast<char16_t>(unit | 0x20) : unit;
}

std::u16string reference(std::u16string path, const std::vector<std::u16string>& from,
                         const std::vector<std::u16string>& to) {
  for (std::size_t i = 0; i < from.size() && i < to.size(); ++i) {
    const std::u16string& prefix = from[i];
    const bool matches =
        path.size() >= prefix.size() &&
        std::equal(prefix.begin(), prefix.end(), path.begin(),
                   [](char16_t a, char16_t b) { return foldAscii(a) == foldAscii(b); });
    if (matches) path = to[i] + path.substr(prefix.size());
  }
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Fields separated by zero bytes: the path, then the first list and the
  // second list alternately.
  std::vector<std::u16string> fields(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      fields.emplace_back();
    } else {
      fields.back() += kAlphabet[data[i] % std::size(kAlphabet)];
    }
  }
  std::vector<std::u16string> from;
  std::vector<std::u16string> to;
  for (std::size_t i = 1; i < fields.size(); ++i) (i % 2 ? from : to).push_back(fields[i]);

  const std::u16string translated = frostcap::translatePath(fields[0], from, to);
  frostcap::fuzz::require(translated == reference(fields[0], from, to),
                          "differs from the reference");
  frostcap::fuzz::require(frostcap::translatePath(fields[0], from, {}) == fields[0],
                          "changed by an empty list of pairs");
  return 0;
}
