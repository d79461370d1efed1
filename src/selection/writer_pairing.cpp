#include "selection/writer_pairing.h"

#include <iterator>

#include "platform/platform.h"

namespace frostcap {

std::optional<vss::WriterIdentity> askIdentity(vss::WriterMetadata& metadata) {
  vss::WriterIdentity identity;
  if (failed(metadata.getIdentity(identity))) return std::nullopt;
  return identity;
}

std::vector<const std::vector<ComponentRecord>*> selectionsOfEntry(
    const Snapshot& snapshot, std::size_t position,
    const std::optional<vss::WriterIdentity>& identity) {
  std::vector<const std::vector<ComponentRecord>*> lists;
  if (!identity) {
    if (position < snapshot.writerSelections.size()) {
      lists.push_back(
          &std::next(snapshot.writerSelections.begin(), static_cast<std::ptrdiff_t>(position))
               ->second);
    }
    return lists;
  }
  for (const auto& [writerId, selections] : snapshot.writerSelections) {
    if (platform::parseGuid(writerId) == identity->classId) lists.push_back(&selections);
  }
  return lists;
}

}  // namespace frostcap
