#include "selection/writer_pairing.h"

#include <memory>

#include "frame/await_async.h"
#include "frame/messages.h"

namespace frostcap {

StepResult countWriterEntries(vss::BackupComponents& service, std::uint32_t& count) {
  const Status status = service.getWriterMetadataCount(count);
  if (failed(status)) return callFailure(messages::label::kGetWriterMetadataCount, status);
  return StepResult::success();
}

StepResult visitWriterEntry(vss::BackupComponents& service, std::uint32_t position,
                            const VisitWriterEntry& visit) {
  vss::Guid instanceId;
  std::unique_ptr<vss::WriterMetadata> metadata;
  const Status status =
      vss::obtained(service.getWriterMetadata(position, instanceId, metadata), metadata);
  if (failed(status)) return callFailure(messages::label::kGetWriterMetadata, status);
  return visit(WriterEntry{position, instanceId, *metadata});
}

StepResult visitWriterEntries(vss::BackupComponents& service, std::uint32_t count,
                              const VisitWriterEntry& visit) {
  for (std::uint32_t position = 0; position < count; ++position) {
    const StepResult result = visitWriterEntry(service, position, visit);
    if (!result.ok) return result;
  }
  return StepResult::success();
}

std::optional<vss::WriterIdentity> askIdentity(vss::WriterMetadata& metadata) {
  vss::WriterIdentity identity;
  if (failed(metadata.getIdentity(identity))) return std::nullopt;
  return identity;
}

std::vector<const SelectedWriter*> writersOfEntry(
    const Snapshot& snapshot, std::uint32_t position,
    const std::optional<vss::WriterIdentity>& identity) {
  std::vector<const SelectedWriter*> writers;
  std::size_t index = 0;
  for (const auto& [writerId, writer] : snapshot.selectedWriters) {
    if (identity ? writer.classId == identity->classId : index == position) {
      writers.push_back(&writer);
    }
    ++index;
  }
  return writers;
}

}  // namespace frostcap
