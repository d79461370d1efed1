#pragma once

#include <optional>
#include <vector>

#include "frame/component_record.h"
#include "platform/platform.h"

namespace frostcap {

// One component the host selected for a writer.
struct Selection {
  // As the host named it; once the preparation found it, as the writer spells
  // it, which is how the service knows it from then on.
  ComponentRecord component;
  // The writer instance the preparation added it for; none before that, and
  // for a component selected after the preparation.
  std::optional<platform::Guid> addedFor;

  // Whether the service was told of the component: it knows only what the
  // preparation added to the backup.
  bool added() const { return addedFor.has_value(); }
};

// Everything the backup road learns about one writer the host selected.
struct SelectedWriter {
  // The class the host's writer id names; none when the id is not a GUID.
  std::optional<platform::Guid> classId;
  std::vector<Selection> selections;
  // The instances of the class that the preparation found, in the service's
  // order; the first takes the components selected after the preparation.
  // Empty until the preparation has reached the writer.
  std::vector<platform::Guid> instanceIds;

  // What the preparation learned goes; the host's choice stays.
  void forgetPreparation() {
    instanceIds.clear();
    for (Selection& selection : selections) selection.addedFor.reset();
  }
};

}  // namespace frostcap
