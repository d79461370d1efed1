// frostcap.dll as a host loads it: every function found by name and by
// ordinal, the version resource, and what a host sees when the model's
// vssapi.dll has no usable scenario.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <winver.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "com/loaded_library.h"
#include "frostcap.h"

namespace frostcap::test {
namespace {

// In ordinal order, 1 to 19: the alphabetical order of the names.
constexpr const char* kExports[] = {
    "frostcap_library_init",
    "frostcap_pathIsNetworkPath",
    "frostcap_snapshot_addVolumePath",
    "frostcap_snapshot_addWriter",
    "frostcap_snapshot_addWriterDatabaseComponentFallback",
    "frostcap_snapshot_addWriterFilegroupComponentFallback",
    "frostcap_snapshot_free",
    "frostcap_snapshot_getNextMessage",
    "frostcap_snapshot_getNextMountPath",
    "frostcap_snapshot_getNextWriterComponent",
    "frostcap_snapshot_getNextWriterExcludedFileInfo",
    "frostcap_snapshot_getNextWriterFileInfo",
    "frostcap_snapshot_loadWriterComponents",
    "frostcap_snapshot_loadWriterFileInfo",
    "frostcap_snapshot_new",
    "frostcap_snapshot_perform_a",
    "frostcap_snapshot_perform_b",
    "frostcap_snapshot_setIncrementalMode",
    "frostcap_snapshot_setUseSystemProvider",
};

// What the library shows for a status that is not the service's own: the
// system's text without its final line break, or the fixed fallback.
std::wstring describe(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer),
      0, nullptr);
  std::wstring text = length != 0 ? std::wstring(buffer, length) : std::wstring();
  LocalFree(buffer);
  if (text.empty()) {
    wchar_t fallback[32] = {};
    std::swprintf(fallback, 32, L"Unknown error 0x%X", static_cast<unsigned>(code));
    return fallback;
  }
  if (text.size() >= 2 && text.back() == L'\n') {
    text.pop_back();
    if (text.back() == L'\r') text.pop_back();
  }
  return text;
}

class LoadedLibrary : public testing::Test {
 protected:
  void SetUp() override {
    path_ = besideThisProgram(L"frostcap.dll");
    module_ = LoadLibraryW(path_.c_str());
    ASSERT_NE(module_, nullptr) << "LoadLibraryW failed with error " << GetLastError();
  }

  void TearDown() override {
    if (module_ != nullptr) {
      EXPECT_NE(FreeLibrary(module_), 0);
    }
  }

  template <typename Function>
  Function* resolve(const char* name) {
    auto* function =
        reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    EXPECT_NE(function, nullptr) << name;
    return function;
  }

  std::wstring path_;
  HMODULE module_ = nullptr;
};

TEST_F(LoadedLibrary, FindsEveryFunctionByNameAndByItsOrdinal) {
  WORD ordinal = 0;
  for (const char* name : kExports) {
    ++ordinal;
    const FARPROC byName = GetProcAddress(module_, name);
    const FARPROC byOrdinal = GetProcAddress(module_, MAKEINTRESOURCEA(ordinal));
    EXPECT_NE(byName, nullptr) << name;
    EXPECT_EQ(byName, byOrdinal) << name << " is not ordinal " << ordinal;
  }
  EXPECT_EQ(GetProcAddress(module_, MAKEINTRESOURCEA(ordinal + 1)), nullptr);
}

// Without a scenario it can use, the model refuses to make the backup with a
// status of the system's, and says why as the one entry of its record.
TEST_F(LoadedLibrary, ReportsAModelWithoutAUsableScenario) {
  const auto init = resolve<decltype(frostcap_library_init)>("frostcap_library_init");
  const auto create = resolve<decltype(frostcap_snapshot_new)>("frostcap_snapshot_new");
  const auto addVolume =
      resolve<decltype(frostcap_snapshot_addVolumePath)>("frostcap_snapshot_addVolumePath");
  const auto performA =
      resolve<decltype(frostcap_snapshot_perform_a)>("frostcap_snapshot_perform_a");
  const auto nextMessage =
      resolve<decltype(frostcap_snapshot_getNextMessage)>("frostcap_snapshot_getNextMessage");
  const auto release = resolve<decltype(frostcap_snapshot_free)>("frostcap_snapshot_free");
  ASSERT_FALSE(HasFailure());

  namespace fs = std::filesystem;
  const fs::path folder =
      fs::temp_directory_path() / ("frostcap-load-" + std::to_string(GetCurrentProcessId()));
  fs::create_directories(folder);
  std::ofstream(folder / "broken.json") << "{\"volumes\": [";
  const struct {
    const wchar_t* scenario;
    DWORD status;
    const char* reason;  // found in the record's one entry
  } kCases[] = {
      {nullptr, 0x800700CB, "FROSTCAP_SIM_SCENARIO names no scenario file"},
      {L"missing.json", 0x80070002, "missing.json: cannot be read"},
      {L"broken.json", 0x8007000D, "broken.json:1:"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.reason);
    const fs::path record = folder / "record.jsonl";
    const std::wstring scenario = c.scenario != nullptr ? (folder / c.scenario).wstring() : L"";
    SetEnvironmentVariableW(L"FROSTCAP_SIM_SCENARIO", c.scenario ? scenario.c_str() : nullptr);
    SetEnvironmentVariableW(L"FROSTCAP_SIM_RECORD", record.c_str());
    init();
    frostcap_snapshot* handle = create();
    addVolume(handle, L"C:\\");
    EXPECT_EQ(performA(handle), 1);
    const std::vector<std::wstring> messages = drain(handle, nextMessage);
    wchar_t code[16] = {};
    std::swprintf(code, 16, L"0x%08x", static_cast<unsigned>(c.status));
    EXPECT_EQ(messages,
              std::vector<std::wstring>{L"{FATAL_PREFIX}{ERR_INIT_VSS} (" + std::wstring(code) +
                                        L": " + describe(c.status) + L")"});
    release(handle, 0);
    std::ifstream in(record);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line.rfind("{\"call\":\"Scenario\",\"text\":\"", 0), 0u) << line;
    EXPECT_NE(line.find(c.reason), std::string::npos) << line;
  }
  SetEnvironmentVariableW(L"FROSTCAP_SIM_SCENARIO", nullptr);
  SetEnvironmentVariableW(L"FROSTCAP_SIM_RECORD", nullptr);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

TEST_F(LoadedLibrary, CarriesTheVersionHostsCompileAgainst) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path_.c_str(), &ignored);
  ASSERT_NE(size, 0u) << "no version resource";
  std::vector<unsigned char> data(size);
  ASSERT_NE(GetFileVersionInfoW(path_.c_str(), 0, size, data.data()), 0);

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_NE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize), 0);
  const DWORD high = MAKELONG(FROSTCAP_VERSION_MINOR, FROSTCAP_VERSION_MAJOR);
  const DWORD low = MAKELONG(0, FROSTCAP_VERSION_PATCH);
  EXPECT_EQ(fixed->dwFileVersionMS, high);
  EXPECT_EQ(fixed->dwFileVersionLS, low);
  EXPECT_EQ(fixed->dwProductVersionMS, high);
  EXPECT_EQ(fixed->dwProductVersionLS, low);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  wchar_t* text = nullptr;
  UINT textLength = 0;
  ASSERT_NE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                           reinterpret_cast<void**>(&text), &textLength),
            0);
  EXPECT_EQ(std::wstring(text), std::wstring(L"" FROSTCAP_VERSION));
}

}  // namespace
}  // namespace frostcap::test
