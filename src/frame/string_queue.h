#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace frostcap {

// An ordered list of strings with a read cursor. Entries are only appended;
// reading skips empty ones and never moves back, so a drained queue hands out
// what is appended to it later. Only clear() rewinds.
class StringQueue {
 public:
  void append(std::u16string text) { entries_.push_back(std::move(text)); }
  void clear() noexcept {
    entries_.clear();
    cursor_ = 0;
  }
  // Makes room for `more` entries at once when there is not enough. The
  // growth is geometric, so that many small reservations stay linear.
  void reserveMore(std::size_t more) {
    const std::size_t needed = entries_.size() + more;
    if (entries_.capacity() < needed) entries_.reserve(std::max(needed, 2 * entries_.capacity()));
  }

  // The next non-empty entry and its length in UTF-16 units; at the end a
  // static empty string and length 0, never a null pointer. `length` may be
  // null. The pointer stays valid until the next append or clear.
  const char16_t* readNext(std::size_t* length) noexcept;

  const std::vector<std::u16string>& entries() const noexcept { return entries_; }
  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  std::size_t capacity() const noexcept { return entries_.capacity(); }

 private:
  std::vector<std::u16string> entries_;
  std::uint64_t cursor_ = 0;
};

}  // namespace frostcap
