#include "inventory/path_translation.h"

#include <gtest/gtest.h>

#include "support/host_strings.h"

namespace frostcap {
namespace {

struct TranslationCase {
  const char* name;
  std::u16string path;
  std::vector<std::u16string> from;
  std::vector<std::u16string> to;
  std::u16string expected;
};

TEST(TranslatePath, RewritesLeadingPrefixesPairByPair) {
  const std::u16string m = u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\";
  const std::u16string n = u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy2\\";
  const TranslationCase cases[] = {
      {"NoPairs", u"C:\\Data\\", {u"C:\\"}, {}, u"C:\\Data\\"},
      {"DriveLetterInEitherCase", u"c:\\Data\\", {u"C:\\"}, {m}, m + u"Data\\"},
      {"DriveZInEitherCase", u"Z:\\tmp\\", {u"z:\\"}, {m}, m + u"tmp\\"},
      {"DriveAInEitherCase", u"a:\\x", {u"A:\\"}, {m}, m + u"x"},
      {"NoSeparatorCheck", u"C:\\Database\\", {u"C:\\Data"}, {m}, m + u"base\\"},
      {"VolumeWithoutBackslashDoublesIt", u"C:\\Data\\", {u"C:"}, {m}, m + u"\\Data\\"},
      {"ShorterThanThePrefix", u"C:", {u"C:\\"}, {m}, u"C:"},
      {"FirstPairWinsWhenItIsAPrefixOfTheSecond",
       u"C:\\Mount\\x\\",
       {u"C:\\", u"C:\\Mount\\"},
       {m, n},
       m + u"Mount\\x\\"},
      {"LaterPairWhenListedFirst",
       u"C:\\Mount\\x\\",
       {u"C:\\Mount\\", u"C:\\"},
       {n, m},
       n + u"x\\"},
      // A later pair sees the result of the earlier ones.
      {"PairsChain", u"A\\x", {u"A\\", u"B\\"}, {u"B\\", u"C\\"}, u"C\\x"},
      {"EmptyPrefixMatchesEverything", u"D:\\x", {u""}, {u"M\\"}, u"M\\D:\\x"},
      {"UnequalListsUseTheShorter", u"D:\\x", {u"C:\\", u"D:\\"}, {m}, u"D:\\x"},
      {"OnlyAsciiLettersFold", u"\u00C9:\\x", {u"\u00E9:\\"}, {m}, u"\u00C9:\\x"},
      {"ReverseLeavesLivePaths", u"C:\\Data\\", {m}, {u"C:\\"}, u"C:\\Data\\"},
      {"ReverseRestoresLivePaths", m + u"Data\\*.log", {m}, {u"C:\\"}, u"C:\\Data\\*.log"},
  };
  for (const TranslationCase& c : cases) {
    EXPECT_EQ(translatePath(c.path, c.from, c.to), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace frostcap
