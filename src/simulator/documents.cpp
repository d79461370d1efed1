#include "simulator/documents.h"

#include <charconv>
#include <utility>

#include "platform/platform.h"

namespace frostcap::simulator {
namespace {

constexpr std::string_view kMetadataSchema = "x-schema:#VssWriterMetadataInfo";
constexpr std::string_view kComponentsSchema = "x-schema:#VssComponentMetadata";
constexpr std::uint32_t kDatabase = 1;  // VSS_CT_DATABASE

// An element of a document: what the model writes and reads back.
struct Element {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<Element> children;

  Element& add(std::string child) {
    children.push_back({std::move(child), {}, {}});
    return children.back();
  }
  Element& set(std::string key, std::string value) {
    attributes.emplace_back(std::move(key), std::move(value));
    return *this;
  }
  const std::string* get(std::string_view key) const {
    for (const auto& [name, value] : attributes) {
      if (name == key) return &value;
    }
    return nullptr;
  }
  std::string text(std::string_view key) const {
    const std::string* value = get(key);
    return value ? *value : std::string();
  }
};

std::string utf8(const std::u16string& text) { return platform::wideToUtf8(text); }
std::u16string wide(const std::string& text) { return platform::utf8ToWide(text); }
std::string yesNo(bool value) { return value ? "yes" : "no"; }
std::string guidText(const vss::Guid& id) { return utf8(platform::formatGuid(id)); }

std::string escape(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void write(const Element& element, std::string& out) {
  out += "<" + element.name;
  for (const auto& [key, value] : element.attributes)
    out += " " + key + "=\"" + escape(value) + "\"";
  if (element.children.empty()) {
    out += "/>";
    return;
  }
  out += ">";
  for (const Element& child : element.children) write(child, out);
  out += "</" + element.name + ">";
}

std::u16string document(const Element& root) {
  std::string out = "<?xml version=\"1.0\"?>";
  write(root, out);
  return wide(out);
}

// A reader for the documents the model writes: elements, attributes, the five
// entities and character references; text between elements is skipped.
class Reader {
 public:
  explicit Reader(std::string text) : text_(std::move(text)) {}

  std::optional<Element> root() {
    skipMisc();
    std::optional<Element> element = readElement();
    skipMisc();
    if (!element || at_ != text_.size()) return std::nullopt;
    return element;
  }

 private:
  void skipSpace() {
    while (at_ < text_.size() &&
           std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos)
      ++at_;
  }
  // Space, the declaration, processing instructions and comments.
  void skipMisc() {
    for (;;) {
      skipSpace();
      if (text_.compare(at_, 2, "<?") == 0) {
        const std::size_t end = text_.find("?>", at_);
        at_ = end == std::string::npos ? text_.size() + 1 : end + 2;
      } else if (text_.compare(at_, 4, "<!--") == 0) {
        const std::size_t end = text_.find("-->", at_);
        at_ = end == std::string::npos ? text_.size() + 1 : end + 3;
      } else {
        return;
      }
    }
  }
  std::string readName() {
    const std::size_t start = at_;
    while (at_ < text_.size() &&
           std::string_view(" \t\r\n/>=").find(text_[at_]) == std::string_view::npos)
      ++at_;
    return text_.substr(start, at_ - start);
  }
  std::optional<std::string> unescape(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '&') {
        out += raw[i];
        continue;
      }
      const std::size_t end = raw.find(';', i);
      if (end == std::string_view::npos) return std::nullopt;
      const std::string_view entity = raw.substr(i + 1, end - i - 1);
      if (entity == "amp")
        out += '&';
      else if (entity == "lt")
        out += '<';
      else if (entity == "gt")
        out += '>';
      else if (entity == "quot")
        out += '"';
      else if (entity == "apos")
        out += '\'';
      else if (entity.starts_with('#')) {
        const bool hex = entity.size() > 1 && entity[1] == 'x';
        std::uint32_t code = 0;
        const std::string_view digits = entity.substr(hex ? 2 : 1);
        const auto [ptr, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
        if (error != std::errc() || ptr != digits.data() + digits.size() || code > 0x10FFFF)
          return std::nullopt;
        out += platform::wideToUtf8(
            code > 0xFFFF ? std::u16string{static_cast<char16_t>(0xD7C0 + (code >> 10)),
                                           static_cast<char16_t>(0xDC00 | (code & 0x3FF))}
                          : std::u16string(1, static_cast<char16_t>(code)));
      } else {
        return std::nullopt;
      }
      i = end;
    }
    return out;
  }
  std::optional<Element> readElement() {
    if (at_ >= text_.size() || text_[at_] != '<') return std::nullopt;
    ++at_;
    Element element;
    element.name = readName();
    if (element.name.empty()) return std::nullopt;
    for (;;) {
      skipSpace();
      if (at_ >= text_.size()) return std::nullopt;
      if (text_.compare(at_, 2, "/>") == 0) {
        at_ += 2;
        return element;
      }
      if (text_[at_] == '>') {
        ++at_;
        break;
      }
      std::string key = readName();
      skipSpace();
      if (key.empty() || at_ + 1 >= text_.size() || text_[at_] != '=') return std::nullopt;
      ++at_;
      skipSpace();
      const char quote = text_[at_];
      if (quote != '"' && quote != '\'') return std::nullopt;
      const std::size_t end = text_.find(quote, at_ + 1);
      if (end == std::string::npos) return std::nullopt;
      std::optional<std::string> value =
          unescape(std::string_view(text_).substr(at_ + 1, end - at_ - 1));
      if (!value || element.get(key) != nullptr) return std::nullopt;
      element.attributes.emplace_back(std::move(key), std::move(*value));
      at_ = end + 1;
    }
    for (;;) {
      const std::size_t next = text_.find('<', at_);
      if (next == std::string::npos) return std::nullopt;
      at_ = next;
      if (text_.compare(at_, 4, "<!--") == 0 || text_.compare(at_, 2, "<?") == 0) {
        skipMisc();
        continue;
      }
      if (text_.compare(at_, 2, "</") == 0) {
        at_ += 2;
        if (readName() != element.name) return std::nullopt;
        skipSpace();
        if (at_ >= text_.size() || text_[at_] != '>') return std::nullopt;
        ++at_;
        return element;
      }
      std::optional<Element> child = readElement();
      if (!child) return std::nullopt;
      element.children.push_back(std::move(*child));
    }
  }

  std::string text_;
  std::size_t at_ = 0;
};

std::optional<Element> parse(std::u16string_view text, std::string_view root,
                             std::string_view schema) {
  std::optional<Element> element = Reader(platform::wideToUtf8(text)).root();
  if (!element || element->name != root || element->text("xmlns") != schema) return std::nullopt;
  return element;
}

std::optional<vss::Guid> guidOf(const Element& element, std::string_view key) {
  return platform::parseGuid(wide(element.text(key)));
}

std::uint32_t numberOf(const Element& element, std::string_view key) {
  const std::string text = element.text(key);
  std::uint32_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// The names the schema gives the restore methods and writer restore
// conditions, in the order of their enumerations from 1.
constexpr std::string_view kMethods[] = {"RESTORE_IF_NONE_THERE",
                                         "RESTORE_IF_CAN_BE_REPLACED",
                                         "STOP_RESTORE_START",
                                         "RESTORE_TO_ALTERNATE_LOCATION",
                                         "RESTORE_AT_REBOOT",
                                         "RESTORE_AT_REBOOT_IF_CANNOT_REPLACE",
                                         "CUSTOM",
                                         "RESTORE_STOP_START"};
constexpr std::string_view kWriterRestores[] = {"never", "ifReplaceFails", "always"};
constexpr std::string_view kBackupTypes[] = {"undefined", "full", "incremental", "differential",
                                             "log",       "copy", "other"};

template <std::size_t N>
std::string nameOf(const std::string_view (&names)[N], std::uint32_t value, std::uint32_t first) {
  return value >= first && value - first < N ? std::string(names[value - first])
                                             : std::to_string(value);
}
template <std::size_t N>
std::uint32_t valueOf(const std::string_view (&names)[N], const std::string& name,
                      std::uint32_t first) {
  for (std::size_t i = 0; i < N; ++i) {
    if (names[i] == name) return first + static_cast<std::uint32_t>(i);
  }
  std::uint32_t value = 0;
  std::from_chars(name.data(), name.data() + name.size(), value);
  return value;
}

void describeFile(Element& element, const FileSpec& file) {
  if (file.path) element.set("path", utf8(*file.path));
  element.set("filespec", utf8(file.filespec)).set("recursive", yesNo(file.recursive));
  if (!file.alternateLocation.empty()) element.set("alternatePath", utf8(file.alternateLocation));
}

FileSpec fileOf(const Element& element) {
  FileSpec file;
  if (const std::string* path = element.get("path")) file.path = wide(*path);
  file.filespec = wide(element.text("filespec"));
  file.recursive = element.text("recursive") == "yes";
  file.alternateLocation = wide(element.text("alternatePath"));
  return file;
}

}  // namespace

std::u16string writerMetadataDocument(const WriterSpec& writer) {
  Element root{"WRITER_METADATA", {}, {}};
  root.set("xmlns", std::string(kMetadataSchema)).set("version", "1.1");
  root.set("backupSchema", std::to_string(writer.backupSchema));
  root.add("IDENTIFICATION")
      .set("writerId", guidText(writer.classId))
      .set("instanceId", guidText(writer.instanceId))
      .set("friendlyName", utf8(writer.name))
      .set("usage", "USER_DATA")
      .set("dataSource", "OTHER");
  Element& locations = root.add("BACKUP_LOCATIONS");
  for (const ComponentSpec& component : writer.components) {
    Element& element = locations.add(component.type == kDatabase ? "DATABASE" : "FILE_GROUP");
    element.set("logicalPath", utf8(component.logicalPath))
        .set("componentName", utf8(component.name))
        .set("componentType", std::to_string(component.type))
        .set("selectable", yesNo(component.selectable));
    for (const FileSpec& file : component.files) describeFile(element.add("FILE_LIST"), file);
    for (const FileSpec& file : component.databases)
      describeFile(element.add("DATABASE_FILES"), file);
    for (const FileSpec& file : component.logs)
      describeFile(element.add("DATABASE_LOGFILES"), file);
  }
  for (const FileSpec& file : writer.excludes) describeFile(root.add("EXCLUDE_FILES"), file);
  if (writer.restoreMethod) {
    const RestoreMethodSpec& method = *writer.restoreMethod;
    Element& element = root.add("RESTORE_METHOD");
    element.set("method", nameOf(kMethods, method.method, 1))
        .set("service", utf8(method.service))
        .set("userProcedure", utf8(method.userProcedure))
        .set("writerRestore", nameOf(kWriterRestores, method.writerRestore, 1))
        .set("rebootRequired", yesNo(method.rebootRequired));
    for (const FileSpec& file : writer.alternateLocations) {
      describeFile(element.add("ALTERNATE_LOCATION_MAPPING"), file);
    }
  } else {
    for (const FileSpec& file : writer.alternateLocations) {
      describeFile(root.add("ALTERNATE_LOCATION_MAPPING"), file);
    }
  }
  return document(root);
}

std::optional<WriterSpec> readWriterMetadataDocument(std::u16string_view text) {
  const std::optional<Element> root = parse(text, "WRITER_METADATA", kMetadataSchema);
  if (!root) return std::nullopt;
  WriterSpec writer;
  writer.backupSchema = numberOf(*root, "backupSchema");
  bool identified = false;
  const auto mappings = [&](const Element& parent) {
    for (const Element& child : parent.children) {
      if (child.name == "ALTERNATE_LOCATION_MAPPING")
        writer.alternateLocations.push_back(fileOf(child));
    }
  };
  for (const Element& element : root->children) {
    if (element.name == "IDENTIFICATION") {
      const auto classId = guidOf(element, "writerId");
      const auto instanceId = guidOf(element, "instanceId");
      if (!classId || !instanceId) return std::nullopt;
      writer.classId = *classId;
      writer.instanceId = *instanceId;
      writer.name = wide(element.text("friendlyName"));
      identified = true;
    } else if (element.name == "BACKUP_LOCATIONS") {
      for (const Element& location : element.children) {
        ComponentSpec component;
        component.type = numberOf(location, "componentType");
        component.logicalPath = wide(location.text("logicalPath"));
        component.name = wide(location.text("componentName"));
        component.selectable = location.text("selectable") != "no";
        for (const Element& file : location.children) {
          if (file.name == "FILE_LIST") component.files.push_back(fileOf(file));
          if (file.name == "DATABASE_FILES") component.databases.push_back(fileOf(file));
          if (file.name == "DATABASE_LOGFILES") component.logs.push_back(fileOf(file));
        }
        writer.components.push_back(std::move(component));
      }
    } else if (element.name == "EXCLUDE_FILES") {
      writer.excludes.push_back(fileOf(element));
    } else if (element.name == "RESTORE_METHOD") {
      RestoreMethodSpec method;
      method.method = valueOf(kMethods, element.text("method"), 1);
      method.service = wide(element.text("service"));
      method.userProcedure = wide(element.text("userProcedure"));
      method.writerRestore = valueOf(kWriterRestores, element.text("writerRestore"), 1);
      method.rebootRequired = element.text("rebootRequired") == "yes";
      writer.restoreMethod = method;
      mappings(element);
    }
  }
  mappings(*root);
  if (!identified) return std::nullopt;
  return writer;
}

std::u16string backupComponentsDocument(const BackupDocument& backup) {
  Element root{"BACKUP_COMPONENTS", {}, {}};
  root.set("xmlns", std::string(kComponentsSchema))
      .set("version", "1.2")
      .set("bootableSystemStateBackup", yesNo(backup.bootable))
      .set("selectComponents", yesNo(backup.selectComponents))
      .set("backupType", nameOf(kBackupTypes, backup.backupType, 0))
      .set("partialFileSupport", yesNo(backup.partialFileSupport));
  if (backup.snapshotSetId) root.set("snapshotSetId", guidText(*backup.snapshotSetId));
  Element* writer = nullptr;
  for (const DocumentComponent& component : backup.components) {
    if (writer == nullptr || writer->text("instanceId") != guidText(component.instanceId)) {
      writer = &root.add("WRITER_COMPONENTS");
      writer->set("instanceId", guidText(component.instanceId))
          .set("writerId", guidText(component.classId));
    }
    writer->add("COMPONENT")
        .set("logicalPath", utf8(component.logicalPath))
        .set("componentName", utf8(component.name))
        .set("componentType", component.type == kDatabase ? "database" : "filegroup");
  }
  if (backup.snapshotSetId) {
    Element& set = root.add("SNAPSHOT_SET_DESCRIPTION");
    set.set("snapshotSetId", guidText(*backup.snapshotSetId))
        .set("context", std::to_string(backup.context));
    for (const vss::Guid& id : backup.snapshotIds) {
      set.add("SNAPSHOT_DESCRIPTION").set("snapshotId", guidText(id));
    }
  }
  return document(root);
}

std::optional<BackupDocument> readBackupComponentsDocument(std::u16string_view text) {
  const std::optional<Element> root = parse(text, "BACKUP_COMPONENTS", kComponentsSchema);
  if (!root) return std::nullopt;
  BackupDocument backup;
  backup.bootable = root->text("bootableSystemStateBackup") == "yes";
  backup.selectComponents = root->text("selectComponents") == "yes";
  backup.backupType = valueOf(kBackupTypes, root->text("backupType"), 0);
  backup.partialFileSupport = root->text("partialFileSupport") == "yes";
  backup.snapshotSetId = guidOf(*root, "snapshotSetId");
  for (const Element& element : root->children) {
    if (element.name == "SNAPSHOT_SET_DESCRIPTION") {
      const std::string context = element.text("context");
      std::from_chars(context.data(), context.data() + context.size(), backup.context);
      for (const Element& snapshot : element.children) {
        if (const auto id = guidOf(snapshot, "snapshotId")) backup.snapshotIds.push_back(*id);
      }
    }
    if (element.name != "WRITER_COMPONENTS") continue;
    const auto instanceId = guidOf(element, "instanceId");
    const auto classId = guidOf(element, "writerId");
    if (!instanceId || !classId) return std::nullopt;
    for (const Element& component : element.children) {
      backup.components.push_back(
          {*instanceId, *classId, component.text("componentType") == "database" ? kDatabase : 2,
           wide(component.text("logicalPath")), wide(component.text("componentName"))});
    }
  }
  return backup;
}

}  // namespace frostcap::simulator
