// The shipped frostcap.dll over the model's vssapi.dll, as an unmodified host
// meets them: the DLL loaded with LoadLibraryW from beside the program, each
// function found by name (tests/checks/exports.cmake checks the export table);
// scenario files named in the environment, and the record read back. It ends
// every backup with the model's ledger, which must balance: every COM object,
// description block, snapshot properties and string handed back.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <oleauto.h>
#include <winver.h>
// The SDK's headers build on one another in this order.
// clang-format off
#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "frostcap.h"

namespace frostcap::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::PrintToString;

std::wstring besideThisProgram(const wchar_t* file) {
  std::wstring path(32768, L'\0');  // the longest path Windows has
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.find_last_of(L'\\') + 1) + file;
}

template <typename Function>
Function* resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A function of frostcap.dll, loaded once from beside this program, found by
// name and typed by its declaration in the header.
HMODULE library() {
  static const HMODULE loaded = LoadLibraryW(besideThisProgram(L"frostcap.dll").c_str());
  return loaded;
}
#define FROSTCAP_DLL(name) resolve<decltype(frostcap_##name)>(library(), "frostcap_" #name)

// Every text a queue holds, each of the length the library gives.
std::vector<std::wstring> drain(frostcap_snapshot* handle,
                                const frostcap_char* (*next)(frostcap_snapshot*, size_t*)) {
  std::vector<std::wstring> texts;
  size_t length = 0;
  for (const wchar_t* text = next(handle, &length); length != 0; text = next(handle, &length)) {
    texts.emplace_back(text, length);
  }
  return texts;
}

const std::string kBalanced = "Ledger(objects=0,componentInfo=0,snapshotProperties=0,strings=0)";
const wchar_t* const kMailWriter = L"{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}";
const wchar_t* const kDocumentWriter = L"{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}";

struct Entry {
  std::string call;
  std::string text;
};

fs::path examples() { return fs::absolute(FROSTCAP_EXAMPLES_DIR); }

// The bundled example as JSON, its volume named by an absolute path so that
// the scenario can be written anywhere.
json exampleScenario() {
  json scenario = json::parse(std::ifstream(examples() / "two-writers.json"));
  const std::u8string volume = (examples() / "volume").u8string();
  scenario["volumes"][0]["directory"] = std::string(volume.begin(), volume.end());
  return scenario;
}

// A scenario and a record file of their own, in a fresh folder, named in
// the environment the model reads. New names make the model start a new run.
class ModelFiles {
 public:
  // The scenario as given, or the bundled example's file when it is null.
  explicit ModelFiles(const json& scenario = nullptr) {
    static std::atomic<int> counter{0};
    folder_ = fs::temp_directory_path() / ("frostcap-com-" + std::to_string(GetCurrentProcessId()) +
                                           "-" + std::to_string(counter++));
    fs::create_directories(folder_);
    fs::path scenarioFile = examples() / "two-writers.json";
    if (!scenario.is_null()) {
      scenarioFile = folder_ / "scenario.json";
      std::ofstream(scenarioFile) << scenario.dump();
    }
    SetEnvironmentVariableW(L"FROSTCAP_SIM_SCENARIO", scenarioFile.c_str());
    SetEnvironmentVariableW(L"FROSTCAP_SIM_RECORD", (folder_ / "record.jsonl").c_str());
  }
  ~ModelFiles() {
    SetEnvironmentVariableW(L"FROSTCAP_SIM_SCENARIO", nullptr);
    SetEnvironmentVariableW(L"FROSTCAP_SIM_RECORD", nullptr);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  ModelFiles(const ModelFiles&) = delete;
  ModelFiles& operator=(const ModelFiles&) = delete;

  const fs::path& folder() const { return folder_; }

  std::vector<Entry> record() const {
    std::vector<Entry> entries;
    std::ifstream in(folder_ / "record.jsonl");
    for (std::string line; std::getline(in, line);) {
      const json entry = json::parse(line);
      entries.push_back({entry["call"], entry["text"]});
    }
    return entries;
  }

  std::vector<std::string> texts(const std::string& call) const {
    std::vector<std::string> found;
    for (const Entry& entry : record()) {
      if (entry.call == call) found.push_back(entry.text);
    }
    return found;
  }

 private:
  fs::path folder_;
};

struct Outcome {
  int prepared = 1;
  int taken = 1;
  std::vector<std::wstring> mountPaths, catalogue, files, excluded, messages;
};

// The example's backup as scripts/run-example.sh takes it: volume C:\, the
// mail store's database and the documents, catalogue and files listed while
// the shadow copy exists, then freed with the verdict the perform calls earn.
Outcome backUpExample() {
  Outcome outcome;
  FROSTCAP_DLL(library_init)();
  frostcap_snapshot* handle = FROSTCAP_DLL(snapshot_new)();
  FROSTCAP_DLL(snapshot_addVolumePath)(handle, L"C:\\");
  FROSTCAP_DLL(snapshot_addWriter)(handle, kMailWriter);
  FROSTCAP_DLL(snapshot_addWriter)(handle, kDocumentWriter);
  const auto addDatabase = FROSTCAP_DLL(snapshot_addWriterDatabaseComponentFallback);
  const auto addFilegroup = FROSTCAP_DLL(snapshot_addWriterFilegroupComponentFallback);
  addDatabase(handle, kMailWriter, L"Mail", L"Mailbox Database", L"");
  addFilegroup(handle, kDocumentWriter, L"", L"Documents", L"");
  outcome.prepared = FROSTCAP_DLL(snapshot_perform_a)(handle);
  if (outcome.prepared == 0) outcome.taken = FROSTCAP_DLL(snapshot_perform_b)(handle);
  outcome.mountPaths = drain(handle, FROSTCAP_DLL(snapshot_getNextMountPath));
  FROSTCAP_DLL(snapshot_loadWriterComponents)(handle);
  outcome.catalogue = drain(handle, FROSTCAP_DLL(snapshot_getNextWriterComponent));
  FROSTCAP_DLL(snapshot_loadWriterFileInfo)(handle);
  outcome.files = drain(handle, FROSTCAP_DLL(snapshot_getNextWriterFileInfo));
  outcome.excluded = drain(handle, FROSTCAP_DLL(snapshot_getNextWriterExcludedFileInfo));
  outcome.messages = drain(handle, FROSTCAP_DLL(snapshot_getNextMessage));
  FROSTCAP_DLL(snapshot_free)(handle, outcome.taken == 0 ? 1 : 0);
  return outcome;
}

bool anyContains(const std::vector<std::wstring>& texts, const std::wstring& part) {
  return std::any_of(texts.begin(), texts.end(),
                     [&](const std::wstring& text) { return text.find(part) != text.npos; });
}

TEST(ModelExample, TakesItsSnapshotListsWhatItHoldsAndHandsEverythingBack) {
  ModelFiles files;
  const Outcome outcome = backUpExample();
  ASSERT_EQ(outcome.taken, 0) << PrintToString(outcome.messages);
  EXPECT_EQ(outcome.mountPaths,
            std::vector<std::wstring>{L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\"});
  const std::vector<std::wstring> catalogue = {
      L"# Found 2 writer(s) to interrogate", L"# Writer 0 has 1 component(s)",
      L"[\"{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}\",\"Mail\",\"Mailbox "
      L"Database\",\"VSS_CT_DATABASE\",true]",
      L"# Writer 1 has 1 component(s)",
      L"[\"{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}\",\"\",\"Documents\",\"VSS_CT_FILEGROUP\",true]"};
  EXPECT_EQ(outcome.catalogue, catalogue);
  // Found only once the model places its shadow copies where Wine resolves
  // the device path (\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN\):
  // until then the search finds nothing and lists the patterns themselves.
  EXPECT_EQ(std::set(outcome.files.begin(), outcome.files.end()),
            (std::set<std::wstring>{
                L"C:\\Data\\Mail\\Logs\\E00.chk", L"C:\\Data\\Mail\\public.edb",
                L"C:\\Data\\Mail\\mailbox.edb", L"C:\\Data\\Mail\\Logs\\E00000001.log",
                L"C:\\Data\\Mail\\Logs\\E00000002.log", L"C:\\Documents\\Reports",
                L"C:\\Documents\\~lock.tmp", L"C:\\Documents\\Temp", L"C:\\Documents\\notes.txt",
                L"C:\\Documents\\budget.csv"}));
  EXPECT_EQ(outcome.excluded, (std::vector<std::wstring>{L"C:\\Documents\\Temp\\notes.autosave.tmp",
                                                         L"C:\\Documents\\~lock.tmp"}));

  // The model was told the host's verdict for both components, and the
  // backup ended with everything handed back.
  std::vector<std::string> verdicts = files.texts("SetBackupSucceeded");
  for (std::string& verdict : verdicts) verdict.erase(0, verdict.rfind(','));
  EXPECT_EQ(verdicts, (std::vector<std::string>{",true)", ",true)"}));
  const std::vector<Entry> record = files.record();
  ASSERT_GE(record.size(), 2u);
  EXPECT_EQ(record[record.size() - 2].call, "Release");
  EXPECT_EQ(record.back().text, kBalanced);
  EXPECT_EQ(files.texts("Misuse"), std::vector<std::string>{});
}

// Texts with embedded NULs and missing texts, a descriptor without a path
// and one with an empty path, and a writer that fails in part: its
// components' failures reach the host through the writer-components object,
// which must be released through its own IUnknown for the ledger to balance.
TEST(ModelExample, CarriesEveryTextAndReleasesWhatAPartialFailureHandsOut) {
  using namespace std::string_literals;
  json scenario = exampleScenario();
  json& mail = scenario["writers"][0];
  mail["name"] = "Mail\0Store"s;
  mail["status"] = "0x80042336";  // VSS_E_WRITERERROR_PARTIAL_FAILURE
  mail["failedComponents"] = {
      {{"name", "Mailbox Database"}, {"status", "0x80042301"}, {"message", "Disk\0full"s}},
      {{"name", "Archive"}, {"applicationStatus", "0x8007000E"}}};
  json& documents = scenario["writers"][1];
  documents["components"].push_back({{"type", "filegroup"}, {"name", "Two\0Parts"s}});
  documents["excludes"] = {{{"path", nullptr}, {"filespec", "none-such.*"}},
                           {{"path", ""}, {"filespec", "none-such.*"}}};
  ModelFiles files(scenario);
  const Outcome outcome = backUpExample();

  EXPECT_EQ(outcome.prepared, 0);
  EXPECT_EQ(outcome.taken, 1);
  EXPECT_TRUE(anyContains(
      outcome.catalogue,
      L"[\"{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}\",\"\",\"Two\\u0000Parts\",\"VSS_CT_FILEGROUP\""))
      << PrintToString(outcome.catalogue);
  // Only the empty path names a place to look; nothing is there.
  EXPECT_EQ(outcome.excluded, std::vector<std::wstring>{L"none-such.*"});
  const std::vector<std::wstring> expected = {
      L"{ERR_COMPONENT_VSS}: (Mailbox Database): 0x80042301: ",
      L"{ERR_COMPONENT_CUST}: (Mailbox Database): Disk\0full"s,
      L"{ERR_COMPONENT_APP}: (Archive): 0x8007000e: ",
      L"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} (IVssBackupComponents::GetWriterStatus(Mail\0Store): "
      L"0x80042336: "s};
  ASSERT_EQ(outcome.messages.size(), expected.size()) << PrintToString(outcome.messages);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(outcome.messages[i].substr(0, expected[i].size()), expected[i]) << i;
  }
  EXPECT_EQ(files.texts("Ledger"), std::vector{kBalanced});
}

// Every call of the example's backup fails in turn, and so does the outcome of
// every asynchronous operation: whatever fails, the host hands back everything
// it got from the model and misuses nothing. Some answers are followed to the
// host too: statuses reach it unchanged, and success codes do not fail it.
TEST(ModelFaults, EveryCallOfTheExampleFailsAndTheLedgerBalances) {
  struct Planned {
    std::string call, status;
    const wchar_t* shown = nullptr;  // in a message; "" for a backup that succeeds
    int occurrence = 1;
  };
  std::vector<Planned> planned = {
      {"SetContext", "0x80042301", L"IVssBackupComponents::SetContext: 0x80042301: "},
      {"DoSnapshotSet.Result", "0x8004230F", L"IVssBackupComponents::DoSnapshotSet: 0x8004230f: "},
      {"GetSnapshotProperties", "0x8007000E",
       L"IVssBackupComponents::GetSnapshotProperties: 0x8007000e: "},
      {"GetComponentInfo", "0x80049999", L"IVssWMComponent::GetComponentInfo: 0x80049999: "},
      {"SetContext", "0x00000001", L""},
      {"GetSnapshotProperties", "0x00000001", L""},
      {"GetComponentInfo", "0x00042309", L""},
  };
  const std::size_t followed = planned.size();
  {
    ModelFiles files(exampleScenario());
    ASSERT_EQ(backUpExample().taken, 0);
    const std::set<std::string> kAsynchronous = {"GatherWriterMetadata", "PrepareForBackup",
                                                 "DoSnapshotSet", "GatherWriterStatus",
                                                 "BackupComplete"};
    // Only calls can fail; the record's notes say something about them.
    const std::set<std::string> kNotes = {"Release", "Ledger", "Assumption", "Breach", "Misuse"};
    const std::string kUnexpected = "0x80042302";  // VSS_E_UNEXPECTED
    std::map<std::string, int> occurrences;
    for (const Entry& entry : files.record()) {
      if (kNotes.count(entry.call) != 0 || entry.call.ends_with(".Result")) continue;
      const int occurrence = ++occurrences[entry.call];
      planned.push_back({entry.call, kUnexpected, nullptr, occurrence});
      if (kAsynchronous.count(entry.call) != 0) {
        planned.push_back({entry.call + ".Result", kUnexpected, nullptr, occurrence});
      }
    }
  }
  ASSERT_GT(planned.size() - followed, 50u);
  for (const Planned& p : planned) {
    SCOPED_TRACE(p.call + " answers " + p.status + " at " + std::to_string(p.occurrence));
    json scenario = exampleScenario();
    scenario["faults"] = {{{"call", p.call}, {"status", p.status}, {"occurrence", p.occurrence}}};
    ModelFiles files(scenario);
    const Outcome outcome = backUpExample();
    if (p.shown != nullptr && *p.shown == L'\0') {
      EXPECT_EQ(outcome.taken, 0) << PrintToString(outcome.messages);
    } else if (p.shown != nullptr) {
      EXPECT_TRUE(anyContains(outcome.messages, p.shown)) << PrintToString(outcome.messages);
    }
    EXPECT_EQ(files.texts("Ledger"), std::vector{kBalanced});
    EXPECT_EQ(files.texts("Misuse"), std::vector<std::string>{});
  }
}

// Without a scenario it can use, the model refuses to make the backup with a
// status of the system's, and says why in its record. (The system's text for
// a status is pinned down by the status tests.)
TEST(LoadedLibrary, ReportsAModelWithoutAUsableScenario) {
  const struct {
    const char* scenario;  // the file's text, "" for a missing file, null for none named
    const wchar_t* status;
    const char* reason;
  } kCases[] = {
      {nullptr, L"0x800700cb", "FROSTCAP_SIM_SCENARIO names no scenario file"},
      {"", L"0x80070002", "scenario.json: cannot be read"},
      {"{\"volumes\": [", L"0x8007000d", "scenario.json:1:"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.reason);
    ModelFiles files;
    const fs::path scenario = files.folder() / "scenario.json";
    if (c.scenario != nullptr && *c.scenario != '\0') std::ofstream(scenario) << c.scenario;
    SetEnvironmentVariableW(L"FROSTCAP_SIM_SCENARIO", c.scenario ? scenario.c_str() : nullptr);
    const Outcome outcome = backUpExample();
    EXPECT_EQ(outcome.prepared, 1);
    ASSERT_FALSE(outcome.messages.empty());
    const std::wstring& message = outcome.messages[0];
    EXPECT_TRUE(
        message.starts_with(L"{FATAL_PREFIX}{ERR_INIT_VSS} (" + std::wstring(c.status) + L": ") &&
        message.ends_with(L")") && !message.ends_with(L": )") && !message.ends_with(L"\n)"))
        << PrintToString(message);
    const std::vector<std::string> why = files.texts("Scenario");
    ASSERT_FALSE(why.empty());
    EXPECT_NE(why[0].find(c.reason), std::string::npos) << why[0];
  }
}

TEST(LoadedLibrary, CarriesTheVersionHostsCompileAgainst) {
  const std::wstring path = besideThisProgram(L"frostcap.dll");
  DWORD ignored = 0;
  std::vector<unsigned char> data(GetFileVersionInfoSizeW(path.c_str(), &ignored));
  ASSERT_FALSE(data.empty()) << "no version resource";
  ASSERT_NE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()), 0);
  VS_FIXEDFILEINFO* fixed = nullptr;
  wchar_t* text = nullptr;
  UINT size = 0;
  ASSERT_NE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &size), 0);
  ASSERT_NE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                           reinterpret_cast<void**>(&text), &size),
            0);
  const DWORD high = MAKELONG(FROSTCAP_VERSION_MINOR, FROSTCAP_VERSION_MAJOR);
  const DWORD low = MAKELONG(0, FROSTCAP_VERSION_PATCH);
  EXPECT_EQ(
      (std::vector<DWORD>{fixed->dwFileVersionMS, fixed->dwFileVersionLS, fixed->dwProductVersionMS,
                          fixed->dwProductVersionLS, fixed->dwFileType}),
      (std::vector<DWORD>{high, low, high, low, VFT_DLL}));
  EXPECT_EQ(std::wstring(text), std::wstring(L"" FROSTCAP_VERSION));
}

// The functions of the model's vssapi.dll, found by name as a requester's
// import table finds them.
struct ModelDll {
  HMODULE module = LoadLibraryW(besideThisProgram(L"vssapi.dll").c_str());
#define FROSTCAP_VSSAPI(name) decltype(::name)* name = resolve<decltype(::name)>(module, #name)
  FROSTCAP_VSSAPI(CreateVssBackupComponentsInternal);
  FROSTCAP_VSSAPI(VssFreeSnapshotPropertiesInternal);
  FROSTCAP_VSSAPI(CreateVssExamineWriterMetadataInternal);
  FROSTCAP_VSSAPI(IsVolumeSnapshottedInternal);
  FROSTCAP_VSSAPI(ShouldBlockRevertInternal);
  FROSTCAP_VSSAPI(GetProviderMgmtInterfaceInternal);
#undef FROSTCAP_VSSAPI

  // Every function the SDK's requester headers import from the service's DLL.
  bool complete() const {
    return CreateVssBackupComponentsInternal && VssFreeSnapshotPropertiesInternal &&
           CreateVssExamineWriterMetadataInternal && IsVolumeSnapshottedInternal &&
           ShouldBlockRevertInternal && GetProviderMgmtInterfaceInternal;
  }

  // A backup-components object, initialised, in `context`.
  IVssBackupComponents* backup(LONG context) const {
    IVssBackupComponents* made = nullptr;
    EXPECT_EQ(CreateVssBackupComponentsInternal(&made), S_OK);
    if (made == nullptr) return nullptr;
    EXPECT_EQ(made->InitializeForBackup(nullptr), S_OK);
    EXPECT_EQ(made->SetContext(context), S_OK);
    return made;
  }
};

// Starts an operation (`start` given where to put it) and waits for it; the
// status of the start, or else of the operation.
template <typename Start>
HRESULT waitFor(Start start) {
  IVssAsync* async = nullptr;
  const HRESULT started = start(&async);
  if (FAILED(started) || async == nullptr) return started;
  HRESULT result = async->Wait(INFINITE);
  if (SUCCEEDED(result)) async->QueryStatus(&result, nullptr);
  async->Release();
  return result;
}

// The model's COM face met directly, as a careless requester would: what
// the real service could only crash or leak on is recorded as a misuse as it
// happens, and what is still held when the last backup-components object
// goes shows in the ledger, the objects by name.
TEST(ModelFace, RecordsEachMisuseAndShowsWhatIsStillHeld) {
  const ModelDll dll;
  ASSERT_TRUE(dll.complete());
  ModelFiles files(exampleScenario());
  IVssBackupComponents* backup = nullptr;
  IVssAsync* async = nullptr;
  IVssExamineWriterMetadata* metadata = nullptr;
  IVssWMComponent* component = nullptr;
  VSS_ID instance{};
  ASSERT_EQ(dll.CreateVssBackupComponentsInternal(&backup), S_OK);
  EXPECT_EQ(backup->InitializeForBackup(nullptr), S_OK);
  EXPECT_EQ(backup->GatherWriterMetadata(&async), S_OK);
  EXPECT_EQ(async->Wait(INFINITE), S_OK);
  EXPECT_EQ(backup->GetWriterMetadata(0, &instance, &metadata), S_OK);
  EXPECT_EQ(metadata->GetComponent(0, &component), S_OK);

  BSTR document = SysAllocString(L"<document/>");
  backup->InitializeForBackup(document);
  SysFreeString(document);
  EXPECT_EQ(async->Wait(10), S_OK);
  VSS_COMPONENTINFO mine{};
  EXPECT_EQ(component->FreeComponentInfo(&mine), E_INVALIDARG);
  PVSSCOMPONENTINFO info = nullptr;
  EXPECT_EQ(component->GetComponentInfo(&info), S_OK);
  VSS_ID ids[2] = {};
  BSTR name = nullptr;
  VSS_USAGE_TYPE usage{};
  VSS_SOURCE_TYPE source{};
  EXPECT_EQ(metadata->GetIdentity(&ids[0], &ids[1], &name, &usage, &source), S_OK);
  VSS_ID set{}, snapshot{};
  EXPECT_EQ(backup->StartSnapshotSet(&set), S_OK);
  EXPECT_EQ(backup->AddToSnapshotSet(const_cast<wchar_t*>(L"C:\\"), GUID_NULL, &snapshot), S_OK);
  // Where writers take part, the writers prepare before the copies.
  EXPECT_EQ(backup->SetBackupState(false, false, VSS_BT_COPY, false), S_OK);
  for (auto start :
       {&IVssBackupComponents::PrepareForBackup, &IVssBackupComponents::DoSnapshotSet}) {
    EXPECT_EQ(waitFor([&](IVssAsync** operation) { return (backup->*start)(operation); }), S_OK);
  }
  wchar_t mineText[] = L"mine";
  VSS_SNAPSHOT_PROP properties{};
  properties.m_pwszExposedName = mineText;
  EXPECT_NE(backup->GetSnapshotProperties(GUID_NULL, &properties), S_OK);
  properties.m_pwszExposedName = nullptr;
  properties.m_pwszOriginalVolumeName = mineText;
  dll.VssFreeSnapshotPropertiesInternal(&properties);
  properties = {};
  EXPECT_EQ(backup->GetSnapshotProperties(snapshot, &properties), S_OK);
  backup->Release();
  EXPECT_EQ(backup->Release(), 0u);
  EXPECT_EQ(backup->SetContext(0), E_UNEXPECTED);

  EXPECT_EQ(files.texts("Misuse"),
            (std::vector<std::string>{
                "Wait with a time-out of 10 ms",
                "FreeComponentInfo of a block this IVssWMComponent did not hand out",
                "VssFreeSnapshotPropertiesInternal of properties not handed out",
                "Release on a released IVssBackupComponents",
                "SetContext on a released IVssBackupComponents"}));
  EXPECT_EQ(files.texts("Ledger"),
            std::vector<std::string>{
                "Ledger(objects=3 [IVssAsync IVssExamineWriterMetadata IVssWMComponent],"
                "componentInfo=1,snapshotProperties=1,strings=7)"});
  // What the ledger showed is handed back after all, so that the process
  // ends even.
  dll.VssFreeSnapshotPropertiesInternal(&properties);
  SysFreeString(name);
  component->FreeComponentInfo(info);
  component->Release();
  metadata->Release();
  async->Release();
}

// A copy of the scenario's C:\ in a context without writers; its id.
VSS_ID takeCopy(IVssBackupComponents* backup) {
  VSS_ID set{}, snapshot{};
  EXPECT_EQ(backup->StartSnapshotSet(&set), S_OK);
  EXPECT_EQ(backup->AddToSnapshotSet(const_cast<wchar_t*>(L"C:\\"), GUID_NULL, &snapshot), S_OK);
  EXPECT_EQ(waitFor([&](IVssAsync** async) { return backup->DoSnapshotSet(async); }), S_OK);
  return snapshot;
}

// Whether Query lists the copy in the object's context; each copy listed is
// freed as a requester frees it.
bool lists(const ModelDll& dll, IVssBackupComponents* backup, const VSS_ID& id) {
  bool listed = false;
  IVssEnumObject* found = nullptr;
  EXPECT_EQ(backup->Query(GUID_NULL, VSS_OBJECT_NONE, VSS_OBJECT_SNAPSHOT, &found), S_OK);
  if (found == nullptr) return false;
  VSS_OBJECT_PROP item{};
  ULONG fetched = 0;
  while (found->Next(1, &item, &fetched) == S_OK && fetched == 1) {
    EXPECT_EQ(item.Type, VSS_OBJECT_SNAPSHOT);
    listed = listed || IsEqualGUID(item.Obj.Snap.m_SnapshotId, id);
    dll.VssFreeSnapshotPropertiesInternal(&item.Obj.Snap);
  }
  found->Release();
  return listed;
}

// The contexts' copies, Query and DeleteSnapshots across objects. The volume
// names requesters give, and a persistent copy outliving its process, are
// steps of tests/requester (and the names a case of the simulator's tests).
TEST(ModelFace, PersistentCopiesOutliveTheirObjectUntilDeleted) {
  const ModelDll dll;
  ASSERT_TRUE(dll.complete());
  ModelFiles files(exampleScenario());
  wchar_t systemName[64] = {};
  ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(L"C:\\", systemName, 64));

  // A copy of each kind, then its object goes: only the persistent one stays
  // (the requester's steps keep one of VSS_CTX_CLIENT_ACCESSIBLE).
  const struct {
    LONG context;
    bool persistent;
  } kContexts[] = {{VSS_CTX_FILE_SHARE_BACKUP, false}, {VSS_CTX_NAS_ROLLBACK, true}};
  VSS_ID id{};  // the persistent copy
  for (const auto& c : kContexts) {
    SCOPED_TRACE(c.context);
    IVssBackupComponents* owner = dll.backup(c.context);
    const VSS_ID snapshot = takeCopy(owner);
    IVssBackupComponents* other = dll.backup(c.context);
    EXPECT_TRUE(lists(dll, other, snapshot));
    owner->Release();
    EXPECT_EQ(lists(dll, other, snapshot), c.persistent);
    other->Release();
    if (c.persistent) id = snapshot;
  }

  // Every context sees it, its device path leads to its files, and
  // DeleteSnapshots ends it for good.
  IVssBackupComponents* all = dll.backup(VSS_CTX_ALL);
  EXPECT_TRUE(lists(dll, all, id));
  VSS_SNAPSHOT_PROP properties;  // as Microsoft's sample requester passes it: not zeroed
  ASSERT_EQ(all->GetSnapshotProperties(id, &properties), S_OK);
  EXPECT_EQ(std::wstring(properties.m_pwszOriginalVolumeName), std::wstring(systemName));
  EXPECT_NE(properties.m_lSnapshotAttributes & VSS_VOLSNAP_ATTR_PERSISTENT, 0);
  const std::wstring readme =
      std::wstring(properties.m_pwszSnapshotDeviceObject) + L"\\Documents\\notes.txt";
  EXPECT_NE(GetFileAttributesW(readme.c_str()), INVALID_FILE_ATTRIBUTES) << PrintToString(readme);
  dll.VssFreeSnapshotPropertiesInternal(&properties);
  BOOL present = FALSE;
  LONG capability = -1;
  EXPECT_EQ(dll.IsVolumeSnapshottedInternal(const_cast<wchar_t*>(L"C:\\"), &present, &capability),
            S_OK);
  EXPECT_TRUE(present);
  LONG deleted = 0;
  VSS_ID notDeleted{};
  EXPECT_EQ(all->DeleteSnapshots(id, VSS_OBJECT_SNAPSHOT, TRUE, &deleted, &notDeleted), S_OK);
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(all->DeleteSnapshots(id, VSS_OBJECT_SNAPSHOT, TRUE, &deleted, &notDeleted),
            VSS_E_OBJECT_NOT_FOUND);
  EXPECT_FALSE(lists(dll, all, id));
  all->Release();
  EXPECT_EQ(files.texts("Misuse"), std::vector<std::string>{});
  EXPECT_EQ(files.texts("Ledger").back(), kBalanced);
}

// What a requester reads of a writer beyond its files, the documents it
// stores and hands back, the other exports, and a call the model does not play.
TEST(ModelFace, HandsOutRestoreMethodsDocumentsAndTheOtherExports) {
  const ModelDll dll;
  ASSERT_TRUE(dll.complete());
  json scenario = exampleScenario();
  json& mail = scenario["writers"][0];
  mail["restoreMethod"] = {
      {"method", "restoreIfCanReplace"}, {"writerRestore", "always"}, {"rebootRequired", true}};
  mail["alternateLocations"] = {
      {{"path", "C:\\Data\\Mail"}, {"filespec", "*.edb"}, {"alternateLocation", "D:\\Restore"}}};
  mail["backupSchema"] = 0x81;
  ModelFiles files(scenario);
  IVssBackupComponents* backup = dll.backup(VSS_CTX_BACKUP);
  ASSERT_EQ(waitFor([&](IVssAsync** async) { return backup->GatherWriterMetadata(async); }), S_OK);
  VSS_ID instance{};
  IVssExamineWriterMetadata* metadata = nullptr;
  ASSERT_EQ(backup->GetWriterMetadata(0, &instance, &metadata), S_OK);
  BSTR document = nullptr;
  ASSERT_EQ(metadata->SaveAsXML(&document), S_OK);
  IVssExamineWriterMetadata* reloaded = nullptr;
  ASSERT_EQ(dll.CreateVssExamineWriterMetadataInternal(document, &reloaded), S_OK);
  SysFreeString(document);
  metadata->Release();

  // The live object's answers are a step of tests/requester; the document's:
  VSS_RESTOREMETHOD_ENUM method{};
  VSS_WRITERRESTORE_ENUM writerRestore{};
  BSTR service = nullptr, procedure = nullptr, location = nullptr;
  boolean reboot = false;
  UINT mappings = 0;
  ASSERT_EQ(
      reloaded->GetRestoreMethod(&method, &service, &procedure, &writerRestore, &reboot, &mappings),
      S_OK);
  EXPECT_EQ((std::vector<int>{method, writerRestore, reboot, static_cast<int>(mappings)}),
            (std::vector<int>{VSS_RME_RESTORE_IF_CAN_REPLACE, VSS_WRE_ALWAYS, 1, 1}));
  IVssWMFiledesc* mapping = nullptr;
  ASSERT_EQ(reloaded->GetAlternateLocationMapping(0, &mapping), S_OK);
  ASSERT_EQ(mapping->GetAlternateLocation(&location), S_OK);
  EXPECT_EQ(std::wstring(location), L"D:\\Restore");
  SysFreeString(location);
  mapping->Release();
  DWORD schema = 0;
  EXPECT_EQ(reloaded->GetBackupSchema(&schema), S_OK);
  EXPECT_EQ(schema, 0x81u);
  UINT include = 0, exclude = 0, components = 0;
  EXPECT_EQ(reloaded->GetFileCounts(&include, &exclude, &components), S_OK);
  EXPECT_EQ(components, 1u);
  reloaded->Release();
  BSTR notADocument = SysAllocString(L"<WRITER_METADATA>");
  EXPECT_EQ(dll.CreateVssExamineWriterMetadataInternal(notADocument, &reloaded),
            VSS_E_INVALID_XML_DOCUMENT);
  SysFreeString(notADocument);

  // The backup's document, stored and handed to a new object, brings back
  // its components.
  ASSERT_EQ(backup->SetBackupState(true, false, VSS_BT_COPY, false), S_OK);
  ASSERT_EQ(
      backup->AddComponent(
          instance, {0x5D1A2C40, 0x7E3B, 0x4F6A, {0x9C, 0x21, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x51}},
          VSS_CT_DATABASE, L"Mail", L"Mailbox Database"),
      S_OK);
  ASSERT_EQ(backup->SaveAsXML(&document), S_OK);
  backup->Release();
  IVssBackupComponents* resumed = nullptr;
  ASSERT_EQ(dll.CreateVssBackupComponentsInternal(&resumed), S_OK);
  EXPECT_EQ(resumed->InitializeForBackup(document), S_OK);
  SysFreeString(document);
  UINT count = 0;
  EXPECT_EQ(resumed->GetWriterComponentsCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(resumed->BreakSnapshotSet(GUID_NULL), E_NOTIMPL);

  BOOL present = TRUE;
  LONG capability = -1;
  EXPECT_EQ(dll.IsVolumeSnapshottedInternal(const_cast<wchar_t*>(L"C:\\"), &present, &capability),
            S_OK);
  EXPECT_EQ((std::vector<LONG>{present, capability}), (std::vector<LONG>{FALSE, 0}));
  boolean block = true;
  EXPECT_EQ(dll.ShouldBlockRevertInternal(L"C:\\", &block), S_OK);
  EXPECT_FALSE(block);
  IUnknown* management = nullptr;
  const VSS_ID systemProvider = {
      0xb5946137, 0x7b9f, 0x4925, {0xaf, 0x80, 0x51, 0xab, 0xd6, 0x0b, 0x20, 0xd5}};
  EXPECT_EQ(dll.GetProviderMgmtInterfaceInternal(systemProvider, IID_IUnknown, &management),
            E_NOINTERFACE);
  EXPECT_EQ(dll.GetProviderMgmtInterfaceInternal(GUID_NULL, IID_IUnknown, &management),
            VSS_E_PROVIDER_NOT_REGISTERED);
  resumed->Release();

  EXPECT_EQ(
      files.texts("BreakSnapshotSet"),
      std::vector<std::string>{"IVssBackupComponents::BreakSnapshotSet: not played, E_NOTIMPL"});
  EXPECT_EQ(files.texts("Misuse"), std::vector<std::string>{});
  EXPECT_EQ(files.texts("Ledger").back(), kBalanced);
}

}  // namespace
}  // namespace frostcap::test
