#include "catalogue/catalogue.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backup/selection.h"
#include "backup/writer_pairing.h"
#include "frame/await_async.h"
#include "frame/guard.h"
#include "frame/messages.h"
#include "platform/platform.h"
#include "vss/component_info_lease.h"

namespace frostcap {
namespace {

namespace label = messages::label;

std::u16string decimal(std::uint64_t value) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

// Appends the text as escapeCatalogueText gives it. Every character that is
// escaped is ASCII, so the UTF-16 text is escaped as it stands, runs of
// ordinary units copied whole; a surrogate without its partner becomes
// U+FFFD, as the conversion to UTF-8 would make it.
void appendEscaped(std::u16string& out, std::u16string_view text) {
  static constexpr char16_t kHex[] = u"0123456789abcdef";
  std::size_t copied = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    const bool escaped = unit == u'"' || unit == u'\\' || unit <= 0x1F;
    if (!escaped && (unit < 0xD800 || unit > 0xDFFF)) continue;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;  // a well-formed pair passes unchanged
      continue;
    }
    out.append(text.substr(copied, i - copied));
    if (escaped) {
      out.append(u"\\u00");
      out.push_back(kHex[unit >> 4]);
      out.push_back(kHex[unit & 0xF]);
    } else {
      out.push_back(u'\uFFFD');
    }
    copied = i + 1;
  }
  out.append(text.substr(copied));
}

void appendQuoted(std::u16string& line, std::u16string_view text) {
  line.push_back(u'"');
  appendEscaped(line, text);
  line.append(u"\",");
}

std::u16string_view typeName(std::uint32_t componentType) {
  switch (componentType) {
    case vss::kComponentTypeFilegroup:
      return u"VSS_CT_FILEGROUP";
    case vss::kComponentTypeDatabase:
      return u"VSS_CT_DATABASE";
    default:
      return u"";
  }
}

// ["<writer id>","<logical path>","<name>","<type>",<selectable>], written
// over `line`, which the caller keeps from one record to the next so that
// only the queued copy of each line is allocated.
void recordLine(std::u16string& line, std::u16string_view writerId,
                const vss::ComponentInfo& info) {
  line.assign(1, u'[');
  appendQuoted(line, writerId);
  appendQuoted(line, info.logicalPath);
  appendQuoted(line, info.componentName);
  appendQuoted(line, typeName(info.type));
  line.append(info.selectable ? u"true" : u"false");
  line.push_back(u']');
}

// The writer id a record line names: the entry's own class where the service
// states it, otherwise that of the selected writer at the same position. A
// writer beyond the selection (the service reports them all when none is
// selected) whose class the service does not state gets an empty id.
std::u16string writerIdOf(const Snapshot& snapshot, std::uint32_t position,
                          const std::optional<vss::WriterIdentity>& identity) {
  if (identity) return platform::formatGuid(identity->classId);
  return position < snapshot.writerClassIds.size()
             ? platform::formatGuid(snapshot.writerClassIds[position])
             : std::u16string();
}

// Lists one writer's components into the queue and into `records`.
StepResult catalogueWriter(Snapshot& snapshot, std::uint32_t position,
                           vss::WriterMetadata& metadata, std::vector<ComponentRecord>& records) {
  const std::optional<vss::WriterIdentity> identity = askIdentity(metadata);
  if (identity) snapshot.writerIdentities[position] = *identity;
  vss::FileCounts counts;
  Status status = metadata.getFileCounts(counts);
  if (failed(status)) return callFailure(label::kGetFileCounts, status);
  snapshot.writerComponents.append(u"# Writer " + decimal(position) + u" has " +
                                   decimal(counts.components) + u" component(s)");

  const std::u16string writerId = writerIdOf(snapshot, position, identity);
  std::u16string line;
  for (std::uint32_t index = 0; index < counts.components; ++index) {
    std::unique_ptr<vss::WriterMetadataComponent> component;
    status = vss::obtained(metadata.getComponent(index, component), component);
    if (failed(status)) return callFailure(label::kGetComponent, status);
    vss::ComponentInfoLease lease(*component);
    status = lease.obtain();
    if (failed(status)) return callFailure(label::kGetComponentInfo, status);
    const vss::ComponentInfo& info = lease.info();
    recordLine(line, writerId, info);
    snapshot.writerComponents.append(line);
    records.push_back({info.type, info.logicalPath, info.componentName, {}});
    status = lease.handBack();
    if (failed(status)) return callFailure(label::kFreeComponentInfo, status);
  }
  return StepResult::success();
}

template <typename Build>
void rebuildCatalogue(Snapshot& snapshot, Build&& build) {
  snapshot.writerComponents.clear();
  snapshot.writerCatalogue.clear();
  snapshot.writerIdentities.clear();
  const StepResult result = build();
  if (!result.ok) snapshot.messages.append(messages::catalogueFailed(result.text));
}

}  // namespace

void loadWriterComponents(Snapshot& snapshot) {
  rebuildCatalogue(snapshot, [&] { return buildComponentCatalogue(snapshot); });
}

void loadWriterComponentsGuarded(Snapshot& snapshot) {
  rebuildCatalogue(snapshot,
                   [&] { return runGuarded([&] { return buildComponentCatalogue(snapshot); }); });
}

StepResult buildComponentCatalogue(Snapshot& snapshot) {
  if (!snapshot.backupComponents) return StepResult::failure(std::u16string(messages::kNotReady));
  vss::BackupComponents& service = *snapshot.backupComponents;

  std::uint32_t writerCount = 0;
  Status status = service.getWriterMetadataCount(writerCount);
  if (failed(status)) return callFailure(label::kGetWriterMetadataCount, status);
  snapshot.writerComponents.append(u"# Found " + decimal(writerCount) +
                                   u" writer(s) to interrogate");

  for (std::uint32_t position = 0; position < writerCount; ++position) {
    vss::Guid instanceId;
    std::unique_ptr<vss::WriterMetadata> metadata;
    status = vss::obtained(service.getWriterMetadata(position, instanceId, metadata), metadata);
    if (failed(status)) return callFailure(label::kGetWriterMetadata, status);
    std::vector<ComponentRecord> records;
    const StepResult result = catalogueWriter(snapshot, position, *metadata, records);
    if (!result.ok) return result;
    snapshot.writerCatalogue[position] = std::move(records);
  }
  return StepResult::success();
}

std::u16string escapeCatalogueText(std::u16string_view text) {
  std::u16string escaped;
  appendEscaped(escaped, text);
  return escaped;
}

}  // namespace frostcap
