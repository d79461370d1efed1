#pragma once

// The host's choice of writers and components, and the rules by which a chosen
// component is compared with the components a writer reports.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "frame/component_record.h"
#include "frame/snapshot.h"
#include "vss/constants.h"

namespace frostcap {

// Selects a writer; a writer already selected keeps its components.
void addWriter(Snapshot& snapshot, const std::u16string& writerId);

// Selects a writer and appends a component to its selections. A component
// without a name is still recorded, with a warning.
void addWriterComponent(Snapshot& snapshot, const std::u16string& writerId, ComponentRecord record);

// Every code unit through the run-time library's towlower.
std::u16string lowerCopy(std::u16string_view text);

// Same type, and logical path and name equal without regard to case.
bool matchesRecord(const ComponentRecord& a, const ComponentRecord& b);

// What matchesRecord compares, as a value a hash table can hold: the type and
// both texts through lowerCopy. Two records match exactly when their keys are
// equal.
struct RecordKey {
  std::uint32_t type = 0;
  std::u16string path;
  std::u16string name;
  friend bool operator==(const RecordKey&, const RecordKey&) = default;
};

RecordKey recordKey(const ComponentRecord& record);

struct RecordKeyHash {
  std::size_t operator()(const RecordKey& key) const noexcept;
};

// The record to try under the fallback logical path; the empty record when
// there is no fallback.
ComponentRecord fallbackRecord(const ComponentRecord& record);

// The first selection that is `component` itself or has it below it (same
// type, and the component's logical path begins with the selection's logical
// path + "\" + name, case respected). Null when none does.
const ComponentRecord* findSelection(const std::vector<ComponentRecord>& selections,
                                     const ComponentRecord& component);

// Whether findSelection would find a selection for a component, answered in
// time that does not grow with the number of selections, for a writer with
// many components selected. Holds copies: the selections may change after.
class SelectionIndex {
 public:
  explicit SelectionIndex(const std::vector<ComponentRecord>& selections);
  // The selections of several lists together, as one writer's.
  explicit SelectionIndex(const std::vector<const std::vector<ComponentRecord>*>& lists);
  bool covers(const ComponentRecord& component) const;

 private:
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view text) const noexcept;
  };

  std::unordered_set<RecordKey, RecordKeyHash> itself_;
  // For what lies below: the type in two units, then the selection's path, a
  // backslash and its name; and the distinct lengths of those texts, without
  // the type, in increasing order.
  std::unordered_set<std::u16string, TextHash, std::equal_to<>> below_;
  std::vector<std::size_t> belowLengths_;
};

}  // namespace frostcap
