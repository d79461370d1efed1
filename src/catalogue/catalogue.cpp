#include "catalogue/catalogue.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "backup/selection.h"
#include "frame/messages.h"
#include "platform/platform.h"
#include "vss/await_async.h"
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

void appendQuoted(std::u16string& line, std::u16string_view text) {
  line.push_back(u'"');
  line += text;
  line.append(u"\",");
}

std::u16string_view typeName(std::uint32_t componentType) {
  switch (componentType) {
    case kComponentTypeFilegroup:
      return u"VSS_CT_FILEGROUP";
    case kComponentTypeDatabase:
      return u"VSS_CT_DATABASE";
    default:
      return u"";
  }
}

// ["<writer id>","<logical path>","<name>","<type>",<selectable>]
std::u16string recordLine(std::u16string_view writerId, const vss::ComponentInfo& info) {
  std::u16string line = u"[";
  appendQuoted(line, escapeCatalogueText(writerId));
  appendQuoted(line, escapeCatalogueText(info.logicalPath));
  appendQuoted(line, escapeCatalogueText(info.componentName));
  appendQuoted(line, typeName(info.type));
  line.append(info.selectable ? u"true" : u"false");
  line.push_back(u']');
  return line;
}

StepResult callFailure(std::u16string_view callLabel, Status status) {
  return StepResult::failure(messages::callFailed(callLabel, status));
}

// Lists one writer's components into the queue and into `records`.
StepResult catalogueWriter(Snapshot& snapshot, std::uint32_t position,
                           vss::WriterMetadata& metadata, std::vector<ComponentRecord>& records) {
  vss::FileCounts counts;
  Status status = metadata.getFileCounts(counts);
  if (failed(status)) return callFailure(label::kGetFileCounts, status);
  snapshot.writerComponents.append(u"# Writer " + decimal(position) + u" has " +
                                   decimal(counts.components) + u" component(s)");

  // The service may report writers the host did not select (it reports them
  // all when none is); their class is not known here, so the id stays empty.
  const std::u16string writerId = position < snapshot.writerClassIds.size()
                                      ? platform::formatGuid(snapshot.writerClassIds[position])
                                      : std::u16string();
  for (std::uint32_t index = 0; index < counts.components; ++index) {
    std::unique_ptr<vss::WriterMetadataComponent> component;
    status = vss::obtained(metadata.getComponent(index, component), component);
    if (failed(status)) return callFailure(label::kGetComponent, status);
    vss::ComponentInfoLease lease(*component);
    status = lease.obtain();
    if (failed(status)) return callFailure(label::kGetComponentInfo, status);
    const vss::ComponentInfo& info = lease.info();
    snapshot.writerComponents.append(recordLine(writerId, info));
    records.push_back({info.type, info.logicalPath, info.componentName, {}});
    status = lease.handBack();
    if (failed(status)) return callFailure(label::kFreeComponentInfo, status);
  }
  return StepResult::success();
}

}  // namespace

void loadWriterComponents(Snapshot& snapshot) {
  snapshot.writerComponents.clear();
  snapshot.writerCatalogue.clear();
  const StepResult result = buildComponentCatalogue(snapshot);
  if (!result.ok) snapshot.messages.append(messages::catalogueFailed(result.text));
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
  if (text.empty()) return {};
  // Escaping works on the UTF-8 bytes: every escaped byte is ASCII, and the
  // bytes of a multi-byte sequence are never below 0x80, so they pass whole.
  static constexpr char kHex[] = "0123456789abcdef";
  const std::string bytes = platform::wideToUtf8(text);
  std::string escaped;
  escaped.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0x22 || byte == 0x5C || byte <= 0x1F) {
      escaped.append("\\u00");
      escaped.push_back(kHex[byte >> 4]);
      escaped.push_back(kHex[byte & 0xF]);
    } else {
      escaped.push_back(c);
    }
  }
  return platform::utf8ToWide(escaped);
}

}  // namespace frostcap
