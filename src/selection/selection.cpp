#include "selection/selection.h"

#include <algorithm>
#include <cwctype>
#include <functional>
#include <utility>

#include "frame/messages.h"
#include "platform/platform.h"

namespace frostcap {

SelectedWriter& addWriter(Snapshot& snapshot, const std::u16string& writerId) {
  const auto [entry, added] = snapshot.selectedWriters.try_emplace(writerId);
  if (added) entry->second.classId = platform::parseGuid(writerId);
  return entry->second;
}

void addWriterComponent(Snapshot& snapshot, const std::u16string& writerId,
                        ComponentRecord record) {
  SelectedWriter& writer = addWriter(snapshot, writerId);
  if (record.componentName.empty()) {
    snapshot.messages.append(std::u16string(messages::kMissingName));
  }
  writer.selections.push_back({std::move(record), std::nullopt});
}

std::u16string lowerCopy(std::u16string_view text) {
  std::u16string lowered(text);
  for (char16_t& unit : lowered) {
    unit = static_cast<char16_t>(std::towlower(static_cast<std::wint_t>(unit)));
  }
  return lowered;
}

namespace {

bool equalIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && std::towlower(static_cast<std::wint_t>(a[i])) !=
                            std::towlower(static_cast<std::wint_t>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool matchesRecord(const ComponentRecord& a, const ComponentRecord& b) {
  return a.componentType == b.componentType && equalIgnoringCase(a.logicalPath, b.logicalPath) &&
         equalIgnoringCase(a.componentName, b.componentName);
}

RecordKey recordKey(const ComponentRecord& record) {
  return {record.componentType, lowerCopy(record.logicalPath), lowerCopy(record.componentName)};
}

std::size_t RecordKeyHash::operator()(const RecordKey& key) const noexcept {
  const std::hash<std::u16string> hash;
  return (hash(key.path) * 31 + hash(key.name)) * 31 + key.type;
}

ComponentRecord fallbackRecord(const ComponentRecord& record) {
  if (record.fallbackLogicalPath.empty()) return {};
  return {record.componentType, record.fallbackLogicalPath, record.componentName, {}};
}

namespace {

// The component lies below the selection: its path begins with the
// selection's path, a backslash and the selection's name. No separator is
// required after the name.
bool liesBelow(const ComponentRecord& selection, const ComponentRecord& component) {
  const std::u16string_view path = component.logicalPath;
  const std::size_t prefixLength =
      selection.logicalPath.size() + 1 + selection.componentName.size();
  return path.size() >= prefixLength && path.starts_with(selection.logicalPath) &&
         path[selection.logicalPath.size()] == u'\\' &&
         path.substr(selection.logicalPath.size() + 1).starts_with(selection.componentName);
}

}  // namespace

const ComponentRecord* findSelection(const std::vector<ComponentRecord>& selections,
                                     const ComponentRecord& component) {
  for (const ComponentRecord& selection : selections) {
    if (matchesRecord(selection, component) ||
        (selection.componentType == component.componentType && liesBelow(selection, component))) {
      return &selection;
    }
  }
  return nullptr;
}

namespace {

constexpr std::size_t kTypeUnits = 2;

// The type as the first two units of a text, so that one set holds the
// texts of every type.
std::u16string typeTagged(std::uint32_t type, std::u16string_view text) {
  std::u16string tagged;
  tagged.reserve(kTypeUnits + text.size());
  tagged.push_back(static_cast<char16_t>(type >> 16));
  tagged.push_back(static_cast<char16_t>(type & 0xFFFF));
  tagged.append(text);
  return tagged;
}

}  // namespace

std::size_t SelectionIndex::TextHash::operator()(std::u16string_view text) const noexcept {
  return std::hash<std::u16string_view>()(text);
}

SelectionIndex::SelectionIndex(const std::vector<ComponentRecord>& selections) {
  itself_.reserve(selections.size());
  below_.reserve(selections.size());
  for (const ComponentRecord& selection : selections) add(selection);
  finish();
}

SelectionIndex::SelectionIndex(const std::vector<const SelectedWriter*>& writers) {
  for (const SelectedWriter* writer : writers) {
    itself_.reserve(itself_.size() + writer->selections.size());
    below_.reserve(below_.size() + writer->selections.size());
    for (const Selection& selection : writer->selections) add(selection.component);
  }
  finish();
}

void SelectionIndex::add(const ComponentRecord& selection) {
  itself_.insert(recordKey(selection));
  std::u16string prefix = typeTagged(selection.componentType, selection.logicalPath);
  prefix.push_back(u'\\');
  prefix.append(selection.componentName);
  belowLengths_.push_back(prefix.size() - kTypeUnits);
  below_.insert(std::move(prefix));
}

void SelectionIndex::finish() {
  std::sort(belowLengths_.begin(), belowLengths_.end());
  belowLengths_.erase(std::unique(belowLengths_.begin(), belowLengths_.end()), belowLengths_.end());
}

// A component lies below a selection when its path begins with the
// selection's path + "\" + name, so only the beginnings of the component's
// path that are as long as one of those texts need to be looked up.
bool SelectionIndex::covers(const ComponentRecord& component) const {
  if (itself_.contains(recordKey(component))) return true;
  const std::size_t pathLength = component.logicalPath.size();
  if (belowLengths_.empty() || belowLengths_.front() > pathLength) return false;
  const std::u16string tagged = typeTagged(component.componentType, component.logicalPath);
  for (const std::size_t length : belowLengths_) {
    if (length > pathLength) break;
    if (below_.contains(std::u16string_view(tagged).substr(0, kTypeUnits + length))) return true;
  }
  return false;
}

}  // namespace frostcap
