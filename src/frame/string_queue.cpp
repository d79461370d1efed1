#include "frame/string_queue.h"

namespace frostcap {

const char16_t* StringQueue::readNext(std::size_t* length) noexcept {
  static constexpr char16_t kEmpty[] = u"";
  while (cursor_ < entries_.size()) {
    const std::u16string& entry = entries_[cursor_++];
    if (!entry.empty()) {
      if (length != nullptr) *length = entry.size();
      return entry.c_str();
    }
  }
  if (length != nullptr) *length = 0;
  return kEmpty;
}

}  // namespace frostcap
