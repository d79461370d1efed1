// The backup-components object of the model's COM face: the whole
// IVssBackupComponents interface over the model's object. It forwards what
// the model plays and answers E_NOTIMPL to the rest. Snapshot properties come
// out in task memory, as the service's do, and only
// VssFreeSnapshotPropertiesInternal takes them back.

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "simulator/com/faces.h"

namespace frostcap::simulator::com {
namespace {

// Properties handed out and not yet freed, by the one string of theirs that
// the face always fills, with the run whose ledger they are on.
struct LentProperties {
  std::mutex mutex;
  std::map<const wchar_t*, Run*> lent;
  Run* lastRun = nullptr;  // where a record the face never filled is reported
};

// Never destroyed: hosts may free properties until the very end of the process.
LentProperties& lentProperties() {
  static LentProperties* instance = new LentProperties;
  return *instance;
}

constexpr std::u16string_view kMachine = u"host.example";

bool zeroed(const VSS_SNAPSHOT_PROP& properties) {
  return properties.m_pwszSnapshotDeviceObject == nullptr &&
         properties.m_pwszOriginalVolumeName == nullptr &&
         properties.m_pwszOriginatingMachine == nullptr &&
         properties.m_pwszServiceMachine == nullptr && properties.m_pwszExposedName == nullptr &&
         properties.m_pwszExposedPath == nullptr;
}

std::vector<VSS_PWSZ*> stringsOf(VSS_SNAPSHOT_PROP& properties) {
  return {&properties.m_pwszSnapshotDeviceObject, &properties.m_pwszOriginalVolumeName,
          &properties.m_pwszOriginatingMachine,   &properties.m_pwszServiceMachine,
          &properties.m_pwszExposedName,          &properties.m_pwszExposedPath};
}

class BackupComponentsFace final : public Forwarding<IVssBackupComponents, ModelBackupComponents> {
 public:
  BackupComponentsFace(Run& run, std::unique_ptr<ModelBackupComponents> target)
      : Forwarding(run, "IVssBackupComponents", std::move(target)) {
    run.backupHeld(1);
  }

  HRESULT STDMETHODCALLTYPE GetWriterComponentsCount(UINT* count) override {
    return countOf(__func__, &ModelBackupComponents::getWriterComponentsCount, count);
  }

  HRESULT STDMETHODCALLTYPE GetWriterComponents(UINT index,
                                                IVssWriterComponentsExt** components) override {
    return forward(__func__, [&]() -> HRESULT {
      if (components == nullptr) return E_POINTER;
      *components = nullptr;
      std::unique_ptr<vss::WriterComponents> object;
      const Status status = target().getWriterComponents(index, object);
      *components = makeWriterComponentsFace(run(), std::move(object));
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE InitializeForBackup(BSTR document) override {
    return forward(__func__, [&]() -> HRESULT {
      if (document == nullptr) return target().initializeForBackup();
      return target().initializeFromDocument(
          std::u16string(reinterpret_cast<const char16_t*>(document), SysStringLen(document)));
    });
  }

  HRESULT STDMETHODCALLTYPE SetBackupState(boolean selectComponents, boolean bootableSystemState,
                                           VSS_BACKUP_TYPE backupType,
                                           boolean partialFileSupport) override {
    return forward(__func__, [&]() -> HRESULT {
      return target().setBackupState(selectComponents != 0, bootableSystemState != 0,
                                     static_cast<std::uint32_t>(backupType),
                                     partialFileSupport != 0);
    });
  }

  HRESULT STDMETHODCALLTYPE InitializeForRestore(BSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE SetRestoreState(VSS_RESTORE_TYPE) override {
    return this->notPlayed(__func__);
  }

  HRESULT STDMETHODCALLTYPE GatherWriterMetadata(IVssAsync** async) override {
    return startAsync(__func__, &ModelBackupComponents::gatherWriterMetadata, async);
  }

  HRESULT STDMETHODCALLTYPE GetWriterMetadataCount(UINT* count) override {
    return countOf(__func__, &ModelBackupComponents::getWriterMetadataCount, count);
  }

  HRESULT STDMETHODCALLTYPE GetWriterMetadata(UINT index, VSS_ID* instanceId,
                                              IVssExamineWriterMetadata** metadata) override {
    return forward(__func__, [&]() -> HRESULT {
      if (instanceId == nullptr || metadata == nullptr) return E_POINTER;
      *metadata = nullptr;
      vss::Guid instance;
      std::unique_ptr<vss::WriterMetadata> object;
      const Status status = target().getWriterMetadata(index, instance, object);
      if (!failed(status)) *instanceId = toWindows(instance);
      *metadata = makeWriterMetadataFace(run(), std::move(object));
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE FreeWriterMetadata() override {
    return forward(__func__, [&]() -> HRESULT { return target().freeWriterMetadata(); });
  }

  HRESULT STDMETHODCALLTYPE AddComponent(VSS_ID instanceId, VSS_ID writerId,
                                         VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                         LPCWSTR componentName) override {
    return forward(__func__, [&]() -> HRESULT {
      return target().addComponent(fromWindows(instanceId), fromWindows(writerId),
                                   static_cast<std::uint32_t>(type), fromWide(logicalPath),
                                   fromWide(componentName));
    });
  }

  HRESULT STDMETHODCALLTYPE PrepareForBackup(IVssAsync** async) override {
    return startAsync(__func__, &ModelBackupComponents::prepareForBackup, async);
  }

  HRESULT STDMETHODCALLTYPE AbortBackup() override {
    return forward(__func__, [&]() -> HRESULT { return target().abortBackup(); });
  }

  HRESULT STDMETHODCALLTYPE GatherWriterStatus(IVssAsync** async) override {
    return startAsync(__func__, &ModelBackupComponents::gatherWriterStatus, async);
  }

  HRESULT STDMETHODCALLTYPE GetWriterStatusCount(UINT* count) override {
    return countOf(__func__, &ModelBackupComponents::getWriterStatusCount, count);
  }

  HRESULT STDMETHODCALLTYPE FreeWriterStatus() override {
    return forward(__func__, [&]() -> HRESULT { return target().freeWriterStatus(); });
  }

  HRESULT STDMETHODCALLTYPE GetWriterStatus(UINT index, VSS_ID* instanceId, VSS_ID* writerId,
                                            BSTR* writerName, VSS_WRITER_STATE* state,
                                            HRESULT* failure) override {
    return forward(__func__, [&]() -> HRESULT {
      if (instanceId == nullptr || writerId == nullptr || writerName == nullptr ||
          state == nullptr || failure == nullptr) {
        return E_POINTER;
      }
      *writerName = nullptr;
      vss::WriterStatus writer;
      const Status status = target().getWriterStatus(index, writer);
      if (failed(status)) return status;
      *instanceId = toWindows(writer.instanceId);
      *writerId = toWindows(writer.classId);
      *writerName = stringOrNone(writer.name);
      *state = static_cast<VSS_WRITER_STATE>(writer.state);
      *failure = writer.failure;
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE SetBackupSucceeded(VSS_ID instanceId, VSS_ID writerId,
                                               VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                               LPCWSTR componentName, boolean succeeded) override {
    return forward(__func__, [&]() -> HRESULT {
      return target().setBackupSucceeded(fromWindows(instanceId), fromWindows(writerId),
                                         static_cast<std::uint32_t>(type), fromWide(logicalPath),
                                         fromWide(componentName), succeeded != 0);
    });
  }

  HRESULT STDMETHODCALLTYPE SetBackupOptions(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                             LPCWSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE SetSelectedForRestore(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                  boolean) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE SetRestoreOptions(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                              LPCWSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE SetAdditionalRestores(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                  boolean) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE SetPreviousBackupStamp(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                   LPCWSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR* document) override {
    return documentOut(__func__, document,
                       [&](std::u16string& text) { return target().saveAsXml(text); });
  }

  HRESULT STDMETHODCALLTYPE BackupComplete(IVssAsync** async) override {
    return startAsync(__func__, &ModelBackupComponents::backupComplete, async);
  }

  HRESULT STDMETHODCALLTYPE AddAlternativeLocationMapping(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR,
                                                          LPCWSTR, LPCWSTR, LPCWSTR, boolean,
                                                          LPCWSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE AddRestoreSubcomponent(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                   LPCWSTR, LPCWSTR, boolean) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE SetFileRestoreStatus(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                 VSS_FILE_RESTORE_STATUS) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE AddNewTarget(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR,
                                         LPCWSTR, boolean, LPCWSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE SetRangesFilePath(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, UINT,
                                              LPCWSTR) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE PreRestore(IVssAsync**) override { return this->notPlayed(__func__); }
  HRESULT STDMETHODCALLTYPE PostRestore(IVssAsync**) override { return this->notPlayed(__func__); }

  HRESULT STDMETHODCALLTYPE SetContext(LONG context) override {
    return forward(__func__, [&]() -> HRESULT { return target().setContext(context); });
  }

  HRESULT STDMETHODCALLTYPE StartSnapshotSet(VSS_ID* snapshotSetId) override {
    return forward(__func__, [&]() -> HRESULT {
      if (snapshotSetId == nullptr) return E_POINTER;
      vss::Guid id;
      const Status status = target().startSnapshotSet(id);
      if (!failed(status)) *snapshotSetId = toWindows(id);
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE AddToSnapshotSet(VSS_PWSZ volumeName, VSS_ID providerId,
                                             VSS_ID* snapshotId) override {
    return forward(__func__, [&]() -> HRESULT {
      if (snapshotId == nullptr) return E_POINTER;
      vss::Guid id;
      const Status status =
          target().addToSnapshotSet(fromWide(volumeName), fromWindows(providerId), id);
      if (!failed(status)) *snapshotId = toWindows(id);
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE DoSnapshotSet(IVssAsync** async) override {
    return startAsync(__func__, &ModelBackupComponents::doSnapshotSet, async);
  }

  HRESULT STDMETHODCALLTYPE DeleteSnapshots(VSS_ID sourceId, VSS_OBJECT_TYPE sourceType,
                                            WINBOOL force, LONG* deleted,
                                            VSS_ID* notDeleted) override {
    return forward(__func__, [&]() -> HRESULT {
      if (deleted == nullptr || notDeleted == nullptr) return E_INVALIDARG;
      std::int32_t count = 0;
      vss::Guid kept;
      const Status status =
          target().deleteSnapshots(fromWindows(sourceId), static_cast<std::uint32_t>(sourceType),
                                   force != FALSE, count, kept);
      *deleted = count;
      *notDeleted = toWindows(kept);
      return status;
    });
  }
  HRESULT STDMETHODCALLTYPE ImportSnapshots(IVssAsync**) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE BreakSnapshotSet(VSS_ID) override { return this->notPlayed(__func__); }

  HRESULT STDMETHODCALLTYPE GetSnapshotProperties(VSS_ID snapshotId,
                                                  VSS_SNAPSHOT_PROP* properties) override {
    return forward(__func__, [&]() -> HRESULT {
      if (properties == nullptr) return E_POINTER;
      // The service only writes the record: what it held before is the
      // caller's, as in Microsoft's sample requester, which passes one
      // uninitialised.
      SnapshotProperties described;
      const Status status = target().snapshotProperties(fromWindows(snapshotId), described);
      if (failed(status)) return status;
      fillSnapshotProperties(run(), *properties, described);
      return status;
    });
  }

  HRESULT STDMETHODCALLTYPE Query(VSS_ID queriedId, VSS_OBJECT_TYPE queriedType,
                                  VSS_OBJECT_TYPE returnedType, IVssEnumObject** found) override {
    return forward(__func__, [&]() -> HRESULT {
      if (found == nullptr) return E_INVALIDARG;
      *found = nullptr;
      std::vector<SnapshotProperties> snapshots;
      const Status status =
          target().query(fromWindows(queriedId), static_cast<std::uint32_t>(queriedType),
                         static_cast<std::uint32_t>(returnedType), snapshots);
      if (failed(status)) return status;
      *found = makeEnumFace(run(), returnedType == VSS_OBJECT_PROVIDER, std::move(snapshots));
      return status;
    });
  }
  HRESULT STDMETHODCALLTYPE IsVolumeSupported(VSS_ID providerId, VSS_PWSZ volume,
                                              WINBOOL* supported) override {
    return forward(__func__, [&]() -> HRESULT {
      if (supported == nullptr) return E_INVALIDARG;
      bool answer = false;
      const Status status =
          target().isVolumeSupported(fromWindows(providerId), fromWide(volume), answer);
      *supported = answer ? TRUE : FALSE;
      return status;
    });
  }
  HRESULT STDMETHODCALLTYPE DisableWriterClasses(const VSS_ID* classIds, UINT count) override {
    return writerIds(__func__, &ModelBackupComponents::disableWriterClasses, classIds, count);
  }

  HRESULT STDMETHODCALLTYPE EnableWriterClasses(const VSS_ID* classIds, UINT count) override {
    return writerIds(__func__, &ModelBackupComponents::enableWriterClasses, classIds, count);
  }

  HRESULT STDMETHODCALLTYPE DisableWriterInstances(const VSS_ID* instanceIds, UINT count) override {
    return writerIds(__func__, &ModelBackupComponents::disableWriterInstances, instanceIds, count);
  }
  HRESULT STDMETHODCALLTYPE ExposeSnapshot(VSS_ID, VSS_PWSZ, LONG, VSS_PWSZ, VSS_PWSZ*) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE RevertToSnapshot(VSS_ID, WINBOOL) override {
    return this->notPlayed(__func__);
  }
  HRESULT STDMETHODCALLTYPE QueryRevertStatus(VSS_PWSZ, IVssAsync**) override {
    return this->notPlayed(__func__);
  }

 private:
  using StartCall = Status (ModelBackupComponents::*)(std::unique_ptr<vss::Async>&);
  using CountCall = Status (ModelBackupComponents::*)(std::uint32_t&);
  using IdsCall = Status (ModelBackupComponents::*)(const std::vector<vss::Guid>&);

  HRESULT writerIds(const char* call, IdsCall pass, const VSS_ID* ids, UINT count) {
    return forward(call, [&]() -> HRESULT {
      if (ids == nullptr && count != 0) return E_INVALIDARG;
      std::vector<vss::Guid> list;
      for (UINT i = 0; i < count; ++i) list.push_back(fromWindows(ids[i]));
      return (target().*pass)(list);
    });
  }

  // The model's object goes first, which ends its shadow copies and records
  // its release; then the run draws up its ledger if it was the last.
  void empty() noexcept override {
    Forwarding::empty();
    run().backupHeld(-1);
  }

  HRESULT startAsync(const char* call, StartCall start, IVssAsync** async) {
    return forward(call, [&]() -> HRESULT {
      if (async == nullptr) return E_POINTER;
      *async = nullptr;
      std::unique_ptr<vss::Async> object;
      const Status status = (target().*start)(object);
      *async = makeAsyncFace(run(), std::move(object));
      return status;
    });
  }

  HRESULT countOf(const char* call, CountCall get, UINT* count) {
    return forward(call, [&]() -> HRESULT {
      if (count == nullptr) return E_POINTER;
      std::uint32_t value = 0;
      const Status status = (target().*get)(value);
      if (!failed(status)) *count = value;
      return status;
    });
  }
};

}  // namespace

void fillSnapshotProperties(Run& run, VSS_SNAPSHOT_PROP& properties,
                            const SnapshotProperties& described) {
  VSS_SNAPSHOT_PROP filled{};
  try {
    filled.m_SnapshotId = toWindows(described.id);
    filled.m_SnapshotSetId = toWindows(described.setId);
    filled.m_lSnapshotsCount = described.setCount;
    filled.m_eStatus = VSS_SS_CREATED;
    filled.m_ProviderId = kSystemProvider;
    filled.m_lSnapshotAttributes = described.attributes;
    filled.m_tsCreationTimestamp = described.created;
    filled.m_pwszSnapshotDeviceObject =
        described.device.empty() ? nullptr : allocateTaskString(&run, described.device);
    filled.m_pwszOriginalVolumeName = allocateTaskString(&run, described.volumeName);
    filled.m_pwszOriginatingMachine = allocateTaskString(&run, kMachine);
    filled.m_pwszServiceMachine = allocateTaskString(&run, kMachine);
    LentProperties& lent = lentProperties();
    const std::lock_guard lock(lent.mutex);
    lent.lent.emplace(filled.m_pwszOriginalVolumeName, &run);
  } catch (...) {
    for (VSS_PWSZ* text : stringsOf(filled)) CoTaskMemFree(*text);
    throw;
  }
  run.snapshotPropertiesLent(1);
  properties = filled;
}

IVssBackupComponents* makeBackupComponentsFace(Run& run,
                                               std::unique_ptr<ModelBackupComponents> model) {
  if (!model) return nullptr;
  {
    LentProperties& lent = lentProperties();
    const std::lock_guard lock(lent.mutex);
    lent.lastRun = &run;
  }
  return run.make<BackupComponentsFace>(std::move(model));
}

void freeSnapshotProperties(VSS_SNAPSHOT_PROP* properties) noexcept {
  if (properties == nullptr || zeroed(*properties)) return;
  LentProperties& lent = lentProperties();
  Run* owner = nullptr;
  Run* lastRun = nullptr;
  {
    const std::lock_guard lock(lent.mutex);
    lastRun = lent.lastRun;
    const auto found = lent.lent.find(properties->m_pwszOriginalVolumeName);
    if (found != lent.lent.end()) {
      owner = found->second;
      lent.lent.erase(found);
    }
  }
  if (owner == nullptr) {
    // Freeing strings of unknown origin would corrupt the task allocator.
    if (lastRun != nullptr) {
      lastRun->misuse("VssFreeSnapshotPropertiesInternal of properties not handed out");
    }
    return;
  }
  for (VSS_PWSZ* text : stringsOf(*properties)) {
    CoTaskMemFree(*text);
    *text = nullptr;
  }
  owner->snapshotPropertiesLent(-1);
}

}  // namespace frostcap::simulator::com
