#pragma once

// The XML documents the service hands out and takes back: a writer's metadata
// (IVssExamineWriterMetadata::SaveAsXML, read again by
// CreateVssExamineWriterMetadata) and the backup components document
// (IVssBackupComponents::SaveAsXML, read again by InitializeForBackup). They
// follow the element and attribute names of the service's schemas for what
// the model knows; the model reads back the documents it wrote, not every
// document a real server writes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/scenario.h"

namespace frostcap::simulator {

std::u16string writerMetadataDocument(const WriterSpec& writer);
// The writer a metadata document describes; nothing for text that is not
// well-formed XML with a WRITER_METADATA root of that schema.
std::optional<WriterSpec> readWriterMetadataDocument(std::u16string_view document);

// A component of the backup as the document names it.
struct DocumentComponent {
  vss::Guid instanceId;
  vss::Guid classId;
  std::uint32_t type = 0;
  std::u16string logicalPath;
  std::u16string name;
};

// What the backup components document holds.
struct BackupDocument {
  bool selectComponents = false;
  bool bootable = false;
  std::uint32_t backupType = 0;
  bool partialFileSupport = false;
  std::int32_t context = 0;
  std::optional<vss::Guid> snapshotSetId;
  std::vector<vss::Guid> snapshotIds;
  std::vector<DocumentComponent> components;
};

std::u16string backupComponentsDocument(const BackupDocument& backup);
// Nothing for text that is not a backup components document.
std::optional<BackupDocument> readBackupComponentsDocument(std::u16string_view document);

}  // namespace frostcap::simulator
