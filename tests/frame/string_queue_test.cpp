#include "frame/string_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace frostcap {
namespace {

using Texts = std::vector<std::u16string>;

// Reads until the queue yields length 0; the empty end is returned too.
Texts drain(StringQueue& queue) {
  Texts read;
  for (;;) {
    std::size_t length = 99;
    const char16_t* text = queue.readNext(&length);
    EXPECT_NE(text, nullptr);
    read.emplace_back(text, length);
    if (length == 0) return read;
  }
}

void append(StringQueue& queue, const Texts& texts) {
  for (const std::u16string& text : texts) queue.append(text);
}

// Reading skips empty entries and never moves back: a drained queue hands
// out what is appended later, and only clear() rewinds.
TEST(StringQueue, HandsOutEachEntryOnceInOrderAndThenAnEmptyString) {
  StringQueue queue;
  EXPECT_EQ(drain(queue), Texts{u""});
  append(queue, {u"a", u"", u"bc"});
  EXPECT_EQ(drain(queue), (Texts{u"a", u"bc", u""}));
  EXPECT_EQ(drain(queue), Texts{u""});
  append(queue, {u"", u"c", u"", u"d"});
  EXPECT_EQ(drain(queue), (Texts{u"c", u"d", u""}));
  append(queue, {u"", u""});
  EXPECT_EQ(drain(queue), Texts{u""});
  append(queue, {u"x"});
  EXPECT_EQ(drain(queue), (Texts{u"x", u""}));
  // Cleared, it starts over; what it hands out is the entry itself, whole.
  queue.clear();
  append(queue, {std::u16string(u"a\0b", 3), u"first"});
  std::size_t length = 0;
  const char16_t* text = queue.readNext(&length);
  EXPECT_EQ(std::u16string(text, length), std::u16string(u"a\0b", 3));
  text = queue.readNext(nullptr);             // a null length is allowed
  EXPECT_EQ(std::u16string(text), u"first");  // read up to the terminator
  EXPECT_EQ(text, queue.entries()[1].c_str());
}

}  // namespace
}  // namespace frostcap
