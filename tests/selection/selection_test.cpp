// Storing the host's selections and the rules that compare them with what
// writers report.

#include "selection/selection.h"

#include <gtest/gtest.h>

#include "frostcap.h"
#include "support/host_strings.h"
#include "support/scenario.h"

namespace frostcap {
namespace {

using test::host;

TEST(Selection, WritersAreKeyedByTheirExactIdAndKeepWhatWasSelected) {
  frostcap_snapshot* handle = frostcap_snapshot_new();
  const std::u16string upper = u"{ABCDEF00-0000-0000-0000-000000000000}";
  const std::u16string lower = u"{abcdef00-0000-0000-0000-000000000000}";
  frostcap_snapshot_addWriterFilegroupComponentFallback(handle, host(upper), host(u"P"), host(u"N"),
                                                        nullptr);
  frostcap_snapshot_addWriter(handle, host(upper));  // keeps the component
  frostcap_snapshot_addWriter(handle, host(lower));
  frostcap_snapshot_addWriterFilegroupComponentFallback(handle, host(upper), host(u"P"), host(u"N"),
                                                        nullptr);  // stored twice
  // Without a name: stored, with one warning.
  frostcap_snapshot_addWriterDatabaseComponentFallback(handle, host(u"w"), host(u"Path"), host(u""),
                                                       host(u"Fallback"));
  const auto& writers = handle->state.selectedWriters;
  ASSERT_EQ(writers.size(), 3u);
  EXPECT_EQ(test::selectedComponents(writers.at(upper)),
            (std::vector<ComponentRecord>{{2, u"P", u"N", u""}, {2, u"P", u"N", u""}}));
  EXPECT_TRUE(writers.at(lower).selections.empty());
  EXPECT_EQ(test::selectedComponents(writers.at(u"w")),
            (std::vector<ComponentRecord>{{1, u"Path", u"", u"Fallback"}}));
  EXPECT_EQ(test::drain(handle, frostcap_snapshot_getNextMessage),
            std::vector<std::u16string>{u"{WARNING_PREFIX}{ERR_MISSING_NAME}"});
  frostcap_snapshot_free(handle, 0);
}

TEST(FallbackRecord, MovesTheNameUnderTheFallbackPath) {
  EXPECT_EQ(fallbackRecord({1, u"A", u"N", u"B"}), (ComponentRecord{1, u"B", u"N", u""}));
  EXPECT_EQ(fallbackRecord({1, u"A", u"N", u""}), ComponentRecord{});
}

// The search for a component's selection, and the index the inventory builds
// for the same question.
TEST(FindSelection, CoversTheComponentItselfAndWhatLiesBelowIt) {
  const std::vector<ComponentRecord> selections = {{2, u"A", u"B", u""}, {1, u"", u"Db", u""}};
  const SelectionIndex index(selections);
  struct Case {
    ComponentRecord component;
    const ComponentRecord* expected;
  };
  const Case cases[] = {
      {{2, u"a", u"b", u""}, &selections[0]},        // itself, any case
      {{1, u"A", u"B", u""}, nullptr},               // itself, but another type
      {{2, u"A\\", u"B", u""}, nullptr},             // another path
      {{2, u"A", u"C", u""}, nullptr},               // another name
      {{2, u"A\\B", u"X", u""}, &selections[0]},     // directly below
      {{2, u"A\\B\\C", u"X", u""}, &selections[0]},  // further below
      {{2, u"A\\BC", u"X", u""}, &selections[0]},    // no separator needed after the name
      {{2, u"a\\b\\c", u"X", u""}, nullptr},         // below is compared with case
      {{1, u"A\\B", u"X", u""}, nullptr},            // below, but another type
      {{1, u"\\Db", u"X", u""}, &selections[1]},     // an empty path: a leading backslash
      {{1, u"Db", u"X", u""}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(test::utf8(c.component.logicalPath) + " " + test::utf8(c.component.componentName));
    EXPECT_EQ(findSelection(selections, c.component), c.expected);
    EXPECT_EQ(index.covers(c.component), c.expected != nullptr);
  }
}

}  // namespace
}  // namespace frostcap
