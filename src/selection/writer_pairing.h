#pragma once

// Which selected writer a metadata entry of the service belongs to. A real
// server lists writers in the order they answered and gives each instance of
// a writer class an entry of its own, so entries are paired with the host's
// selections by the identity each entry states. Where the service does not
// state it, entries pair by position, as with a service that lists its
// writers in the order of their ids.

#include <cstddef>
#include <optional>
#include <vector>

#include "frame/component_record.h"
#include "frame/snapshot.h"
#include "vss/seam.h"

namespace frostcap {

// The identity a metadata entry states; nothing when the service does not
// answer.
std::optional<vss::WriterIdentity> askIdentity(vss::WriterMetadata& metadata);

// The selection lists of the writer an entry at `position` belongs to: those
// of every selected writer id naming the entry's class, or, without an
// identity, that of the selected writer at the same position. Empty when the
// entry belongs to no selected writer. Points into writerSelections.
std::vector<const std::vector<ComponentRecord>*> selectionsOfEntry(
    const Snapshot& snapshot, std::size_t position,
    const std::optional<vss::WriterIdentity>& identity);

}  // namespace frostcap
