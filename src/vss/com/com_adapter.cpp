#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include "vss/com/com_adapter.h"

#include <bit>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vss/com/com_ptr.h"
#include "vss/com/vss_sdk.h"

namespace frostcap::vss::com {
namespace {

using platform::asUtf16;
using platform::asWide;

static_assert(sizeof(Guid) == sizeof(GUID));
static_assert(sizeof(Status) == sizeof(HRESULT));

// A call that reports success without the description it promised answers as
// an invalid pointer would.
constexpr Status kNoDescription = E_POINTER;

Guid fromWindows(const GUID& id) { return std::bit_cast<Guid>(id); }
GUID toWindows(const Guid& id) { return std::bit_cast<GUID>(id); }

// The whole text the string records, embedded NULs included; no string at all
// is the empty text.
std::u16string copyText(BSTR text) {
  if (text == nullptr) return {};
  return std::u16string(asUtf16(text), SysStringLen(text));
}

const wchar_t* wide(const std::u16string& text) { return asWide(text.c_str()); }

// Puts the object the service handed back, if any, behind its adapter. An
// object that comes with a failure is handed on as well, so that it is
// released like any other.
template <typename Adapter, typename Seam, typename Interface>
void handOut(ComPtr<Interface>& object, std::unique_ptr<Seam>& out) {
  if (object) out = std::make_unique<Adapter>(std::move(object));
}

class AsyncAdapter final : public Async {
 public:
  explicit AsyncAdapter(ComPtr<IVssAsync> async) : async_(std::move(async)) {}

  Status wait() override { return async_->Wait(INFINITE); }

  Status queryStatus(Status& operation) override {
    HRESULT result = S_OK;
    const HRESULT status = async_->QueryStatus(&result, nullptr);
    operation = result;
    return status;
  }

 private:
  ComPtr<IVssAsync> async_;
};

class FileDescriptorAdapter final : public FileDescriptor {
 public:
  explicit FileDescriptorAdapter(ComPtr<IVssWMFiledesc> file) : file_(std::move(file)) {}

  Status getPath(std::optional<std::u16string>& path) override {
    UniqueBstr text;
    const HRESULT status = file_->GetPath(text.put());
    // Unlike the other texts, a missing path is not an empty one: the
    // descriptor then names no files at all.
    if (!failed(status)) {
      path = text.get() != nullptr ? std::optional(copyText(text.get())) : std::nullopt;
    }
    return status;
  }

  Status getFilespec(std::u16string& filespec) override {
    UniqueBstr text;
    const HRESULT status = file_->GetFilespec(text.put());
    if (!failed(status)) filespec = copyText(text.get());
    return status;
  }

  Status getRecursive(bool& recursive) override {
    boolean value = 0;
    const HRESULT status = file_->GetRecursive(&value);
    if (!failed(status)) recursive = value != 0;
    return status;
  }

 private:
  ComPtr<IVssWMFiledesc> file_;
};

ComponentInfo describe(const VSS_COMPONENTINFO& block) {
  ComponentInfo info;
  info.type = static_cast<std::uint32_t>(block.type);
  info.logicalPath = copyText(block.bstrLogicalPath);
  info.componentName = copyText(block.bstrComponentName);
  info.selectable = block.bSelectable != 0;
  info.fileCount = block.cFileCount;
  info.databaseCount = block.cDatabases;
  info.logFileCount = block.cLogFiles;
  return info;
}

class MetadataComponentAdapter final : public WriterMetadataComponent {
 public:
  explicit MetadataComponentAdapter(ComPtr<IVssWMComponent> component)
      : component_(std::move(component)) {}

  // The service's block stays alive behind info.block until it is handed back
  // with freeComponentInfo; on every other way out it goes back at once.
  Status getComponentInfo(ComponentInfo& info) override {
    PVSSCOMPONENTINFO block = nullptr;
    const HRESULT status = component_->GetComponentInfo(&block);
    if (failed(status)) {
      if (block != nullptr) component_->FreeComponentInfo(block);
      return status;
    }
    if (block == nullptr) return kNoDescription;
    try {
      info = describe(*block);
    } catch (...) {
      component_->FreeComponentInfo(block);
      throw;
    }
    info.block = const_cast<VSS_COMPONENTINFO*>(block);
    return status;
  }

  Status freeComponentInfo(ComponentInfo& info) override {
    if (info.block == nullptr) return S_OK;
    const auto block = static_cast<PVSSCOMPONENTINFO>(std::exchange(info.block, nullptr));
    return component_->FreeComponentInfo(block);
  }

  Status getFile(std::uint32_t index, std::unique_ptr<FileDescriptor>& file) override {
    ComPtr<IVssWMFiledesc> object;
    const HRESULT status = component_->GetFile(index, object.put());
    handOut<FileDescriptorAdapter>(object, file);
    return status;
  }

  Status getDatabaseFile(std::uint32_t index, std::unique_ptr<FileDescriptor>& file) override {
    ComPtr<IVssWMFiledesc> object;
    const HRESULT status = component_->GetDatabaseFile(index, object.put());
    handOut<FileDescriptorAdapter>(object, file);
    return status;
  }

  Status getDatabaseLogFile(std::uint32_t index, std::unique_ptr<FileDescriptor>& file) override {
    ComPtr<IVssWMFiledesc> object;
    const HRESULT status = component_->GetDatabaseLogFile(index, object.put());
    handOut<FileDescriptorAdapter>(object, file);
    return status;
  }

 private:
  ComPtr<IVssWMComponent> component_;
};

class WriterMetadataAdapter final : public WriterMetadata {
 public:
  explicit WriterMetadataAdapter(ComPtr<IVssExamineWriterMetadata> metadata)
      : metadata_(std::move(metadata)) {}

  Status getIdentity(WriterIdentity& identity) override {
    VSS_ID instance{};
    VSS_ID writerClass{};
    UniqueBstr name;
    VSS_USAGE_TYPE usage = VSS_UT_UNDEFINED;
    VSS_SOURCE_TYPE source = VSS_ST_UNDEFINED;
    const HRESULT status =
        metadata_->GetIdentity(&instance, &writerClass, name.put(), &usage, &source);
    if (!failed(status)) {
      identity = {fromWindows(instance), fromWindows(writerClass), copyText(name.get())};
    }
    return status;
  }

  Status getFileCounts(FileCounts& counts) override {
    UINT include = 0;
    UINT exclude = 0;
    UINT components = 0;
    const HRESULT status = metadata_->GetFileCounts(&include, &exclude, &components);
    if (!failed(status)) counts = {include, exclude, components};
    return status;
  }

  Status getExcludeFile(std::uint32_t index, std::unique_ptr<FileDescriptor>& file) override {
    ComPtr<IVssWMFiledesc> object;
    const HRESULT status = metadata_->GetExcludeFile(index, object.put());
    handOut<FileDescriptorAdapter>(object, file);
    return status;
  }

  Status getComponent(std::uint32_t index,
                      std::unique_ptr<WriterMetadataComponent>& component) override {
    ComPtr<IVssWMComponent> object;
    const HRESULT status = metadata_->GetComponent(index, object.put());
    handOut<MetadataComponentAdapter>(object, component);
    return status;
  }

 private:
  ComPtr<IVssExamineWriterMetadata> metadata_;
};

class ComponentEx2Adapter final : public ComponentEx2 {
 public:
  explicit ComponentEx2Adapter(ComPtr<IVssComponentEx2> component)
      : component_(std::move(component)) {}

  Status getFailure(ComponentFailure& failure) override {
    HRESULT hr = S_OK;
    HRESULT hrApplication = S_OK;
    UniqueBstr message;
    DWORD reserved = 0;
    const HRESULT status = component_->GetFailure(&hr, &hrApplication, message.put(), &reserved);
    if (!failed(status)) failure = {hr, hrApplication, copyText(message.get())};
    return status;
  }

 private:
  ComPtr<IVssComponentEx2> component_;
};

class ComponentAdapter final : public Component {
 public:
  explicit ComponentAdapter(ComPtr<IVssComponent> component) : component_(std::move(component)) {}

  Status getComponentName(std::u16string& name) override {
    UniqueBstr text;
    const HRESULT status = component_->GetComponentName(text.put());
    if (!failed(status)) name = copyText(text.get());
    return status;
  }

  Status queryComponentEx2(std::unique_ptr<ComponentEx2>& component) override {
    ComPtr<IVssComponentEx2> object;
    const HRESULT status = component_.query(object);
    handOut<ComponentEx2Adapter>(object, component);
    return status;
  }

 private:
  ComPtr<IVssComponent> component_;
};

class WriterComponentsAdapter final : public WriterComponents {
 public:
  explicit WriterComponentsAdapter(ComPtr<WriterComponentsExt> components)
      : components_(std::move(components)) {}

  Status getWriterInfo(Guid& instanceId, Guid& classId) override {
    VSS_ID instance{};
    VSS_ID writerClass{};
    const HRESULT status = components_->GetWriterInfo(&instance, &writerClass);
    if (!failed(status)) {
      instanceId = fromWindows(instance);
      classId = fromWindows(writerClass);
    }
    return status;
  }

  Status getComponentCount(std::uint32_t& count) override {
    UINT value = 0;
    const HRESULT status = components_->GetComponentCount(&value);
    if (!failed(status)) count = value;
    return status;
  }

  Status getComponent(std::uint32_t index, std::unique_ptr<Component>& component) override {
    ComPtr<IVssComponent> object;
    const HRESULT status = components_->GetComponent(index, object.put());
    handOut<ComponentAdapter>(object, component);
    return status;
  }

 private:
  ComPtr<WriterComponentsExt> components_;
};

class BackupComponentsAdapter final : public BackupComponents {
 public:
  explicit BackupComponentsAdapter(ComPtr<IVssBackupComponents> backup)
      : backup_(std::move(backup)) {}

  Status initializeForBackup() override { return backup_->InitializeForBackup(nullptr); }

  Status setBackupState(bool selectComponents, bool bootableSystemState, std::uint32_t backupType,
                        bool partialFileSupport) override {
    return backup_->SetBackupState(selectComponents, bootableSystemState,
                                   static_cast<VSS_BACKUP_TYPE>(backupType), partialFileSupport);
  }

  Status setContext(std::int32_t context) override { return backup_->SetContext(context); }

  Status enableWriterClasses(const std::vector<Guid>& classIds) override {
    std::vector<VSS_ID> ids;
    ids.reserve(classIds.size());
    for (const Guid& id : classIds) ids.push_back(toWindows(id));
    return backup_->EnableWriterClasses(ids.data(), static_cast<UINT>(ids.size()));
  }

  Status gatherWriterMetadata(std::unique_ptr<Async>& async) override {
    ComPtr<IVssAsync> object;
    const HRESULT status = backup_->GatherWriterMetadata(object.put());
    handOut<AsyncAdapter>(object, async);
    return status;
  }

  Status getWriterMetadataCount(std::uint32_t& count) override {
    UINT value = 0;
    const HRESULT status = backup_->GetWriterMetadataCount(&value);
    if (!failed(status)) count = value;
    return status;
  }

  Status getWriterMetadata(std::uint32_t index, Guid& instanceId,
                           std::unique_ptr<WriterMetadata>& metadata) override {
    VSS_ID instance{};
    ComPtr<IVssExamineWriterMetadata> object;
    const HRESULT status = backup_->GetWriterMetadata(index, &instance, object.put());
    if (!failed(status)) instanceId = fromWindows(instance);
    handOut<WriterMetadataAdapter>(object, metadata);
    return status;
  }

  Status addComponent(const Guid& instanceId, const Guid& classId, std::uint32_t componentType,
                      const std::u16string& logicalPath,
                      const std::u16string& componentName) override {
    return backup_->AddComponent(toWindows(instanceId), toWindows(classId),
                                 static_cast<VSS_COMPONENT_TYPE>(componentType), wide(logicalPath),
                                 wide(componentName));
  }

  Status setBackupSucceeded(const Guid& instanceId, const Guid& classId,
                            std::uint32_t componentType, const std::u16string& logicalPath,
                            const std::u16string& componentName, bool succeeded) override {
    return backup_->SetBackupSucceeded(toWindows(instanceId), toWindows(classId),
                                       static_cast<VSS_COMPONENT_TYPE>(componentType),
                                       wide(logicalPath), wide(componentName), succeeded);
  }

  Status startSnapshotSet(Guid& snapshotSetId) override {
    VSS_ID id{};
    const HRESULT status = backup_->StartSnapshotSet(&id);
    if (!failed(status)) snapshotSetId = fromWindows(id);
    return status;
  }

  Status addToSnapshotSet(const std::u16string& volumePath, const Guid& providerId,
                          Guid& snapshotId) override {
    VSS_ID id{};
    // The service only reads the name; the SDK declares it without const.
    const HRESULT status = backup_->AddToSnapshotSet(const_cast<wchar_t*>(wide(volumePath)),
                                                     toWindows(providerId), &id);
    if (!failed(status)) snapshotId = fromWindows(id);
    return status;
  }

  Status prepareForBackup(std::unique_ptr<Async>& async) override {
    ComPtr<IVssAsync> object;
    const HRESULT status = backup_->PrepareForBackup(object.put());
    handOut<AsyncAdapter>(object, async);
    return status;
  }

  Status doSnapshotSet(std::unique_ptr<Async>& async) override {
    ComPtr<IVssAsync> object;
    const HRESULT status = backup_->DoSnapshotSet(object.put());
    handOut<AsyncAdapter>(object, async);
    return status;
  }

  Status getSnapshotProperties(const Guid& snapshotId, std::u16string& deviceObject) override {
    UniqueSnapshotProperties properties;
    const HRESULT status = backup_->GetSnapshotProperties(toWindows(snapshotId), properties.put());
    if (!failed(status)) {
      const wchar_t* device = properties.get().m_pwszSnapshotDeviceObject;
      deviceObject = device != nullptr ? std::u16string(asUtf16(device)) : std::u16string();
    }
    return status;
  }

  Status gatherWriterStatus(std::unique_ptr<Async>& async) override {
    ComPtr<IVssAsync> object;
    const HRESULT status = backup_->GatherWriterStatus(object.put());
    handOut<AsyncAdapter>(object, async);
    return status;
  }

  Status getWriterStatusCount(std::uint32_t& count) override {
    UINT value = 0;
    const HRESULT status = backup_->GetWriterStatusCount(&value);
    if (!failed(status)) count = value;
    return status;
  }

  Status getWriterStatus(std::uint32_t index, WriterStatus& writerStatus) override {
    VSS_ID instance{};
    VSS_ID writerClass{};
    UniqueBstr name;
    VSS_WRITER_STATE state = VSS_WS_UNKNOWN;
    HRESULT failure = S_OK;
    const HRESULT status =
        backup_->GetWriterStatus(index, &instance, &writerClass, name.put(), &state, &failure);
    if (!failed(status)) {
      writerStatus = {fromWindows(instance), fromWindows(writerClass), copyText(name.get()),
                      static_cast<std::int32_t>(state), failure};
    }
    return status;
  }

  Status getWriterComponentsCount(std::uint32_t& count) override {
    UINT value = 0;
    const HRESULT status = backup_->GetWriterComponentsCount(&value);
    if (!failed(status)) count = value;
    return status;
  }

  Status getWriterComponents(std::uint32_t index,
                             std::unique_ptr<WriterComponents>& components) override {
    IVssWriterComponentsExt* handedOut = nullptr;
    const HRESULT status = backup_->GetWriterComponents(index, &handedOut);
    // The pointer is the object's first base; the declaration with the real
    // layout reaches its IUnknown from there.
    ComPtr<WriterComponentsExt> object(reinterpret_cast<WriterComponentsExt*>(handedOut));
    handOut<WriterComponentsAdapter>(object, components);
    return status;
  }

  Status backupComplete(std::unique_ptr<Async>& async) override {
    ComPtr<IVssAsync> object;
    const HRESULT status = backup_->BackupComplete(object.put());
    handOut<AsyncAdapter>(object, async);
    return status;
  }

 private:
  ComPtr<IVssBackupComponents> backup_;
};

}  // namespace

std::unique_ptr<BackupComponents> adaptBackupComponents(IVssBackupComponents* object) {
  ComPtr<IVssBackupComponents> owned(object);
  if (!owned) return nullptr;
  return std::make_unique<BackupComponentsAdapter>(std::move(owned));
}

}  // namespace frostcap::vss::com
