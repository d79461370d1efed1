#include "frame/string_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace frostcap {
namespace {

// Reads until the queue yields length 0; the empty end is returned too.
std::vector<std::u16string> drain(StringQueue& queue) {
  std::vector<std::u16string> read;
  for (;;) {
    std::size_t length = 99;
    const char16_t* text = queue.readNext(&length);
    EXPECT_NE(text, nullptr);
    read.emplace_back(text, length);
    if (length == 0) return read;
  }
}

TEST(StringQueue, ReadingSkipsEmptyEntriesAndEndsWithAnEmptyString) {
  StringQueue queue;
  queue.append(u"a");
  queue.append(u"");
  queue.append(u"bc");
  EXPECT_EQ(drain(queue), (std::vector<std::u16string>{u"a", u"bc", u""}));
  EXPECT_EQ(drain(queue), (std::vector<std::u16string>{u""}));
}

TEST(StringQueue, EntriesAppendedAfterExhaustionAreReadInOrder) {
  StringQueue queue;
  queue.append(u"a");
  drain(queue);
  queue.append(u"c");
  queue.append(u"d");
  EXPECT_EQ(drain(queue), (std::vector<std::u16string>{u"c", u"d", u""}));
}

TEST(StringQueue, OnlyEmptyEntriesLeaveTheCursorAtTheEnd) {
  StringQueue queue;
  queue.append(u"");
  queue.append(u"");
  EXPECT_EQ(drain(queue), (std::vector<std::u16string>{u""}));
  queue.append(u"x");
  EXPECT_EQ(drain(queue), (std::vector<std::u16string>{u"x", u""}));
}

TEST(StringQueue, ClearDropsEntriesAndRewinds) {
  StringQueue queue;
  queue.append(u"old");
  drain(queue);
  queue.clear();
  queue.append(u"new");
  EXPECT_EQ(drain(queue), (std::vector<std::u16string>{u"new", u""}));
}

TEST(StringQueue, ReturnedTextIsTheEntryItselfAndTerminated) {
  StringQueue queue;
  queue.append(u"first");
  const char16_t* text = queue.readNext(nullptr);  // a null length is allowed
  EXPECT_EQ(std::u16string(text), u"first");       // read up to the terminator
  EXPECT_EQ(text, queue.entries()[0].c_str());
}

TEST(StringQueue, EmbeddedNulIsPartOfTheLength) {
  StringQueue queue;
  queue.append(std::u16string(u"a\0b", 3));
  std::size_t length = 0;
  const char16_t* text = queue.readNext(&length);
  EXPECT_EQ(std::u16string(text, length), std::u16string(u"a\0b", 3));
}

}  // namespace
}  // namespace frostcap
