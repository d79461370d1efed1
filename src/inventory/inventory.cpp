#include "inventory/inventory.h"

#include <memory>

#include "frame/await_async.h"
#include "frame/guard.h"
#include "frame/messages.h"
#include "inventory/file_expansion.h"
#include "selection/selection.h"
#include "selection/writer_pairing.h"
#include "vss/component_info_lease.h"

namespace frostcap {
namespace {

namespace label = messages::label;

using DescriptorGetter =
    Status (vss::WriterMetadataComponent::*)(std::uint32_t, std::unique_ptr<vss::FileDescriptor>&);

// Expands `count` descriptors of one kind of a component into `target`.
StepResult expandDescriptors(const Snapshot& snapshot, vss::WriterMetadataComponent& component,
                             DescriptorGetter get, std::u16string_view getLabel,
                             std::uint32_t count, StringQueue& target) {
  for (std::uint32_t index = 0; index < count; ++index) {
    std::unique_ptr<vss::FileDescriptor> descriptor;
    const Status status = vss::obtained((component.*get)(index, descriptor), descriptor);
    if (failed(status)) return callFailure(getLabel, status);
    const StepResult result = expandFileDescriptor(snapshot, *descriptor, target);
    if (!result.ok) return result;
  }
  return StepResult::success();
}

StepResult listComponent(Snapshot& snapshot, vss::WriterMetadataComponent& component,
                         const SelectionIndex& selected) {
  vss::ComponentInfoLease lease(component);
  Status status = lease.obtain();
  if (failed(status)) return callFailure(label::kGetComponentInfo, status);
  const vss::ComponentInfo& info = lease.info();
  const ComponentRecord key{info.type, info.logicalPath, info.componentName, {}};

  if (selected.covers(key)) {
    snapshot.writerFileInfo.reserveMore(std::size_t{info.fileCount} + info.databaseCount +
                                        info.logFileCount);
    const struct {
      DescriptorGetter get;
      std::u16string_view label;
      std::uint32_t count;
    } kinds[] = {
        {&vss::WriterMetadataComponent::getFile, label::kGetFile, info.fileCount},
        {&vss::WriterMetadataComponent::getDatabaseFile, label::kGetDatabaseFile,
         info.databaseCount},
        {&vss::WriterMetadataComponent::getDatabaseLogFile, label::kGetDatabaseLogFile,
         info.logFileCount},
    };
    for (const auto& kind : kinds) {
      const StepResult result = expandDescriptors(snapshot, component, kind.get, kind.label,
                                                  kind.count, snapshot.writerFileInfo);
      if (!result.ok) return result;
    }
  }
  status = lease.handBack();
  if (failed(status)) return callFailure(label::kFreeComponentInfo, status);
  return StepResult::success();
}

StepResult listWriter(Snapshot& snapshot, const WriterEntry& entry) {
  vss::WriterMetadata& metadata = entry.metadata;
  const std::vector<const SelectedWriter*> writers =
      writersOfEntry(snapshot, entry.position, askIdentity(metadata));
  vss::FileCounts counts;
  Status status = metadata.getFileCounts(counts);
  if (failed(status)) return callFailure(label::kGetFileCounts, status);

  for (std::uint32_t index = 0; index < counts.excludeFiles; ++index) {
    std::unique_ptr<vss::FileDescriptor> descriptor;
    status = vss::obtained(metadata.getExcludeFile(index, descriptor), descriptor);
    if (failed(status)) return callFailure(label::kGetExcludeFile, status);
    const StepResult result =
        expandFileDescriptor(snapshot, *descriptor, snapshot.writerExcludedFileInfo);
    if (!result.ok) return result;
  }

  // Built once per writer: a writer may have many components and the host may
  // select many of them.
  const SelectionIndex selected(writers);
  for (std::uint32_t index = 0; index < counts.components; ++index) {
    std::unique_ptr<vss::WriterMetadataComponent> component;
    status = vss::obtained(metadata.getComponent(index, component), component);
    if (failed(status)) return callFailure(label::kGetComponent, status);
    const StepResult result = listComponent(snapshot, *component, selected);
    if (!result.ok) return result;
  }
  return StepResult::success();
}

}  // namespace

void loadWriterFileInfo(Snapshot& snapshot) {
  // No phase surrounds the inventory whose guard could report an exception,
  // so it reports one itself, like a failed call: the records found so far
  // stay, and the warning carries the exception's text.
  const StepResult result = runGuarded([&] { return collectWriterFiles(snapshot); });
  if (!result.ok) snapshot.messages.append(messages::fileSetFailed(result.text));
}

StepResult collectWriterFiles(Snapshot& snapshot) {
  snapshot.writerFileInfo.clear();
  // Without a backup-components object there is no metadata to walk; the
  // catalogue reports the same situation with the same token.
  if (!snapshot.backupComponents) return StepResult::failure(std::u16string(messages::kNotReady));
  vss::BackupComponents& service = *snapshot.backupComponents;

  std::uint32_t writerCount = 0;
  const StepResult counted = countWriterEntries(service, writerCount);
  if (!counted.ok) return counted;

  // A writer that belongs to no selected writer (possible after a failed
  // preparation) has its excluded files listed but none of its components.
  return visitWriterEntries(service, writerCount,
                            [&](const WriterEntry& entry) { return listWriter(snapshot, entry); });
}

}  // namespace frostcap
