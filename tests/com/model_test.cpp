// The shipped frostcap.dll over the model's vssapi.dll, as an unmodified
// host meets them: scenario files written here, named in the environment,
// the nineteen functions driven, and the record read back afterwards. The
// record ends every backup with the model's ledger, which must balance:
// every COM object released, description block handed back, snapshot
// properties and string freed.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <oleauto.h>
// The SDK's headers build on one another in this order.
// clang-format off
#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "com/loaded_library.h"

namespace frostcap::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

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

  std::vector<Entry> record() const {
    std::vector<Entry> entries;
    std::ifstream in(folder_ / "record.jsonl");
    for (std::string line; std::getline(in, line);) {
      const json entry = json::parse(line);
      entries.push_back({entry["call"], entry["text"]});
    }
    return entries;
  }

  std::vector<std::string> misuses() const {
    std::vector<std::string> texts;
    for (const Entry& entry : record()) {
      if (entry.call == "Misuse") texts.push_back(entry.text);
    }
    return texts;
  }

 private:
  fs::path folder_;
};

// What a backup of the example showed its host.
struct Outcome {
  int prepared = 1;
  int taken = 1;
  std::vector<std::wstring> mountPaths, catalogue, files, excluded, messages;
};

// The example's backup as scripts/run-example.sh takes it: volume C:\, the
// mail store's database and the documents, catalogue and files listed while
// the shadow copy exists, then freed with the verdict the perform calls earn.
Outcome backUpExample() {
  const Library& api = library();
  Outcome outcome;
  api.library_init();
  frostcap_snapshot* handle = api.snapshot_new();
  api.snapshot_addVolumePath(handle, L"C:\\");
  api.snapshot_addWriter(handle, kMailWriter);
  api.snapshot_addWriter(handle, kDocumentWriter);
  api.snapshot_addWriterDatabaseComponentFallback(handle, kMailWriter, L"Mail", L"Mailbox Database",
                                                  L"");
  api.snapshot_addWriterFilegroupComponentFallback(handle, kDocumentWriter, L"", L"Documents", L"");
  outcome.prepared = api.snapshot_perform_a(handle);
  if (outcome.prepared == 0) outcome.taken = api.snapshot_perform_b(handle);
  outcome.mountPaths = drain(handle, api.snapshot_getNextMountPath);
  api.snapshot_loadWriterComponents(handle);
  outcome.catalogue = drain(handle, api.snapshot_getNextWriterComponent);
  api.snapshot_loadWriterFileInfo(handle);
  outcome.files = drain(handle, api.snapshot_getNextWriterFileInfo);
  outcome.excluded = drain(handle, api.snapshot_getNextWriterExcludedFileInfo);
  outcome.messages = drain(handle, api.snapshot_getNextMessage);
  api.snapshot_free(handle, outcome.taken == 0 ? 1 : 0);
  return outcome;
}

std::string narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t unit : text) out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  return out;
}

std::string joined(const std::vector<std::wstring>& texts) {
  std::string out;
  for (const std::wstring& text : texts) out += narrow(text) + "\n";
  return out;
}

bool anyContains(const std::vector<std::wstring>& texts, const std::wstring& part) {
  return std::any_of(texts.begin(), texts.end(),
                     [&](const std::wstring& text) { return text.find(part) != text.npos; });
}

TEST(ModelExample, TakesItsSnapshotAndListsTheCatalogue) {
  ModelFiles files;
  const Outcome outcome = backUpExample();
  ASSERT_EQ(outcome.taken, 0) << joined(outcome.messages);
  EXPECT_EQ(outcome.mountPaths,
            std::vector<std::wstring>{L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\"});
  const std::vector<std::wstring> catalogue = {
      L"# Found 2 writer(s) to interrogate", L"# Writer 0 has 1 component(s)",
      L"[\"{5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51}\",\"Mail\",\"Mailbox "
      L"Database\",\"VSS_CT_DATABASE\",true]",
      L"# Writer 1 has 1 component(s)",
      L"[\"{A7C3E9F1-2B4D-4E6F-8A0C-1E3F5A7C9E02}\",\"\",\"Documents\",\"VSS_CT_FILEGROUP\",true]"};
  EXPECT_EQ(outcome.catalogue, catalogue);

  // The model was told the host's verdict for both components, and the
  // backup ended with everything handed back.
  const std::vector<Entry> record = files.record();
  std::vector<std::string> verdicts;
  for (const Entry& entry : record) {
    if (entry.call == "SetBackupSucceeded") {
      verdicts.push_back(entry.text.substr(entry.text.rfind(',')));
    }
  }
  EXPECT_EQ(verdicts, (std::vector<std::string>{",true)", ",true)"}));
  ASSERT_GE(record.size(), 2u);
  EXPECT_EQ(record[record.size() - 2].call, "Release");
  EXPECT_EQ(record.back().text, kBalanced);
  EXPECT_EQ(files.misuses(), std::vector<std::string>{});
}

// Waits for the model to place its shadow copies where Wine resolves the
// device path (\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN\): until
// then the search finds nothing and lists the patterns themselves.
TEST(ModelExample, FindsTheFilesInsideTheShadowCopy) {
  ModelFiles files;
  const Outcome outcome = backUpExample();
  ASSERT_EQ(outcome.taken, 0) << joined(outcome.messages);
  const std::set<std::wstring> found(outcome.files.begin(), outcome.files.end());
  const std::set<std::wstring> expected = {L"C:\\Data\\Mail\\Logs\\E00.chk",
                                           L"C:\\Data\\Mail\\public.edb",
                                           L"C:\\Data\\Mail\\mailbox.edb",
                                           L"C:\\Data\\Mail\\Logs\\E00000001.log",
                                           L"C:\\Data\\Mail\\Logs\\E00000002.log",
                                           L"C:\\Documents\\Reports",
                                           L"C:\\Documents\\~lock.tmp",
                                           L"C:\\Documents\\Temp",
                                           L"C:\\Documents\\notes.txt",
                                           L"C:\\Documents\\budget.csv"};
  EXPECT_EQ(found, expected) << joined(outcome.files);
  EXPECT_EQ(outcome.excluded, (std::vector<std::wstring>{L"C:\\Documents\\Temp\\notes.autosave.tmp",
                                                         L"C:\\Documents\\~lock.tmp"}));
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
      << joined(outcome.catalogue);
  // Only the empty path names a place to look; nothing is there.
  EXPECT_EQ(outcome.excluded, std::vector<std::wstring>{L"none-such.*"});
  const std::vector<std::wstring> expected = {
      L"{ERR_COMPONENT_VSS}: (Mailbox Database): 0x80042301: ",
      L"{ERR_COMPONENT_CUST}: (Mailbox Database): Disk\0full"s,
      L"{ERR_COMPONENT_APP}: (Archive): 0x8007000e: ",
      L"{FATAL_PREFIX}{ERR_TAKE_SNAPSHOT} (IVssBackupComponents::GetWriterStatus(Mail\0Store): "
      L"0x80042336: "s};
  ASSERT_EQ(outcome.messages.size(), expected.size()) << joined(outcome.messages);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(outcome.messages[i].substr(0, expected[i].size()), expected[i]) << i;
  }
  EXPECT_EQ(files.record().back().text, kBalanced);
}

// The statuses the model answers reach the host as they are, success codes
// included, and the ledger balances whatever the answer.
TEST(ModelExample, StatusesReachTheHostUnchanged) {
  const struct {
    const char* call;
    const char* status;
    const wchar_t* shown;  // in a message, or null for a backup that succeeds
  } kCases[] = {
      {"SetContext", "0x80042301", L"IVssBackupComponents::SetContext: 0x80042301: "},
      {"DoSnapshotSet.Result", "0x8004230F", L"IVssBackupComponents::DoSnapshotSet: 0x8004230f: "},
      {"GetSnapshotProperties", "0x8007000E",
       L"IVssBackupComponents::GetSnapshotProperties: 0x8007000e: "},
      {"GetComponentInfo", "0x80049999", L"IVssWMComponent::GetComponentInfo: 0x80049999: "},
      {"SetContext", "0x00000001", nullptr},
      {"GetSnapshotProperties", "0x00000001", nullptr},
      {"GetComponentInfo", "0x00042309", nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.call) + " answers " + c.status);
    json scenario = exampleScenario();
    scenario["faults"] = {{{"call", c.call}, {"status", c.status}}};
    ModelFiles files(scenario);
    const Outcome outcome = backUpExample();
    if (c.shown == nullptr) {
      EXPECT_EQ(outcome.taken, 0) << joined(outcome.messages);
    } else {
      EXPECT_TRUE(anyContains(outcome.messages, c.shown)) << joined(outcome.messages);
    }
    EXPECT_EQ(files.record().back().text, kBalanced);
  }
}

// Every call of the example's backup fails in turn, and so does the outcome
// of every asynchronous operation: whatever fails, the host hands back
// everything it got from the model and misuses nothing.
TEST(ModelFaults, EveryCallOfTheExampleFailsAndTheLedgerBalances) {
  std::vector<Entry> calls;
  {
    ModelFiles files(exampleScenario());
    ASSERT_EQ(backUpExample().taken, 0);
    calls = files.record();
  }
  const std::set<std::string> kAsynchronous = {"GatherWriterMetadata", "PrepareForBackup",
                                               "DoSnapshotSet", "GatherWriterStatus",
                                               "BackupComplete"};
  std::map<std::string, int> occurrences;
  json faults = json::array();
  for (const Entry& entry : calls) {
    // Only calls can fail; the record's notes say something about them.
    static const std::set<std::string> kNotes = {"Release", "Ledger", "Assumption", "Breach",
                                                 "Misuse"};
    if (kNotes.count(entry.call) != 0 || entry.call.ends_with(".Result")) continue;
    const int occurrence = ++occurrences[entry.call];
    faults.push_back({{"call", entry.call}, {"occurrence", occurrence}});
    if (kAsynchronous.count(entry.call) != 0) {
      faults.push_back({{"call", entry.call + ".Result"}, {"occurrence", occurrence}});
    }
  }
  ASSERT_GT(faults.size(), 50u);
  for (json fault : faults) {
    SCOPED_TRACE(fault.dump());
    fault["status"] = "0x80042302";  // VSS_E_UNEXPECTED
    json scenario = exampleScenario();
    scenario["faults"] = {fault};
    ModelFiles files(scenario);
    backUpExample();
    const std::vector<Entry> record = files.record();
    ASSERT_FALSE(record.empty());
    EXPECT_EQ(record.back().text, kBalanced);
    EXPECT_EQ(files.misuses(), std::vector<std::string>{});
  }
}

// The model's COM face met directly, as a careless requester would: what
// the real service could only crash or leak on is recorded as a misuse, and
// what is still held when the last backup-components object goes shows in
// the ledger.
TEST(ModelFace, RecordsMisuseAndShowsWhatIsStillHeld) {
  const HMODULE vssapi = LoadLibraryW(besideThisProgram(L"vssapi.dll").c_str());
  ASSERT_NE(vssapi, nullptr);
  const auto create =
      resolve<HRESULT WINAPI(IVssBackupComponents**)>(vssapi, "CreateVssBackupComponentsInternal");
  const auto freeProperties =
      resolve<void WINAPI(VSS_SNAPSHOT_PROP*)>(vssapi, "VssFreeSnapshotPropertiesInternal");
  ASSERT_TRUE(create != nullptr && freeProperties != nullptr);

  // Gathers the writers' metadata and hands out the first writer's first
  // component, with everything on the way.
  struct Gathered {
    IVssAsync* async = nullptr;
    IVssExamineWriterMetadata* metadata = nullptr;
    IVssWMComponent* component = nullptr;
  };
  const auto gather = [](IVssBackupComponents* backup) {
    Gathered gathered;
    VSS_ID instance{};
    EXPECT_EQ(backup->GatherWriterMetadata(&gathered.async), S_OK);
    EXPECT_EQ(gathered.async->Wait(INFINITE), S_OK);
    EXPECT_EQ(backup->GetWriterMetadata(0, &instance, &gathered.metadata), S_OK);
    EXPECT_EQ(gathered.metadata->GetComponent(0, &gathered.component), S_OK);
    return gathered;
  };
  const auto release = [](Gathered& gathered) {
    gathered.component->Release();
    gathered.metadata->Release();
    gathered.async->Release();
  };

  const struct {
    const char* what;
    std::function<void(IVssBackupComponents*)> play;  // ends with the backup's last Release
    std::vector<std::string> misuses;
    std::string ledger;
  } kCases[] = {
      {"a Release too many",
       [](IVssBackupComponents* backup) {
         backup->Release();
         EXPECT_EQ(backup->Release(), 0u);
       },
       {"Release on a released IVssBackupComponents"},
       kBalanced},
      {"a call after the last Release",
       [](IVssBackupComponents* backup) {
         backup->Release();
         EXPECT_EQ(backup->SetContext(0), E_UNEXPECTED);
       },
       {"SetContext on a released IVssBackupComponents"},
       kBalanced},
      {"a wait with a time-out",
       [](IVssBackupComponents* backup) {
         IVssAsync* async = nullptr;
         EXPECT_EQ(backup->GatherWriterMetadata(&async), S_OK);
         EXPECT_EQ(async->Wait(10), S_OK);
         async->Release();
         backup->Release();
       },
       {"Wait with a time-out of 10 ms"},
       kBalanced},
      {"a backup resumed from a document",
       [](IVssBackupComponents* backup) {
         BSTR document = SysAllocString(L"<document/>");
         backup->InitializeForBackup(document);
         SysFreeString(document);
         backup->Release();
       },
       {"InitializeForBackup with a document"},
       kBalanced},
      {"properties of the requester's own",
       [&](IVssBackupComponents* backup) {
         wchar_t name[] = L"mine";
         VSS_SNAPSHOT_PROP properties{};
         properties.m_pwszExposedName = name;
         EXPECT_NE(backup->GetSnapshotProperties(GUID_NULL, &properties), S_OK);
         properties.m_pwszExposedName = nullptr;
         properties.m_pwszOriginalVolumeName = name;
         freeProperties(&properties);
         backup->Release();
       },
       {"GetSnapshotProperties into a record not zeroed",
        "VssFreeSnapshotPropertiesInternal of properties not handed out"},
       kBalanced},
      {"a description block of the requester's own",
       [&](IVssBackupComponents* backup) {
         Gathered gathered = gather(backup);
         VSS_COMPONENTINFO mine{};
         EXPECT_EQ(gathered.component->FreeComponentInfo(&mine), E_INVALIDARG);
         release(gathered);
         backup->Release();
       },
       {"FreeComponentInfo of a block this IVssWMComponent did not hand out"},
       kBalanced},
      {"everything kept past the backup's end",
       [&](IVssBackupComponents* backup) {
         Gathered gathered = gather(backup);
         PVSSCOMPONENTINFO info = nullptr;
         EXPECT_EQ(gathered.component->GetComponentInfo(&info), S_OK);
         VSS_ID ids[2] = {};
         BSTR name = nullptr;
         VSS_USAGE_TYPE usage{};
         VSS_SOURCE_TYPE source{};
         EXPECT_EQ(gathered.metadata->GetIdentity(&ids[0], &ids[1], &name, &usage, &source), S_OK);
         VSS_ID set{}, snapshot{};
         IVssAsync* taken = nullptr;
         EXPECT_EQ(backup->StartSnapshotSet(&set), S_OK);
         EXPECT_EQ(backup->AddToSnapshotSet(const_cast<wchar_t*>(L"C:\\"), GUID_NULL, &snapshot),
                   S_OK);
         // Where writers take part, the writers prepare before the copies.
         IVssAsync* prepared = nullptr;
         EXPECT_EQ(backup->SetBackupState(false, false, VSS_BT_COPY, false), S_OK);
         EXPECT_EQ(backup->PrepareForBackup(&prepared), S_OK);
         EXPECT_EQ(prepared->Wait(INFINITE), S_OK);
         prepared->Release();
         EXPECT_EQ(backup->DoSnapshotSet(&taken), S_OK);
         EXPECT_EQ(taken->Wait(INFINITE), S_OK);
         taken->Release();
         VSS_SNAPSHOT_PROP properties{};
         EXPECT_EQ(backup->GetSnapshotProperties(snapshot, &properties), S_OK);
         backup->Release();
         // What the ledger showed is handed back after all, so that the
         // process ends even.
         freeProperties(&properties);
         SysFreeString(name);
         gathered.component->FreeComponentInfo(info);
         release(gathered);
       },
       {},
       "Ledger(objects=3 [IVssAsync IVssExamineWriterMetadata IVssWMComponent],componentInfo=1,"
       "snapshotProperties=1,strings=7)"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ModelFiles files(exampleScenario());
    IVssBackupComponents* backup = nullptr;
    ASSERT_EQ(create(&backup), S_OK);
    EXPECT_EQ(backup->InitializeForBackup(nullptr), S_OK);
    c.play(backup);
    EXPECT_EQ(files.misuses(), c.misuses);
    std::string ledger;
    for (const Entry& entry : files.record()) {
      if (entry.call == "Ledger") ledger = entry.text;
    }
    EXPECT_EQ(ledger, c.ledger);
  }
}

}  // namespace
}  // namespace frostcap::test
