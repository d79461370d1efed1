#include "com/com_shim.h"

#include <gtest/gtest.h>

#include <bit>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "com/task_allocations.h"

namespace frostcap::test::shim {
namespace {

class ShimObject;

struct Ledger {
  int objects = 0;
  int componentInfo = 0;
  std::vector<std::unique_ptr<ShimObject>> made;
};

Ledger& ledger() {
  static Ledger instance;
  return instance;
}

// Reference counting and the ledger entry shared by every shim object.
class ShimObject {
 public:
  ShimObject() { ++ledger().objects; }
  virtual ~ShimObject() = default;
  ShimObject(const ShimObject&) = delete;
  ShimObject& operator=(const ShimObject&) = delete;

 protected:
  ULONG addReference() {
    if (references_ == 0) {
      ADD_FAILURE() << "AddRef on a released " << name();
      return 0;
    }
    return ++references_;
  }

  ULONG releaseReference() {
    if (references_ == 0) {
      ADD_FAILURE() << "Release on a released " << name();
      return 0;
    }
    if (--references_ == 0) {
      --ledger().objects;
      empty();
    }
    return references_;
  }

  // True, with a test failure, when a call comes after the last Release.
  bool released(const char* call) const {
    if (references_ != 0) return false;
    ADD_FAILURE() << call << " on a released " << name();
    return true;
  }

  virtual const char* name() const = 0;
  // Lets go of the seam object behind the shim.
  virtual void empty() = 0;

 private:
  ULONG references_ = 1;
};

template <typename Shim, typename... Args>
Shim* make(Args&&... args) {
  auto shim = std::make_unique<Shim>(std::forward<Args>(args)...);
  Shim* object = shim.get();
  ledger().made.push_back(std::move(shim));
  return object;
}

GUID toWindows(const vss::Guid& id) { return std::bit_cast<GUID>(id); }
vss::Guid fromWindows(const GUID& id) { return std::bit_cast<vss::Guid>(id); }

std::u16string fromWide(const wchar_t* text) {
  return text != nullptr ? std::u16string(reinterpret_cast<const char16_t*>(text))
                         : std::u16string();
}

// Like the service, the shim gives no string at all for an empty text, which
// the library must read as empty.
BSTR stringOrNone(const std::u16string& text) {
  return text.empty() ? nullptr : allocateString(text);
}

// The IUnknown of a shim whose interface has a single IUnknown.
template <typename Interface, typename Seam>
class Forwarding : public Interface, public ShimObject {
 public:
  explicit Forwarding(std::unique_ptr<Seam> target) : target_(std::move(target)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == __uuidof(IUnknown)) return give(static_cast<IUnknown*>(this), object);
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
  ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }

 protected:
  HRESULT give(void* self, void** object) {
    addReference();
    *object = self;
    return S_OK;
  }
  void empty() override { target_.reset(); }
  Seam& target() { return *target_; }

 private:
  std::unique_ptr<Seam> target_;
};

template <typename Shim, typename Interface, typename Seam>
void handOut(std::unique_ptr<Seam>& object, Interface** out) {
  *out = object ? make<Shim>(std::move(object)) : nullptr;
}

class AsyncShim final : public Forwarding<IVssAsync, vss::Async> {
 public:
  using Forwarding::Forwarding;
  const char* name() const override { return "IVssAsync"; }

  HRESULT STDMETHODCALLTYPE Cancel() override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE Wait(DWORD milliseconds) override {
    if (released(__func__)) return E_UNEXPECTED;
    if (milliseconds != INFINITE) ADD_FAILURE() << "Wait with a time-out of " << milliseconds;
    return target().wait();
  }

  HRESULT STDMETHODCALLTYPE QueryStatus(HRESULT* result, INT*) override {
    if (released(__func__)) return E_UNEXPECTED;
    Status operation = 0;
    const Status status = target().queryStatus(operation);
    *result = operation;
    return status;
  }
};

class FileDescriptorShim final : public Forwarding<IVssWMFiledesc, vss::FileDescriptor> {
 public:
  using Forwarding::Forwarding;
  const char* name() const override { return "IVssWMFiledesc"; }

  HRESULT STDMETHODCALLTYPE GetPath(BSTR* path) override {
    *path = nullptr;
    if (released(__func__)) return E_UNEXPECTED;
    std::optional<std::u16string> value;
    const Status status = target().getPath(value);
    // No path at all and an empty path are different answers.
    if (!failed(status) && value) *path = allocateString(*value);
    return status;
  }

  HRESULT STDMETHODCALLTYPE GetFilespec(BSTR* filespec) override {
    *filespec = nullptr;
    if (released(__func__)) return E_UNEXPECTED;
    std::u16string value;
    const Status status = target().getFilespec(value);
    if (!failed(status)) *filespec = stringOrNone(value);
    return status;
  }

  HRESULT STDMETHODCALLTYPE GetRecursive(boolean* recursive) override {
    if (released(__func__)) return E_UNEXPECTED;
    bool value = false;
    const Status status = target().getRecursive(value);
    if (!failed(status)) *recursive = value;
    return status;
  }

  HRESULT STDMETHODCALLTYPE GetAlternateLocation(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBackupTypeMask(DWORD*) override { return E_NOTIMPL; }
};

class MetadataComponentShim final
    : public Forwarding<IVssWMComponent, vss::WriterMetadataComponent> {
 public:
  using Forwarding::Forwarding;
  ~MetadataComponentShim() override {
    for (auto& [block, lease] : leases_) freeStrings(*lease.block);
  }
  const char* name() const override { return "IVssWMComponent"; }

  HRESULT STDMETHODCALLTYPE GetComponentInfo(PVSSCOMPONENTINFO* info) override {
    *info = nullptr;
    if (released(__func__)) return E_UNEXPECTED;
    vss::ComponentInfo described;
    const Status status = target().getComponentInfo(described);
    if (failed(status)) return status;
    auto block = std::make_unique<VSS_COMPONENTINFO>();
    block->type = static_cast<VSS_COMPONENT_TYPE>(described.type);
    block->bstrLogicalPath = stringOrNone(described.logicalPath);
    block->bstrComponentName = stringOrNone(described.componentName);
    block->bSelectable = described.selectable;
    block->cFileCount = described.fileCount;
    block->cDatabases = described.databaseCount;
    block->cLogFiles = described.logFileCount;
    *info = block.get();
    leases_.emplace(*info, Lease{std::move(block), described});
    ++ledger().componentInfo;
    return status;
  }

  HRESULT STDMETHODCALLTYPE FreeComponentInfo(PVSSCOMPONENTINFO info) override {
    if (released(__func__)) return E_UNEXPECTED;
    const auto lease = leases_.find(info);
    if (lease == leases_.end()) {
      ADD_FAILURE() << "FreeComponentInfo of a block this component did not hand out";
      return E_INVALIDARG;
    }
    freeStrings(*lease->second.block);
    vss::ComponentInfo described = std::move(lease->second.described);
    leases_.erase(lease);
    --ledger().componentInfo;
    return target().freeComponentInfo(described);
  }

  HRESULT STDMETHODCALLTYPE GetFile(UINT index, IVssWMFiledesc** file) override {
    if (released(__func__)) return E_UNEXPECTED;
    std::unique_ptr<vss::FileDescriptor> object;
    const Status status = target().getFile(index, object);
    handOut<FileDescriptorShim>(object, file);
    return status;
  }

  HRESULT STDMETHODCALLTYPE GetDatabaseFile(UINT index, IVssWMFiledesc** file) override {
    if (released(__func__)) return E_UNEXPECTED;
    std::unique_ptr<vss::FileDescriptor> object;
    const Status status = target().getDatabaseFile(index, object);
    handOut<FileDescriptorShim>(object, file);
    return status;
  }

  HRESULT STDMETHODCALLTYPE GetDatabaseLogFile(UINT index, IVssWMFiledesc** file) override {
    if (released(__func__)) return E_UNEXPECTED;
    std::unique_ptr<vss::FileDescriptor> object;
    const Status status = target().getDatabaseLogFile(index, object);
    handOut<FileDescriptorShim>(object, file);
    return status;
  }

  HRESULT STDMETHODCALLTYPE GetDependency(UINT, IVssWMDependency**) override { return E_NOTIMPL; }

 private:
  struct Lease {
    std::unique_ptr<VSS_COMPONENTINFO> block;
    vss::ComponentInfo described;  // the seam's own, handed back with the block
  };

  static void freeStrings(VSS_COMPONENTINFO& block) {
    SysFreeString(block.bstrLogicalPath);
    SysFreeString(block.bstrComponentName);
  }

  std::map<PVSSCOMPONENTINFO, Lease> leases_;
};

class WriterMetadataShim final : public Forwarding<IVssExamineWriterMetadata, vss::WriterMetadata> {
 public:
  using Forwarding::Forwarding;
  const char* name() const override { return "IVssExamineWriterMetadata"; }

  HRESULT STDMETHODCALLTYPE GetIdentity(VSS_ID* instanceId, VSS_ID* classId, BSTR* name,
                                        VSS_USAGE_TYPE* usage, VSS_SOURCE_TYPE* source) override {
    *name = nullptr;
    if (released(__func__)) return E_UNEXPECTED;
    vss::WriterIdentity identity;
    const Status status = target().getIdentity(identity);
    if (failed(status)) return status;
    *instanceId = toWindows(identity.instanceId);
    *classId = toWindows(identity.classId);
    *name = stringOrNone(identity.name);
    *usage = VSS_UT_USERDATA;
    *source = VSS_ST_OTHER;
    return status;
  }

  HRESULT STDMETHODCALLTYPE GetFileCounts(UINT* include, UINT* exclude, UINT* components) override {
    if (released(__func__)) return E_UNEXPECTED;
    vss::FileCounts counts;
    const Status status = target().getFileCounts(counts);
    if (!failed(status)) {
      *include = counts.includeFiles;
      *exclude = counts.excludeFiles;
      *components = counts.components;
    }
    return status;
  }

  HRESULT STDMETHODCALLTYPE GetIncludeFile(UINT, IVssWMFiledesc**) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetExcludeFile(UINT index, IVssWMFiledesc** file) override {
    if (released(__func__)) return E_UNEXPECTED;
    std::unique_ptr<vss::FileDescriptor> object;
    const Status status = target().getExcludeFile(index, object);
    handOut<FileDescriptorShim>(object, file);
    return status;
  }

  HRESULT STDMETHODCALLTYPE GetComponent(UINT index, IVssWMComponent** component) override {
    if (released(__func__)) return E_UNEXPECTED;
    std::unique_ptr<vss::WriterMetadataComponent> object;
    const Status status = target().getComponent(index, object);
    handOut<MetadataComponentShim>(object, component);
    return status;
  }

  HRESULT STDMETHODCALLTYPE GetRestoreMethod(VSS_RESTOREMETHOD_ENUM*, BSTR*, BSTR*,
                                             VSS_WRITERRESTORE_ENUM*, boolean*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetAlternateLocationMapping(UINT, IVssWMFiledesc**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetBackupSchema(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDocument(IXMLDOMDocument**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LoadFromXML(BSTR) override { return E_NOTIMPL; }
};

// Every IVssComponent method as one the library never calls.
template <typename Interface, typename Seam>
class ComponentStubs : public Forwarding<Interface, Seam> {
 public:
  using Forwarding<Interface, Seam>::Forwarding;

  HRESULT STDMETHODCALLTYPE GetLogicalPath(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetComponentType(VSS_COMPONENT_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetComponentName(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBackupSucceeded(boolean*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAlternateLocationMappingCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAlternateLocationMapping(UINT, IVssWMFiledesc**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetBackupMetadata(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBackupMetadata(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddPartialFile(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetPartialFileCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPartialFile(UINT, BSTR*, BSTR*, BSTR*, BSTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE IsSelectedForRestore(boolean*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAdditionalRestores(boolean*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNewTargetCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNewTarget(UINT, IVssWMFiledesc**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddDirectedTarget(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR,
                                              LPCWSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDirectedTargetCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDirectedTarget(UINT, BSTR*, BSTR*, BSTR*, BSTR*, BSTR*,
                                              BSTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetRestoreMetadata(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRestoreMetadata(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetRestoreTarget(VSS_RESTORE_TARGET) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRestoreTarget(VSS_RESTORE_TARGET*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetPreRestoreFailureMsg(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPreRestoreFailureMsg(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetPostRestoreFailureMsg(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPostRestoreFailureMsg(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetBackupStamp(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBackupStamp(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPreviousBackupStamp(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBackupOptions(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRestoreOptions(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRestoreSubcomponentCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRestoreSubcomponent(UINT, BSTR*, BSTR*, boolean*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetFileRestoreStatus(VSS_FILE_RESTORE_STATUS*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE AddDifferencedFilesByLastModifyTime(LPCWSTR, LPCWSTR, WINBOOL,
                                                                FILETIME) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE AddDifferencedFilesByLastModifyLSN(LPCWSTR, LPCWSTR, WINBOOL,
                                                               BSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDifferencedFilesCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDifferencedFile(UINT, BSTR*, BSTR*, WINBOOL*, BSTR*,
                                               FILETIME*) override {
    return E_NOTIMPL;
  }
};

// What a component answers to a query for IVssComponentEx2. The fake makes a
// separate object for it, so the shim hands out a tear-off of its own.
class ComponentEx2Shim final : public ComponentStubs<IVssComponentEx2, vss::ComponentEx2> {
 public:
  using ComponentStubs::ComponentStubs;
  const char* name() const override { return "IVssComponentEx2"; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == __uuidof(IVssComponentEx2) || iid == __uuidof(IVssComponentEx) ||
        iid == __uuidof(IVssComponent)) {
      return give(static_cast<IVssComponentEx2*>(this), object);
    }
    return ComponentStubs::QueryInterface(iid, object);
  }

  HRESULT STDMETHODCALLTYPE SetPrepareForBackupFailureMsg(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetPostSnapshotFailureMsg(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPrepareForBackupFailureMsg(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPostSnapshotFailureMsg(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAuthoritativeRestore(boolean*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRollForward(VSS_ROLLFORWARD_TYPE*, BSTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetRestoreName(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetFailure(HRESULT, HRESULT, LPCWSTR, DWORD) override {
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE GetFailure(HRESULT* hr, HRESULT* hrApplication, BSTR* message,
                                       DWORD* reserved) override {
    *message = nullptr;
    if (released(__func__)) return E_UNEXPECTED;
    vss::ComponentFailure failure;
    const Status status = target().getFailure(failure);
    if (failed(status)) return status;
    *hr = failure.hr;
    *hrApplication = failure.hrApplication;
    *message = stringOrNone(failure.applicationMessage);
    *reserved = 0;
    return status;
  }
};

class ComponentShim final : public ComponentStubs<IVssComponent, vss::Component> {
 public:
  using ComponentStubs::ComponentStubs;
  const char* name() const override { return "IVssComponent"; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == __uuidof(IVssComponent)) return give(static_cast<IVssComponent*>(this), object);
    if (iid == __uuidof(IVssComponentEx2)) {
      *object = nullptr;
      if (released(__func__)) return E_UNEXPECTED;
      std::unique_ptr<vss::ComponentEx2> extended;
      const Status status = target().queryComponentEx2(extended);
      IVssComponentEx2* tearOff = nullptr;
      handOut<ComponentEx2Shim>(extended, &tearOff);
      *object = tearOff;
      return status;
    }
    return ComponentStubs::QueryInterface(iid, object);
  }

  HRESULT STDMETHODCALLTYPE GetComponentName(BSTR* name) override {
    *name = nullptr;
    if (released(__func__)) return E_UNEXPECTED;
    std::u16string value;
    const Status status = target().getComponentName(value);
    if (!failed(status)) *name = stringOrNone(value);
    return status;
  }
};

// The service's layout: IVssWriterComponents first, its IUnknown second.
class WriterComponentsShim final : public IVssWriterComponents, public IUnknown, public ShimObject {
 public:
  explicit WriterComponentsShim(std::unique_ptr<vss::WriterComponents> target)
      : target_(std::move(target)) {}
  const char* name() const override { return "IVssWriterComponentsExt"; }

  // The pointer GetWriterComponents hands out: the first base, as the service does.
  IVssWriterComponentsExt* handedOut() {
    return reinterpret_cast<IVssWriterComponentsExt*>(static_cast<IVssWriterComponents*>(this));
  }

  HRESULT STDMETHODCALLTYPE GetComponentCount(UINT* count) override {
    if (released(__func__)) return E_UNEXPECTED;
    std::uint32_t value = 0;
    const Status status = target_->getComponentCount(value);
    if (!failed(status)) *count = value;
    return status;
  }

  HRESULT STDMETHODCALLTYPE GetWriterInfo(VSS_ID* instanceId, VSS_ID* classId) override {
    if (released(__func__)) return E_UNEXPECTED;
    vss::Guid instance;
    vss::Guid writerClass;
    const Status status = target_->getWriterInfo(instance, writerClass);
    if (failed(status)) return status;
    *instanceId = toWindows(instance);
    *classId = toWindows(writerClass);
    return status;
  }

  HRESULT STDMETHODCALLTYPE GetComponent(UINT index, IVssComponent** component) override {
    if (released(__func__)) return E_UNEXPECTED;
    std::unique_ptr<vss::Component> object;
    const Status status = target_->getComponent(index, object);
    handOut<ComponentShim>(object, component);
    return status;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == __uuidof(IUnknown)) {
      addReference();
      *object = static_cast<IUnknown*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
  ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }

 private:
  void empty() override { target_.reset(); }

  std::unique_ptr<vss::WriterComponents> target_;
};

bool zeroed(const VSS_SNAPSHOT_PROP& properties) {
  return properties.m_pwszSnapshotDeviceObject == nullptr &&
         properties.m_pwszOriginalVolumeName == nullptr &&
         properties.m_pwszOriginatingMachine == nullptr &&
         properties.m_pwszServiceMachine == nullptr && properties.m_pwszExposedName == nullptr &&
         properties.m_pwszExposedPath == nullptr;
}

class BackupComponentsShim final : public Forwarding<IVssBackupComponents, vss::BackupComponents> {
 public:
  using Forwarding::Forwarding;
  const char* name() const override { return "IVssBackupComponents"; }

  HRESULT STDMETHODCALLTYPE GetWriterComponentsCount(UINT* count) override {
    if (released(__func__)) return E_UNEXPECTED;
    std::uint32_t value = 0;
    const Status status = target().getWriterComponentsCount(value);
    if (!failed(status)) *count = value;
    return status;
  }

  HRESULT STDMETHODCALLTYPE GetWriterComponents(UINT index,
                                                IVssWriterComponentsExt** components) override {
    *components = nullptr;
    if (released(__func__)) return E_UNEXPECTED;
    std::unique_ptr<vss::WriterComponents> object;
    const Status status = target().getWriterComponents(index, object);
    if (object) *components = make<WriterComponentsShim>(std::move(object))->handedOut();
    return status;
  }

  HRESULT STDMETHODCALLTYPE InitializeForBackup(BSTR document) override {
    if (released(__func__)) return E_UNEXPECTED;
    if (document != nullptr) ADD_FAILURE() << "InitializeForBackup with a document";
    return target().initializeForBackup();
  }

  HRESULT STDMETHODCALLTYPE SetBackupState(boolean selectComponents, boolean bootableSystemState,
                                           VSS_BACKUP_TYPE backupType,
                                           boolean partialFileSupport) override {
    if (released(__func__)) return E_UNEXPECTED;
    return target().setBackupState(selectComponents != 0, bootableSystemState != 0,
                                   static_cast<std::uint32_t>(backupType), partialFileSupport != 0);
  }

  HRESULT STDMETHODCALLTYPE InitializeForRestore(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetRestoreState(VSS_RESTORE_TYPE) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GatherWriterMetadata(IVssAsync** async) override {
    return startAsync(__func__, &vss::BackupComponents::gatherWriterMetadata, async);
  }

  HRESULT STDMETHODCALLTYPE GetWriterMetadataCount(UINT* count) override {
    if (released(__func__)) return E_UNEXPECTED;
    std::uint32_t value = 0;
    const Status status = target().getWriterMetadataCount(value);
    if (!failed(status)) *count = value;
    return status;
  }

  HRESULT STDMETHODCALLTYPE GetWriterMetadata(UINT index, VSS_ID* instanceId,
                                              IVssExamineWriterMetadata** metadata) override {
    *metadata = nullptr;
    if (released(__func__)) return E_UNEXPECTED;
    vss::Guid instance;
    std::unique_ptr<vss::WriterMetadata> object;
    const Status status = target().getWriterMetadata(index, instance, object);
    if (!failed(status)) *instanceId = toWindows(instance);
    handOut<WriterMetadataShim>(object, metadata);
    return status;
  }

  HRESULT STDMETHODCALLTYPE FreeWriterMetadata() override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE AddComponent(VSS_ID instanceId, VSS_ID writerId,
                                         VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                         LPCWSTR componentName) override {
    if (released(__func__)) return E_UNEXPECTED;
    return target().addComponent(fromWindows(instanceId), fromWindows(writerId),
                                 static_cast<std::uint32_t>(type), fromWide(logicalPath),
                                 fromWide(componentName));
  }

  HRESULT STDMETHODCALLTYPE PrepareForBackup(IVssAsync** async) override {
    return startAsync(__func__, &vss::BackupComponents::prepareForBackup, async);
  }

  HRESULT STDMETHODCALLTYPE AbortBackup() override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GatherWriterStatus(IVssAsync** async) override {
    return startAsync(__func__, &vss::BackupComponents::gatherWriterStatus, async);
  }

  HRESULT STDMETHODCALLTYPE GetWriterStatusCount(UINT* count) override {
    if (released(__func__)) return E_UNEXPECTED;
    std::uint32_t value = 0;
    const Status status = target().getWriterStatusCount(value);
    if (!failed(status)) *count = value;
    return status;
  }

  HRESULT STDMETHODCALLTYPE FreeWriterStatus() override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetWriterStatus(UINT index, VSS_ID* instanceId, VSS_ID* writerId,
                                            BSTR* writerName, VSS_WRITER_STATE* state,
                                            HRESULT* failure) override {
    *writerName = nullptr;
    if (released(__func__)) return E_UNEXPECTED;
    vss::WriterStatus writer;
    const Status status = target().getWriterStatus(index, writer);
    if (failed(status)) return status;
    *instanceId = toWindows(writer.instanceId);
    *writerId = toWindows(writer.classId);
    *writerName = stringOrNone(writer.name);
    *state = static_cast<VSS_WRITER_STATE>(writer.state);
    *failure = writer.failure;
    return status;
  }

  HRESULT STDMETHODCALLTYPE SetBackupSucceeded(VSS_ID instanceId, VSS_ID writerId,
                                               VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                               LPCWSTR componentName, boolean succeeded) override {
    if (released(__func__)) return E_UNEXPECTED;
    return target().setBackupSucceeded(fromWindows(instanceId), fromWindows(writerId),
                                       static_cast<std::uint32_t>(type), fromWide(logicalPath),
                                       fromWide(componentName), succeeded != 0);
  }

  HRESULT STDMETHODCALLTYPE SetBackupOptions(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                             LPCWSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetSelectedForRestore(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                  boolean) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetRestoreOptions(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                              LPCWSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetAdditionalRestores(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                  boolean) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetPreviousBackupStamp(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                   LPCWSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR*) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE BackupComplete(IVssAsync** async) override {
    return startAsync(__func__, &vss::BackupComponents::backupComplete, async);
  }

  HRESULT STDMETHODCALLTYPE AddAlternativeLocationMapping(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR,
                                                          LPCWSTR, LPCWSTR, LPCWSTR, boolean,
                                                          LPCWSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE AddRestoreSubcomponent(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                   LPCWSTR, LPCWSTR, boolean) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetFileRestoreStatus(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                 VSS_FILE_RESTORE_STATUS) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE AddNewTarget(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR,
                                         LPCWSTR, boolean, LPCWSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetRangesFilePath(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, UINT,
                                              LPCWSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE PreRestore(IVssAsync**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PostRestore(IVssAsync**) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE SetContext(LONG context) override {
    if (released(__func__)) return E_UNEXPECTED;
    return target().setContext(context);
  }

  HRESULT STDMETHODCALLTYPE StartSnapshotSet(VSS_ID* snapshotSetId) override {
    if (released(__func__)) return E_UNEXPECTED;
    vss::Guid id;
    const Status status = target().startSnapshotSet(id);
    if (!failed(status)) *snapshotSetId = toWindows(id);
    return status;
  }

  HRESULT STDMETHODCALLTYPE AddToSnapshotSet(VSS_PWSZ volumeName, VSS_ID providerId,
                                             VSS_ID* snapshotId) override {
    if (released(__func__)) return E_UNEXPECTED;
    vss::Guid id;
    const Status status =
        target().addToSnapshotSet(fromWide(volumeName), fromWindows(providerId), id);
    if (!failed(status)) *snapshotId = toWindows(id);
    return status;
  }

  HRESULT STDMETHODCALLTYPE DoSnapshotSet(IVssAsync** async) override {
    return startAsync(__func__, &vss::BackupComponents::doSnapshotSet, async);
  }

  HRESULT STDMETHODCALLTYPE DeleteSnapshots(VSS_ID, VSS_OBJECT_TYPE, WINBOOL, LONG*,
                                            VSS_ID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ImportSnapshots(IVssAsync**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BreakSnapshotSet(VSS_ID) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetSnapshotProperties(VSS_ID snapshotId,
                                                  VSS_SNAPSHOT_PROP* properties) override {
    if (released(__func__)) return E_UNEXPECTED;
    if (!zeroed(*properties)) ADD_FAILURE() << "GetSnapshotProperties into a record not zeroed";
    std::u16string device;
    const Status status = target().getSnapshotProperties(fromWindows(snapshotId), device);
    if (failed(status)) return status;
    properties->m_SnapshotId = snapshotId;
    properties->m_lSnapshotsCount = 1;
    properties->m_pwszSnapshotDeviceObject = device.empty() ? nullptr : allocateTaskString(device);
    // Strings the library does not read, which must be freed all the same.
    properties->m_pwszOriginalVolumeName =
        allocateTaskString(u"\\\\?\\Volume{00000000-0000-0000-0000-000000000001}\\");
    properties->m_pwszOriginatingMachine = allocateTaskString(u"host.example");
    properties->m_pwszServiceMachine = allocateTaskString(u"host.example");
    return status;
  }

  HRESULT STDMETHODCALLTYPE Query(VSS_ID, VSS_OBJECT_TYPE, VSS_OBJECT_TYPE,
                                  IVssEnumObject**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE IsVolumeSupported(VSS_ID, VSS_PWSZ, WINBOOL*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DisableWriterClasses(const VSS_ID*, UINT) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE EnableWriterClasses(const VSS_ID* classIds, UINT count) override {
    if (released(__func__)) return E_UNEXPECTED;
    std::vector<vss::Guid> ids;
    for (UINT i = 0; i < count; ++i) ids.push_back(fromWindows(classIds[i]));
    return target().enableWriterClasses(ids);
  }

  HRESULT STDMETHODCALLTYPE DisableWriterInstances(const VSS_ID*, UINT) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ExposeSnapshot(VSS_ID, VSS_PWSZ, LONG, VSS_PWSZ, VSS_PWSZ*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RevertToSnapshot(VSS_ID, WINBOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryRevertStatus(VSS_PWSZ, IVssAsync**) override { return E_NOTIMPL; }

 private:
  using StartCall = Status (vss::BackupComponents::*)(std::unique_ptr<vss::Async>&);

  HRESULT startAsync(const char* call, StartCall start, IVssAsync** async) {
    *async = nullptr;
    if (released(call)) return E_UNEXPECTED;
    std::unique_ptr<vss::Async> object;
    const Status status = (target().*start)(object);
    handOut<AsyncShim>(object, async);
    return status;
  }
};

}  // namespace

IVssBackupComponents* wrap(std::unique_ptr<vss::BackupComponents> service) {
  return make<BackupComponentsShim>(std::move(service));
}

Outstanding outstanding() {
  return {ledger().objects, ledger().componentInfo, outstandingAllocations()};
}

void endTest() {
  Ledger& current = ledger();
  current.made.clear();
  current.objects = 0;
  current.componentInfo = 0;
  forgetAllocations();
}

}  // namespace frostcap::test::shim
