// A requester written as backup applications write theirs: against the SDK's
// headers and the service's import library, with nothing of frostcap. Each
// subcommand plays one step of a typical requester, so that a test can run
// the steps one by one, each in a process of its own, and read the service's
// record after each. A call that fails is named with its HRESULT, so that a
// gap in the service shows as exactly that.
//
//   requester metadata                    every writer's metadata
//   requester backup [OPTION]... WRITER...  a snapshot with the writers of these names
//   requester no-writers [OPTION]...      a snapshot without writers
//   requester persistent [OPTION]...      a copy that outlives this process; prints its id
//   requester query ID                    exits 0 when the copy is listed, 3 when it is not
//   requester delete ID
//
// Options: --guid names the volume by the volume GUID path of C:\ instead of
// C:\; --save FILE writes the backup components document there; --exec LINE runs
// the command line LINE while the copy exists, with its device path in
// REQUESTER_DEVICE.

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>
// The SDK's headers build on one another in this order.
// clang-format off
#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

// What went wrong: a call and its answer, or, with S_OK, only the text.
struct Failure {
  std::wstring what;
  HRESULT status;
};

void check(HRESULT status, const std::wstring& call) {
  if (FAILED(status)) throw Failure{call, status};
}

// The service's writer-components object derives from IVssWriterComponents,
// which has no IUnknown, and then from IUnknown, one pointer further on.
// MinGW's header declares the first base only, so the release goes through
// this layout.
class WriterComponentsLayout : public IVssWriterComponents, public IUnknown {};
void release(IUnknown* object) { object->Release(); }
void release(IVssWriterComponentsExt* object) {
  static_cast<IUnknown*>(reinterpret_cast<WriterComponentsLayout*>(object))->Release();
}

// What owns something it frees at the end of its scope; never copied.
struct Owner {
  Owner() = default;
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;
};

template <typename Interface>
class Com : Owner {
 public:
  ~Com() {
    if (object_ != nullptr) release(object_);
  }
  Interface** put() { return &object_; }
  Interface* get() const { return object_; }
  Interface* operator->() const { return object_; }

 private:
  Interface* object_ = nullptr;
};

class Bstr : Owner {
 public:
  ~Bstr() { SysFreeString(text_); }
  BSTR* put() { return &text_; }
  std::wstring text() const { return text_ ? std::wstring(text_, SysStringLen(text_)) : L""; }

 private:
  BSTR text_ = nullptr;
};

// Snapshot properties the service filled in, their strings freed by its own
// function; and a handle of the system's.
struct FreeStrings {
  void operator()(VSS_SNAPSHOT_PROP* properties) const { VssFreeSnapshotProperties(properties); }
};
using SnapshotStrings = std::unique_ptr<VSS_SNAPSHOT_PROP, FreeStrings>;
using Handle = std::unique_ptr<void, decltype(&CloseHandle)>;

class ComponentInfo : Owner {
 public:
  explicit ComponentInfo(IVssWMComponent* component) : component_(component) {
    check(component->GetComponentInfo(&info_), L"IVssWMComponent::GetComponentInfo");
  }
  ~ComponentInfo() { component_->FreeComponentInfo(info_); }
  const VSS_COMPONENTINFO& operator*() const { return *info_; }

 private:
  IVssWMComponent* component_;
  PVSSCOMPONENTINFO info_ = nullptr;
};

class ComApartment : Owner {
 public:
  ComApartment() {
    check(CoInitializeEx(nullptr, COINIT_MULTITHREADED), L"CoInitializeEx");
    // Writers call back into the requester: let every one of them.
    const HRESULT security =
        CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_DYNAMIC_CLOAKING, nullptr);
    if (FAILED(security)) {
      CoUninitialize();
      throw Failure{L"CoInitializeSecurity", security};
    }
  }
  ~ComApartment() { CoUninitialize(); }
};

std::wstring text(const GUID& id) {
  wchar_t braced[39];
  StringFromGUID2(id, braced, 39);
  return braced;
}

VSS_ID parseId(const std::wstring& braced) {
  VSS_ID id{};
  check(CLSIDFromString(braced.c_str(), &id), L"CLSIDFromString(" + braced + L")");
  return id;
}

// Starts an asynchronous operation, waits for it and fails unless it finished.
template <typename Start>
void complete(const std::wstring& call, Start start) {
  Com<IVssAsync> async;
  check(start(async.put()), call);
  check(async->Wait(INFINITE), call + L" IVssAsync::Wait");
  HRESULT status = S_OK;
  check(async->QueryStatus(&status, nullptr), call + L" IVssAsync::QueryStatus");
  if (FAILED(status) || status == VSS_S_ASYNC_CANCELLED)
    throw Failure{call + L" (its result)", status};
}

Com<IVssBackupComponents>& initialise(Com<IVssBackupComponents>& vss, LONG context) {
  check(CreateVssBackupComponents(vss.put()), L"CreateVssBackupComponents");
  check(vss->InitializeForBackup(nullptr), L"InitializeForBackup");
  // The default context needs no call, and most requesters make none.
  if (context != VSS_CTX_BACKUP) check(vss->SetContext(context), L"SetContext");
  return vss;
}

// Describes the `count` file descriptors that `get` of `object` hands out.
template <typename Object>
void describeFiles(const wchar_t* role, Object* object,
                   HRESULT (STDMETHODCALLTYPE Object::*get)(UINT, IVssWMFiledesc**), UINT count) {
  for (UINT i = 0; i < count; ++i) {
    Com<IVssWMFiledesc> file;
    Bstr path, filespec, alternate;
    boolean recursive = 0;
    check((object->*get)(i, file.put()), std::wstring(L"get a descriptor: ") + role);
    check(file->GetPath(path.put()), L"IVssWMFiledesc::GetPath");
    check(file->GetFilespec(filespec.put()), L"IVssWMFiledesc::GetFilespec");
    check(file->GetRecursive(&recursive), L"IVssWMFiledesc::GetRecursive");
    check(file->GetAlternateLocation(alternate.put()), L"IVssWMFiledesc::GetAlternateLocation");
    wprintf(L"    %ls %ls %ls%ls alternate \"%ls\"\n", role, path.text().c_str(),
            filespec.text().c_str(), recursive ? L" recursive" : L"", alternate.text().c_str());
  }
}

struct Identity {
  explicit Identity(IVssExamineWriterMetadata* metadata) {
    VSS_USAGE_TYPE usage{};
    VSS_SOURCE_TYPE source{};
    check(metadata->GetIdentity(&instance, &writer, name.put(), &usage, &source), L"GetIdentity");
    check(metadata->GetFileCounts(&includes, &excludes, &components), L"GetFileCounts");
  }
  VSS_ID instance{}, writer{};
  Bstr name;
  UINT includes = 0, excludes = 0, components = 0;
};

// Each component of the writer, with its description.
template <typename Visit>
void forEachComponent(IVssExamineWriterMetadata* metadata, UINT components, Visit visit) {
  for (UINT c = 0; c < components; ++c) {
    Com<IVssWMComponent> component;
    check(metadata->GetComponent(c, component.put()), L"GetComponent");
    const ComponentInfo info(component.get());
    visit(component.get(), *info);
  }
}

void describeWriter(IVssExamineWriterMetadata* metadata) {
  const Identity identity(metadata);
  Bstr service, procedure, xml;
  VSS_RESTOREMETHOD_ENUM method{};
  VSS_WRITERRESTORE_ENUM restore{};
  boolean reboot = 0;
  UINT mappings = 0;
  DWORD schema = 0;
  check(metadata->GetRestoreMethod(&method, service.put(), procedure.put(), &restore, &reboot,
                                   &mappings),
        L"GetRestoreMethod");
  check(metadata->GetBackupSchema(&schema), L"GetBackupSchema");
  wprintf(
      L"writer \"%ls\" %ls restore method %d service \"%ls\" writer restore %d reboot %d "
      L"mappings %u schema 0x%lx\n",
      identity.name.text().c_str(), text(identity.writer).c_str(), method, service.text().c_str(),
      restore, reboot, mappings, schema);
  using Metadata = IVssExamineWriterMetadata;
  describeFiles(L"mapping", metadata, &Metadata::GetAlternateLocationMapping, mappings);
  describeFiles(L"excluded", metadata, &Metadata::GetExcludeFile, identity.excludes);
  forEachComponent(
      metadata, identity.components, [](IVssWMComponent* component, const VSS_COMPONENTINFO& info) {
        wprintf(L"  component type %d \"%ls\" \"%ls\"%ls\n", info.type,
                info.bstrLogicalPath ? info.bstrLogicalPath : L"", info.bstrComponentName,
                info.bSelectable ? L" selectable" : L"");
        describeFiles(L"file", component, &IVssWMComponent::GetFile, info.cFileCount);
        describeFiles(L"database", component, &IVssWMComponent::GetDatabaseFile, info.cDatabases);
        describeFiles(L"log", component, &IVssWMComponent::GetDatabaseLogFile, info.cLogFiles);
      });
  check(metadata->SaveAsXML(xml.put()), L"IVssExamineWriterMetadata::SaveAsXML");
  wprintf(L"  metadata document of %zu characters\n", xml.text().size());
}

// Every writer's metadata, each writer handed to the visitor.
template <typename Visit>
void gatherMetadata(IVssBackupComponents* vss, Visit visit) {
  complete(L"GatherWriterMetadata", [&](IVssAsync** a) { return vss->GatherWriterMetadata(a); });
  UINT writers = 0;
  check(vss->GetWriterMetadataCount(&writers), L"GetWriterMetadataCount");
  for (UINT w = 0; w < writers; ++w) {
    VSS_ID instance{};
    Com<IVssExamineWriterMetadata> metadata;
    check(vss->GetWriterMetadata(w, &instance, metadata.put()), L"GetWriterMetadata");
    visit(metadata.get());
  }
}

int listMetadata() {
  Com<IVssBackupComponents> vss;
  initialise(vss, VSS_CTX_BACKUP);
  check(vss->SetBackupState(true, false, VSS_BT_FULL, false), L"SetBackupState");
  gatherMetadata(vss.get(), describeWriter);
  check(vss->FreeWriterMetadata(), L"FreeWriterMetadata");
  return 0;
}

struct Selected {
  VSS_ID instance, writer;
  VSS_COMPONENT_TYPE type;
  std::wstring logicalPath, name;
};

// Adds every component of the writers of these names.
std::vector<Selected> selectWriters(IVssBackupComponents* vss, std::vector<std::wstring> names) {
  std::vector<Selected> selected;
  gatherMetadata(vss, [&](IVssExamineWriterMetadata* metadata) {
    const Identity identity(metadata);
    const auto wanted = std::find(names.begin(), names.end(), identity.name.text());
    if (wanted == names.end()) return;
    names.erase(wanted);
    forEachComponent(
        metadata, identity.components, [&](IVssWMComponent*, const VSS_COMPONENTINFO& info) {
          Selected s{identity.instance, identity.writer, info.type,
                     info.bstrLogicalPath ? info.bstrLogicalPath : L"", info.bstrComponentName};
          check(vss->AddComponent(s.instance, s.writer, s.type, s.logicalPath.c_str(),
                                  s.name.c_str()),
                L"AddComponent");
          selected.push_back(s);
        });
  });
  if (!names.empty()) throw Failure{L"no writer is named \"" + names.front() + L"\"", S_OK};
  return selected;
}

// Fails when a writer reports a failure, as a requester checks after each
// stage of a backup.
void checkWriters(IVssBackupComponents* vss, const std::wstring& stage) {
  complete(L"GatherWriterStatus", [&](IVssAsync** a) { return vss->GatherWriterStatus(a); });
  struct Free {
    IVssBackupComponents* vss;
    ~Free() { vss->FreeWriterStatus(); }
  } free{vss};
  UINT writers = 0;
  check(vss->GetWriterStatusCount(&writers), L"GetWriterStatusCount");
  for (UINT w = 0; w < writers; ++w) {
    VSS_ID instance{}, writer{};
    Bstr name;
    VSS_WRITER_STATE state{};
    HRESULT failure = S_OK;
    check(vss->GetWriterStatus(w, &instance, &writer, name.put(), &state, &failure),
          L"GetWriterStatus");
    if (state >= VSS_WS_FAILED_AT_IDENTIFY || FAILED(failure)) {
      throw Failure{L"writer \"" + name.text() + L"\" after " + stage + L", state " +
                        std::to_wstring(state) + L", failure",
                    failure};
    }
  }
}

// Lists every copy the object's context sees; whether the one asked for is among them.
bool listCopies(IVssBackupComponents* vss, const VSS_ID& wanted) {
  Com<IVssEnumObject> copies;
  const HRESULT query = vss->Query(GUID_NULL, VSS_OBJECT_NONE, VSS_OBJECT_SNAPSHOT, copies.put());
  check(query, L"Query");
  bool found = false;
  // One record for every copy, as the sample requester keeps it: the service
  // only writes it, so it need not be zeroed.
  VSS_OBJECT_PROP object;
  for (ULONG fetched = 0; query == S_OK;) {
    check(copies->Next(1, &object, &fetched), L"IVssEnumObject::Next");
    if (fetched == 0) break;
    VSS_SNAPSHOT_PROP& copy = object.Obj.Snap;
    const SnapshotStrings strings(&copy);
    wprintf(L"listed %ls of %ls on %ls at %ls attributes 0x%lx\n", text(copy.m_SnapshotId).c_str(),
            text(copy.m_SnapshotSetId).c_str(), copy.m_pwszOriginalVolumeName,
            copy.m_pwszSnapshotDeviceObject, copy.m_lSnapshotAttributes);
    found = found || IsEqualGUID(copy.m_SnapshotId, wanted);
  }
  return found;
}

struct Options {
  bool byGuid = false;
  std::wstring save, exec;
  std::vector<std::wstring> rest;
};

std::wstring volumeName(bool byGuid) {
  if (!byGuid) return L"C:\\";
  wchar_t name[MAX_PATH];
  if (!GetVolumeNameForVolumeMountPointW(L"C:\\", name, MAX_PATH)) {
    throw Failure{L"GetVolumeNameForVolumeMountPointW(C:\\)", HRESULT_FROM_WIN32(GetLastError())};
  }
  return name;
}

// Runs the command line while the copy exists; its exit code.
DWORD runWhileHeld(std::wstring line, const std::wstring& device) {
  SetEnvironmentVariableW(L"REQUESTER_DEVICE", device.c_str());
  fflush(stdout);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &started)) {
    throw Failure{L"CreateProcessW(" + line + L")", HRESULT_FROM_WIN32(GetLastError())};
  }
  const Handle process(started.hProcess, CloseHandle), thread(started.hThread, CloseHandle);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.get(), &code);
  wprintf(L"the command exited with %lu\n", code);
  return code;
}

// The backup components document, kept for the restore; in FILE if one is named.
void saveDocument(IVssBackupComponents* vss, const std::wstring& file) {
  Bstr xml;
  check(vss->SaveAsXML(xml.put()), L"SaveAsXML");
  if (file.empty()) return;
  const std::wstring document = L"\xFEFF" + xml.text();
  std::ofstream(file.c_str(), std::ios::binary)
      .write(reinterpret_cast<const char*>(document.data()),
             static_cast<std::streamsize>(document.size() * sizeof(wchar_t)));
}

// The components the backup components document holds, as the requester
// reads them back before reporting each one.
void listDocument(IVssBackupComponents* vss) {
  UINT writers = 0;
  check(vss->GetWriterComponentsCount(&writers), L"GetWriterComponentsCount");
  for (UINT w = 0; w < writers; ++w) {
    Com<IVssWriterComponentsExt> components;
    check(vss->GetWriterComponents(w, components.put()), L"GetWriterComponents");
    VSS_ID instance{}, writer{};
    UINT count = 0;
    check(components->GetWriterInfo(&instance, &writer), L"GetWriterInfo");
    check(components->GetComponentCount(&count), L"GetComponentCount");
    for (UINT c = 0; c < count; ++c) {
      Com<IVssComponent> component;
      Bstr name;
      check(components->GetComponent(c, component.put()), L"IVssWriterComponents::GetComponent");
      check(component->GetComponentName(name.put()), L"GetComponentName");
      wprintf(L"document: %ls \"%ls\"\n", text(writer).c_str(), name.text().c_str());
    }
  }
}

// Takes a snapshot of C:\ in the context, holds it while --exec runs, and
// for a context with writers selects them first and completes the backup
// after. A failure between the start of the set and the verdicts aborts the
// backup.
int snapshot(LONG context, const Options& options) {
  const bool writers = (context & VSS_VOLSNAP_ATTR_NO_WRITERS) == 0;
  Com<IVssBackupComponents> vss;
  initialise(vss, context);
  check(vss->SetBackupState(writers, false, VSS_BT_FULL, false), L"SetBackupState");
  const std::vector<Selected> selected =
      writers ? selectWriters(vss.get(), options.rest) : std::vector<Selected>{};
  VSS_ID set{}, copy{};
  bool succeeded = false;
  check(vss->StartSnapshotSet(&set), L"StartSnapshotSet");
  try {
    const std::wstring volume = volumeName(options.byGuid);
    check(vss->AddToSnapshotSet(const_cast<wchar_t*>(volume.c_str()), GUID_NULL, &copy),
          L"AddToSnapshotSet(" + volume + L")");
    if (writers) {
      complete(L"PrepareForBackup", [&](IVssAsync** a) { return vss->PrepareForBackup(a); });
      checkWriters(vss.get(), L"PrepareForBackup");
    }
    complete(L"DoSnapshotSet", [&](IVssAsync** a) { return vss->DoSnapshotSet(a); });
    if (writers) checkWriters(vss.get(), L"DoSnapshotSet");

    VSS_SNAPSHOT_PROP properties;  // written by the service, not zeroed
    check(vss->GetSnapshotProperties(copy, &properties), L"GetSnapshotProperties");
    const SnapshotStrings strings(&properties);
    // A provider may map no device; such a copy cannot be read.
    const std::wstring device =
        properties.m_pwszSnapshotDeviceObject ? properties.m_pwszSnapshotDeviceObject : L"";
    if (device.empty()) throw Failure{L"the new copy has no device path", S_OK};
    wprintf(L"copy %ls of %ls at %ls\n", text(copy).c_str(), properties.m_pwszOriginalVolumeName,
            device.c_str());
    if (!listCopies(vss.get(), copy)) throw Failure{L"Query does not list the new copy", S_OK};
    succeeded = options.exec.empty() || runWhileHeld(options.exec, device) == 0;
    if (writers) listDocument(vss.get());
  } catch (const Failure&) {
    vss->AbortBackup();
    throw;
  }
  // Each writer learns how its components fared, the command's failure included.
  if (writers) {
    for (const Selected& s : selected) {
      check(vss->SetBackupSucceeded(s.instance, s.writer, s.type, s.logicalPath.c_str(),
                                    s.name.c_str(), succeeded),
            L"SetBackupSucceeded");
    }
    complete(L"BackupComplete", [&](IVssAsync** a) { return vss->BackupComplete(a); });
    checkWriters(vss.get(), L"BackupComplete");
    saveDocument(vss.get(), options.save);
  }
  if (!succeeded) throw Failure{L"the command failed while the copy existed", S_OK};
  if (context & VSS_VOLSNAP_ATTR_PERSISTENT) wprintf(L"persistent copy %ls\n", text(copy).c_str());
  return 0;
}

void report(const Failure& failure, const wchar_t* after) {
  if (failure.status == S_OK) {
    fwprintf(stderr, L"requester: %ls%ls\n", failure.what.c_str(), after);
  } else {
    fwprintf(stderr, L"requester: %ls failed: 0x%08lX%ls\n", failure.what.c_str(),
             static_cast<unsigned long>(failure.status), after);
  }
}

// While another requester's set is under way the service asks to wait and
// try again; deployed requesters do, with a new object, a few times.
int snapshotWithRetries(LONG context, const Options& options) {
  for (int attempt = 1;; ++attempt) {
    try {
      return snapshot(context, options);
    } catch (const Failure& failure) {
      if (failure.status != VSS_E_SNAPSHOT_SET_IN_PROGRESS || attempt == 3) throw;
      report(failure, L"; trying again");
      Sleep(1000);
    }
  }
}

int query(const std::wstring& id) {
  Com<IVssBackupComponents> vss;
  return listCopies(initialise(vss, VSS_CTX_ALL).get(), parseId(id)) ? 0 : 3;
}

int remove(const std::wstring& id) {
  Com<IVssBackupComponents> vss;
  LONG deleted = 0;
  VSS_ID left{};
  check(initialise(vss, VSS_CTX_ALL)
            ->DeleteSnapshots(parseId(id), VSS_OBJECT_SNAPSHOT, TRUE, &deleted, &left),
        L"DeleteSnapshots");
  wprintf(L"deleted %ld copy(ies)\n", deleted);
  return 0;
}

int run(const std::wstring& step, const Options& options) {
  const ComApartment com;
  if (step == L"metadata") return listMetadata();
  if (step == L"backup") return snapshotWithRetries(VSS_CTX_BACKUP, options);
  if (step == L"no-writers") return snapshotWithRetries(VSS_CTX_FILE_SHARE_BACKUP, options);
  if (step == L"persistent") return snapshotWithRetries(VSS_CTX_CLIENT_ACCESSIBLE, options);
  if (step == L"query" && options.rest.size() == 1) return query(options.rest[0]);
  if (step == L"delete" && options.rest.size() == 1) return remove(options.rest[0]);
  fwprintf(stderr, L"requester: unknown step or missing id: %ls\n", step.c_str());
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fwprintf(stderr, L"usage: requester metadata|backup|no-writers|persistent|query|delete ...\n");
    return 2;
  }
  Options options;
  for (int i = 2; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (argument == L"--guid") {
      options.byGuid = true;
    } else if ((argument == L"--save" || argument == L"--exec") && i + 1 < argc) {
      (argument == L"--save" ? options.save : options.exec) = argv[++i];
    } else {
      options.rest.push_back(argument);
    }
  }
  try {
    return run(argv[1], options);
  } catch (const Failure& failure) {
    report(failure, L"");
    return 1;
  }
}
