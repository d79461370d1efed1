#pragma once

// The host's choice of writers and components, and the rules by which a chosen
// component is compared with the components a writer reports.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "backup/component_record.h"
#include "frame/snapshot.h"

namespace frostcap {

inline constexpr std::uint32_t kComponentTypeDatabase = 1;   // VSS_CT_DATABASE
inline constexpr std::uint32_t kComponentTypeFilegroup = 2;  // VSS_CT_FILEGROUP

// Selects a writer; a writer already selected keeps its components.
void addWriter(Snapshot& snapshot, const std::u16string& writerId);

// Selects a writer and appends a component to its selections. A component
// without a name is still recorded, with a warning.
void addWriterComponent(Snapshot& snapshot, const std::u16string& writerId, ComponentRecord record);

// Every code unit through the run-time library's towlower.
std::u16string lowerCopy(std::u16string_view text);

// Same type, and logical path and name equal without regard to case.
bool matchesRecord(const ComponentRecord& a, const ComponentRecord& b);

// The record to try under the fallback logical path; the empty record when
// there is no fallback.
ComponentRecord fallbackRecord(const ComponentRecord& record);

// The first selection that is `component` itself or has it below it (same
// type, and the component's logical path begins with the selection's logical
// path + "\" + name, case respected). Null when none does.
const ComponentRecord* findSelection(const std::vector<ComponentRecord>& selections,
                                     const ComponentRecord& component);

}  // namespace frostcap
