// The objects the backup-components face hands out: asynchronous
// operations, a writer's metadata with its components and file descriptors,
// and a writer's components in the backup, each a whole SDK interface over
// the model's object. They hand out what the service hands out: BSTRs,
// description blocks that only their own FreeComponentInfo takes back, and a
// writer-components object with the service's two-base layout.

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "simulator/com/faces.h"
#include "simulator/writer_objects.h"

namespace frostcap::simulator::com {
namespace {

class AsyncFace final : public Forwarding<IVssAsync, vss::Async> {
 public:
  AsyncFace(Run& run, std::unique_ptr<vss::Async> target)
      : Forwarding(run, "IVssAsync", std::move(target)) {}

  HRESULT STDMETHODCALLTYPE Cancel() override { return this->notPlayed(__func__); }

  HRESULT STDMETHODCALLTYPE Wait(DWORD milliseconds) override {
    return forward(__func__, [&]() -> HRESULT {
      // The model's operations are over when they start; a caller that
      // gives up waiting would not be on the real service.
      if (milliseconds != INFINITE) {
        run().misuse("Wait with a time-out of " + std::to_string(milliseconds) + " ms");
      }
      return target().wait();
    });
  }

  HRESULT STDMETHODCALLTYPE QueryStatus(HRESULT* result, INT*) override {
    return forward(__func__, [&]() -> HRESULT {
      if (result == nullptr) return E_POINTER;
      Status operation = 0;
      const Status status = target().queryStatus(operation);
      *result = operation;
      return status;
    });
  }
};

class FileDescriptorFace final : public Forwarding<IVssWMFiledesc, vss::FileDescriptor> {
 public:
  FileDescriptorFace(Run& run, std::unique_ptr<vss::FileDescriptor> target)
      : Forwarding(run, "IVssWMFiledesc", std::move(target)) {}

  HRESULT STDMETHODCALLTYPE GetPath(BSTR* path) override {
    return forward(__func__, [&]() -> HRESULT {
      if (path == nullptr) return E_POINTER;
      *path = nullptr;
      std::optional<std::u16string> value;
      const Status status = target().getPath(value);
      // No path at all and an empty path are different answers.
      if (!failed(status) && value) *path = string(*value);
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE GetFilespec(BSTR* filespec) override {
    return forward(__func__, [&]() -> HRESULT {
      if (filespec == nullptr) return E_POINTER;
      *filespec = nullptr;
      std::u16string value;
      const Status status = target().getFilespec(value);
      if (!failed(status)) *filespec = stringOrNone(value);
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE GetRecursive(boolean* recursive) override {
    return forward(__func__, [&]() -> HRESULT {
      if (recursive == nullptr) return E_POINTER;
      bool value = false;
      const Status status = target().getRecursive(value);
      if (!failed(status)) *recursive = value;
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE GetAlternateLocation(BSTR* location) override {
    return forward(__func__, [&]() -> HRESULT {
      if (location == nullptr) return E_POINTER;
      *location = nullptr;
      std::u16string value;
      const Status status = model().getAlternateLocation(value);
      if (!failed(status)) *location = stringOrNone(value);
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE GetBackupTypeMask(DWORD* mask) override {
    return forward(__func__, [&]() -> HRESULT {
      if (mask == nullptr) return E_POINTER;
      std::uint32_t value = 0;
      const Status status = model().getBackupTypeMask(value);
      if (!failed(status)) *mask = value;
      return status;
    });
  }

 private:
  // Every descriptor the model hands out is one of its own.
  ModelFileDescriptor& model() { return static_cast<ModelFileDescriptor&>(target()); }
};

// The three kinds of file a component lists, one model call each.
using FileGetter = Status (vss::WriterMetadataComponent::*)(std::uint32_t,
                                                            std::unique_ptr<vss::FileDescriptor>&);

class MetadataComponentFace final
    : public Forwarding<IVssWMComponent, vss::WriterMetadataComponent> {
 public:
  MetadataComponentFace(Run& run, std::unique_ptr<vss::WriterMetadataComponent> target)
      : Forwarding(run, "IVssWMComponent", std::move(target)) {}
  // Blocks never handed back are on the ledger already; their memory goes
  // with the object, at the end of the process.
  ~MetadataComponentFace() override {
    for (auto& [block, lease] : leases_) freeStrings(*lease.block);
  }

  HRESULT STDMETHODCALLTYPE GetComponentInfo(PVSSCOMPONENTINFO* info) override {
    return forward(__func__, [&]() -> HRESULT {
      if (info == nullptr) return E_POINTER;
      *info = nullptr;
      vss::ComponentInfo described;
      const Status status = target().getComponentInfo(described);
      if (failed(status)) return status;
      auto block = std::make_unique<VSS_COMPONENTINFO>();
      Lease lease{nullptr, described};
      block->type = static_cast<VSS_COMPONENT_TYPE>(described.type);
      block->bstrLogicalPath = stringOrNone(described.logicalPath);
      block->bstrComponentName = stringOrNone(described.componentName);
      block->bSelectable = described.selectable;
      block->cFileCount = described.fileCount;
      block->cDatabases = described.databaseCount;
      block->cLogFiles = described.logFileCount;
      lease.block = std::move(block);
      const PVSSCOMPONENTINFO handed = lease.block.get();
      leases_.emplace(handed, std::move(lease));
      run().componentInfoLent(1);
      *info = handed;
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE FreeComponentInfo(PVSSCOMPONENTINFO info) override {
    return forward(__func__, [&]() -> HRESULT {
      const auto lease = leases_.find(info);
      if (lease == leases_.end()) {
        run().misuse("FreeComponentInfo of a block this IVssWMComponent did not hand out");
        return E_INVALIDARG;
      }
      freeStrings(*lease->second.block);
      vss::ComponentInfo described = std::move(lease->second.described);
      leases_.erase(lease);
      run().componentInfoLent(-1);
      return target().freeComponentInfo(described);
    });
  }

  HRESULT STDMETHODCALLTYPE GetFile(UINT index, IVssWMFiledesc** file) override {
    return fileAt(__func__, &vss::WriterMetadataComponent::getFile, index, file);
  }
  HRESULT STDMETHODCALLTYPE GetDatabaseFile(UINT index, IVssWMFiledesc** file) override {
    return fileAt(__func__, &vss::WriterMetadataComponent::getDatabaseFile, index, file);
  }
  HRESULT STDMETHODCALLTYPE GetDatabaseLogFile(UINT index, IVssWMFiledesc** file) override {
    return fileAt(__func__, &vss::WriterMetadataComponent::getDatabaseLogFile, index, file);
  }

  HRESULT STDMETHODCALLTYPE GetDependency(UINT, IVssWMDependency**) override {
    return this->notPlayed(__func__);
  }

 private:
  struct Lease {
    std::unique_ptr<VSS_COMPONENTINFO> block;
    vss::ComponentInfo described;  // the model's own, handed back with the block
  };

  static void freeStrings(VSS_COMPONENTINFO& block) {
    SysFreeString(block.bstrLogicalPath);
    SysFreeString(block.bstrComponentName);
    block.bstrLogicalPath = nullptr;
    block.bstrComponentName = nullptr;
  }

  HRESULT fileAt(const char* call, FileGetter get, UINT index, IVssWMFiledesc** file) {
    return forward(call, [&]() -> HRESULT {
      if (file == nullptr) return E_POINTER;
      std::unique_ptr<vss::FileDescriptor> object;
      const Status status = (target().*get)(index, object);
      handOut<FileDescriptorFace>(run(), object, file);
      return status;
    });
  }

  std::map<PVSSCOMPONENTINFO, Lease> leases_;
};

class WriterMetadataFace final : public Forwarding<IVssExamineWriterMetadata, ModelWriterMetadata> {
 public:
  WriterMetadataFace(Run& run, std::unique_ptr<ModelWriterMetadata> target)
      : Forwarding(run, "IVssExamineWriterMetadata", std::move(target)) {}

  HRESULT STDMETHODCALLTYPE GetIdentity(VSS_ID* instanceId, VSS_ID* classId, BSTR* name,
                                        VSS_USAGE_TYPE* usage, VSS_SOURCE_TYPE* source) override {
    return forward(__func__, [&]() -> HRESULT {
      if (instanceId == nullptr || classId == nullptr || name == nullptr || usage == nullptr ||
          source == nullptr) {
        return E_POINTER;
      }
      *name = nullptr;
      vss::WriterIdentity identity;
      const Status status = target().getIdentity(identity);
      if (failed(status)) return status;
      *instanceId = toWindows(identity.instanceId);
      *classId = toWindows(identity.classId);
      *name = stringOrNone(identity.name);
      *usage = VSS_UT_USERDATA;
      *source = VSS_ST_OTHER;
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE GetFileCounts(UINT* include, UINT* exclude, UINT* components) override {
    return forward(__func__, [&]() -> HRESULT {
      if (include == nullptr || exclude == nullptr || components == nullptr) return E_POINTER;
      vss::FileCounts counts;
      const Status status = target().getFileCounts(counts);
      if (!failed(status)) {
        *include = counts.includeFiles;
        *exclude = counts.excludeFiles;
        *components = counts.components;
      }
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE GetIncludeFile(UINT, IVssWMFiledesc**) override {
    return this->notPlayed(__func__);
  }

  HRESULT STDMETHODCALLTYPE GetExcludeFile(UINT index, IVssWMFiledesc** file) override {
    return forward(__func__, [&]() -> HRESULT {
      if (file == nullptr) return E_POINTER;
      std::unique_ptr<vss::FileDescriptor> object;
      const Status status = target().getExcludeFile(index, object);
      handOut<FileDescriptorFace>(run(), object, file);
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE GetComponent(UINT index, IVssWMComponent** component) override {
    return forward(__func__, [&]() -> HRESULT {
      if (component == nullptr) return E_POINTER;
      std::unique_ptr<vss::WriterMetadataComponent> object;
      const Status status = target().getComponent(index, object);
      handOut<MetadataComponentFace>(run(), object, component);
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE GetRestoreMethod(VSS_RESTOREMETHOD_ENUM* method, BSTR* service,
                                             BSTR* userProcedure,
                                             VSS_WRITERRESTORE_ENUM* writerRestore,
                                             boolean* rebootRequired, UINT* mappings) override {
    return forward(__func__, [&]() -> HRESULT {
      if (method == nullptr || service == nullptr || userProcedure == nullptr ||
          writerRestore == nullptr || rebootRequired == nullptr || mappings == nullptr) {
        return E_INVALIDARG;
      }
      *service = nullptr;
      *userProcedure = nullptr;
      RestoreMethodSpec declared;
      std::uint32_t count = 0;
      const Status status = target().getRestoreMethod(declared, count);
      if (failed(status)) return status;
      *method = static_cast<VSS_RESTOREMETHOD_ENUM>(declared.method);
      *service = stringOrNone(declared.service);
      *userProcedure = stringOrNone(declared.userProcedure);
      *writerRestore = static_cast<VSS_WRITERRESTORE_ENUM>(declared.writerRestore);
      *rebootRequired = declared.rebootRequired;
      *mappings = count;
      return status;
    });
  }
  HRESULT STDMETHODCALLTYPE GetAlternateLocationMapping(UINT index,
                                                        IVssWMFiledesc** mapping) override {
    return forward(__func__, [&]() -> HRESULT {
      if (mapping == nullptr) return E_POINTER;
      std::unique_ptr<vss::FileDescriptor> object;
      const Status status = target().getAlternateLocationMapping(index, object);
      handOut<FileDescriptorFace>(run(), object, mapping);
      return status;
    });
  }
  HRESULT STDMETHODCALLTYPE GetBackupSchema(DWORD* schema) override {
    return forward(__func__, [&]() -> HRESULT {
      if (schema == nullptr) return E_POINTER;
      std::uint32_t value = 0;
      const Status status = target().getBackupSchema(value);
      if (!failed(status)) *schema = value;
      return status;
    });
  }
  HRESULT STDMETHODCALLTYPE GetDocument(IXMLDOMDocument**) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR* document) override {
    return documentOut(__func__, document,
                       [&](std::u16string& text) { return target().saveAsXml(text); });
  }
  HRESULT STDMETHODCALLTYPE LoadFromXML(BSTR) override { return this->notPlayed(__func__); }
};

// Every IVssComponent method as one the model does not play.
template <typename Interface, typename Seam>
class ComponentStubs : public Forwarding<Interface, Seam> {
 public:
  using Forwarding<Interface, Seam>::Forwarding;

  HRESULT STDMETHODCALLTYPE GetLogicalPath(BSTR*) override { return this->notPlayed(__func__); }
  HRESULT STDMETHODCALLTYPE GetComponentType(VSS_COMPONENT_TYPE*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetComponentName(BSTR*) override { return this->notPlayed(__func__); }
  HRESULT STDMETHODCALLTYPE GetBackupSucceeded(boolean*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetAlternateLocationMappingCount(UINT*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetAlternateLocationMapping(UINT, IVssWMFiledesc**) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE SetBackupMetadata(LPCWSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetBackupMetadata(BSTR*) override { return this->notPlayed(__func__); }
  HRESULT STDMETHODCALLTYPE AddPartialFile(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetPartialFileCount(UINT*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetPartialFile(UINT, BSTR*, BSTR*, BSTR*, BSTR*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE IsSelectedForRestore(boolean*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetAdditionalRestores(boolean*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetNewTargetCount(UINT*) override { return this->notPlayed(__func__); }
  HRESULT STDMETHODCALLTYPE GetNewTarget(UINT, IVssWMFiledesc**) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE AddDirectedTarget(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR,
                                              LPCWSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetDirectedTargetCount(UINT*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetDirectedTarget(UINT, BSTR*, BSTR*, BSTR*, BSTR*, BSTR*,
                                              BSTR*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE SetRestoreMetadata(LPCWSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetRestoreMetadata(BSTR*) override { return this->notPlayed(__func__); }
  HRESULT STDMETHODCALLTYPE SetRestoreTarget(VSS_RESTORE_TARGET) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetRestoreTarget(VSS_RESTORE_TARGET*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE SetPreRestoreFailureMsg(LPCWSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetPreRestoreFailureMsg(BSTR*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE SetPostRestoreFailureMsg(LPCWSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetPostRestoreFailureMsg(BSTR*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE SetBackupStamp(LPCWSTR) override { return this->notPlayed(__func__); }
  HRESULT STDMETHODCALLTYPE GetBackupStamp(BSTR*) override { return this->notPlayed(__func__); }
  HRESULT STDMETHODCALLTYPE GetPreviousBackupStamp(BSTR*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetBackupOptions(BSTR*) override { return this->notPlayed(__func__); }
  HRESULT STDMETHODCALLTYPE GetRestoreOptions(BSTR*) override { return this->notPlayed(__func__); }
  HRESULT STDMETHODCALLTYPE GetRestoreSubcomponentCount(UINT*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetRestoreSubcomponent(UINT, BSTR*, BSTR*, boolean*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetFileRestoreStatus(VSS_FILE_RESTORE_STATUS*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE AddDifferencedFilesByLastModifyTime(LPCWSTR, LPCWSTR, WINBOOL,
                                                                FILETIME) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE AddDifferencedFilesByLastModifyLSN(LPCWSTR, LPCWSTR, WINBOOL,
                                                               BSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetDifferencedFilesCount(UINT*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetDifferencedFile(UINT, BSTR*, BSTR*, WINBOOL*, BSTR*,
                                               FILETIME*) override {
    return this->notPlayed(__func__);
  }
};

// What a component answers to a query for IVssComponentEx2. The model makes
// a separate object for it, so the face hands out a tear-off of its own.
class ComponentEx2Face final : public ComponentStubs<IVssComponentEx2, vss::ComponentEx2> {
 public:
  ComponentEx2Face(Run& run, std::unique_ptr<vss::ComponentEx2> target)
      : ComponentStubs(run, "IVssComponentEx2", std::move(target)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == __uuidof(IVssComponentEx2) || iid == __uuidof(IVssComponentEx) ||
        iid == __uuidof(IVssComponent)) {
      return give(static_cast<IVssComponentEx2*>(this), object);
    }
    return ComponentStubs::QueryInterface(iid, object);
  }

  HRESULT STDMETHODCALLTYPE SetPrepareForBackupFailureMsg(LPCWSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE SetPostSnapshotFailureMsg(LPCWSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetPrepareForBackupFailureMsg(BSTR*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetPostSnapshotFailureMsg(BSTR*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetAuthoritativeRestore(boolean*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetRollForward(VSS_ROLLFORWARD_TYPE*, BSTR*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetRestoreName(BSTR*) override { return this->notPlayed(__func__); }
  HRESULT STDMETHODCALLTYPE SetFailure(HRESULT, HRESULT, LPCWSTR, DWORD) override {
    return this->notPlayed(__func__);
  }

  HRESULT STDMETHODCALLTYPE GetFailure(HRESULT* hr, HRESULT* hrApplication, BSTR* message,
                                       DWORD* reserved) override {
    return forward(__func__, [&]() -> HRESULT {
      if (hr == nullptr || hrApplication == nullptr || message == nullptr || reserved == nullptr) {
        return E_POINTER;
      }
      *message = nullptr;
      vss::ComponentFailure failure;
      const Status status = target().getFailure(failure);
      if (failed(status)) return status;
      *hr = failure.hr;
      *hrApplication = failure.hrApplication;
      *message = stringOrNone(failure.applicationMessage);
      *reserved = 0;
      return status;
    });
  }
};

class ComponentFace final : public ComponentStubs<IVssComponent, vss::Component> {
 public:
  ComponentFace(Run& run, std::unique_ptr<vss::Component> target)
      : ComponentStubs(run, "IVssComponent", std::move(target)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid != __uuidof(IVssComponentEx2)) return ComponentStubs::QueryInterface(iid, object);
    *object = nullptr;
    return forward(__func__, [&]() -> HRESULT {
      std::unique_ptr<vss::ComponentEx2> extended;
      const Status status = target().queryComponentEx2(extended);
      IVssComponentEx2* tearOff = nullptr;
      handOut<ComponentEx2Face>(run(), extended, &tearOff);
      *object = tearOff;
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE GetComponentName(BSTR* name) override {
    return forward(__func__, [&]() -> HRESULT {
      if (name == nullptr) return E_POINTER;
      *name = nullptr;
      std::u16string value;
      const Status status = target().getComponentName(value);
      if (!failed(status)) *name = stringOrNone(value);
      return status;
    });
  }
};

// The service's layout: IVssWriterComponents first, its IUnknown second.
class WriterComponentsFace final : public IVssWriterComponents, public IUnknown, public FaceObject {
 public:
  WriterComponentsFace(Run& run, std::unique_ptr<vss::WriterComponents> target)
      : FaceObject(run, "IVssWriterComponentsExt"), target_(std::move(target)) {}

  // The pointer GetWriterComponents hands out: the first base, as the service does.
  IVssWriterComponentsExt* handedOut() {
    return reinterpret_cast<IVssWriterComponentsExt*>(static_cast<IVssWriterComponents*>(this));
  }

  HRESULT STDMETHODCALLTYPE GetComponentCount(UINT* count) override {
    return forward(__func__, [&]() -> HRESULT {
      if (count == nullptr) return E_POINTER;
      std::uint32_t value = 0;
      const Status status = target_->getComponentCount(value);
      if (!failed(status)) *count = value;
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE GetWriterInfo(VSS_ID* instanceId, VSS_ID* classId) override {
    return forward(__func__, [&]() -> HRESULT {
      if (instanceId == nullptr || classId == nullptr) return E_POINTER;
      vss::Guid instance;
      vss::Guid writerClass;
      const Status status = target_->getWriterInfo(instance, writerClass);
      if (failed(status)) return status;
      *instanceId = toWindows(instance);
      *classId = toWindows(writerClass);
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE GetComponent(UINT index, IVssComponent** component) override {
    return forward(__func__, [&]() -> HRESULT {
      if (component == nullptr) return E_POINTER;
      std::unique_ptr<vss::Component> object;
      const Status status = target_->getComponent(index, object);
      handOut<ComponentFace>(run(), object, component);
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == __uuidof(IUnknown) && addReference() != 0) {
      *object = static_cast<IUnknown*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
  ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }

 private:
  void empty() noexcept override { target_.reset(); }

  std::unique_ptr<vss::WriterComponents> target_;
};

}  // namespace

IVssAsync* makeAsyncFace(Run& run, std::unique_ptr<vss::Async> async) {
  IVssAsync* face = nullptr;
  handOut<AsyncFace>(run, async, &face);
  return face;
}

IVssExamineWriterMetadata* makeWriterMetadataFace(Run& run,
                                                  std::unique_ptr<vss::WriterMetadata> metadata) {
  // Every writer metadata the model hands out is one of its own.
  std::unique_ptr<ModelWriterMetadata> model(static_cast<ModelWriterMetadata*>(metadata.release()));
  IVssExamineWriterMetadata* face = nullptr;
  handOut<WriterMetadataFace>(run, model, &face);
  return face;
}

IVssWriterComponentsExt* makeWriterComponentsFace(
    Run& run, std::unique_ptr<vss::WriterComponents> components) {
  if (!components) return nullptr;
  return run.make<WriterComponentsFace>(std::move(components))->handedOut();
}

}  // namespace frostcap::simulator::com
