#pragma once

// The service's writer metadata entries, walked in the service's order, and
// which selected writer each belongs to. A real server lists writers in the
// order they answered and gives each instance of a writer class an entry of
// its own, so entries are paired with the host's selections by the identity
// each entry states. Where the service does not state it, entries pair by
// position, as with a service that lists its writers in the order of their
// ids.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "frame/snapshot.h"
#include "frame/step_result.h"
#include "vss/seam.h"

namespace frostcap {

// One metadata entry as a walk hands it over.
struct WriterEntry {
  std::uint32_t position;  // in the service's list
  vss::Guid instanceId;
  vss::WriterMetadata& metadata;
};

using VisitWriterEntry = std::function<StepResult(const WriterEntry& entry)>;

// How many metadata entries the service holds.
StepResult countWriterEntries(vss::BackupComponents& service, std::uint32_t& count);

// Obtains the entry at `position` and hands it to `visit`.
StepResult visitWriterEntry(vss::BackupComponents& service, std::uint32_t position,
                            const VisitWriterEntry& visit);

// The first `count` entries in the service's order; stops at the first
// failure, the service's or the visit's.
StepResult visitWriterEntries(vss::BackupComponents& service, std::uint32_t count,
                              const VisitWriterEntry& visit);

// The identity a metadata entry states; nothing when the service does not
// answer.
std::optional<vss::WriterIdentity> askIdentity(vss::WriterMetadata& metadata);

// The selected writers the entry at `position` belongs to, in the order of
// their ids: with an identity, every selected writer whose id names the
// entry's class (one class may be selected under ids spelt differently);
// without one, the selected writer at the same position. Empty when the entry
// belongs to no selected writer. The one place where entries and selected
// writers are paired.
std::vector<const SelectedWriter*> writersOfEntry(
    const Snapshot& snapshot, std::uint32_t position,
    const std::optional<vss::WriterIdentity>& identity);

}  // namespace frostcap
