#include "backup/selection.h"

#include <cwctype>
#include <utility>

#include "frame/messages.h"

namespace frostcap {

void addWriter(Snapshot& snapshot, const std::u16string& writerId) {
  snapshot.writerSelections.try_emplace(writerId);
}

void addWriterComponent(Snapshot& snapshot, const std::u16string& writerId,
                        ComponentRecord record) {
  auto& selections = snapshot.writerSelections[writerId];
  if (record.componentName.empty()) {
    snapshot.messages.append(std::u16string(messages::kMissingName));
  }
  selections.push_back(std::move(record));
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

}  // namespace frostcap
