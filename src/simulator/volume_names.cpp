#include "simulator/volume_names.h"

#include <algorithm>

namespace frostcap::simulator {
namespace {

bool isSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

char16_t foldUnit(char16_t unit) {
  if (isSeparator(unit)) return u'\\';
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit;
}

std::u16string_view withoutTrailingSeparators(std::u16string_view text) {
  while (!text.empty() && isSeparator(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::u16string volumeKey(std::u16string_view name) {
  std::u16string key(withoutTrailingSeparators(name));
  for (char16_t& unit : key) unit = foldUnit(unit);
  return key;
}

std::optional<std::u16string_view> pathBelow(std::u16string_view path, std::u16string_view name) {
  const std::u16string_view stem = withoutTrailingSeparators(name);
  if (path.size() < stem.size()) return std::nullopt;
  for (std::size_t i = 0; i < stem.size(); ++i) {
    if (foldUnit(path[i]) != foldUnit(stem[i])) return std::nullopt;
  }
  std::u16string_view rest = path.substr(stem.size());
  // C:\Data is below C:\, but D:\Database is not below D:\Data.
  if (!rest.empty() && !isSeparator(rest.front())) return std::nullopt;
  while (!rest.empty() && isSeparator(rest.front())) rest.remove_prefix(1);
  return rest;
}

bool hasVolumeNameForm(std::u16string_view name, std::u16string_view scenarioName) {
  if (!name.empty() && isSeparator(name.back())) return true;
  return name.size() == scenarioName.size() &&
         std::equal(name.begin(), name.end(), scenarioName.begin(),
                    [](char16_t a, char16_t b) { return foldUnit(a) == foldUnit(b); });
}

std::u16string madeUpVolumeGuidPath(std::uint32_t n) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  std::u16string number(8, u'0');
  for (auto digit = number.rbegin(); digit != number.rend(); ++digit, n >>= 4)
    *digit = kDigits[n & 0xF];
  return u"\\\\?\\Volume{" + number + u"-5353-4d4f-8000-000000000000}\\";
}

}  // namespace frostcap::simulator
