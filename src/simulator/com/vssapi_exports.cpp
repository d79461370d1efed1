// vssapi.dll over the model: the functions the SDK's requester headers import
// from the service's DLL, with the SDK's signatures, so that an unmodified requester
// built for Windows (frostcap.dll among them) runs a backup against the model
// when this DLL stands in for the system's (under Wine: beside the program,
// with WINEDLLOVERRIDES=vssapi=n).
//
// FROSTCAP_SIM_SCENARIO names the scenario file and FROSTCAP_SIM_RECORD the
// file the record goes to; both are read each time a backup-components
// object is made. While they name the same files, the objects share one run
// of the model: one record, shadow copies and planned faults counted on.
// When either changes, the next object starts a new run from the scenario.
// The record is written, with the ledger, whenever a run's last
// backup-components object is released or a creation fails, and once more
// when the process ends if anything happened since.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "simulator/com/faces.h"
#include "simulator/com/run.h"
#include "simulator/com/task_memory.h"
#include "simulator/simulation.h"
#include "simulator/writer_objects.h"

namespace frostcap::simulator::com {
namespace {

namespace fs = std::filesystem;

// Statuses of a model that cannot start, in the system's own words.
constexpr HRESULT kNoScenario = HRESULT_FROM_WIN32(ERROR_ENVVAR_NOT_FOUND);
constexpr HRESULT kScenarioMissing = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
constexpr HRESULT kScenarioInvalid = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

struct Runs {
  std::mutex mutex;
  std::vector<std::unique_ptr<Run>> all;
  Run* current = nullptr;
  std::wstring scenario;  // the variables current was made for
  std::wstring record;
};

// Never destroyed: the runs are drawn up when the DLL is told the process is
// ending, after which nothing of the DLL's may go away underneath them.
Runs& runs() {
  static Runs* instance = new Runs;
  return *instance;
}

std::wstring variable(const wchar_t* name) {
  std::wstring value(64, L'\0');
  for (;;) {
    const DWORD length =
        GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);
  }
}

// Keeps the DLL loaded until the process ends: the task allocator's spy and
// the objects hosts hold live in it, whatever the host unloads.
void pinThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&runs), &module);
}

// A model that cannot start has no record of its own; the reason goes where
// the record would have gone, as its one entry, and to standard error.
HRESULT refuse(HRESULT status, const std::string& reason, const std::wstring& recordFile) {
  complain(reason);
  if (!recordFile.empty()) {
    std::ofstream out(fs::path(recordFile), std::ios::binary | std::ios::trunc);
    out << recordLine({"Scenario", reason}) << '\n';
  }
  return status;
}

// The run that the variables name now, made if they changed; null, with the
// status to answer, when the scenario cannot be used.
Run* currentRun(Runs& state, HRESULT& status) {
  const std::wstring scenario = variable(L"FROSTCAP_SIM_SCENARIO");
  const std::wstring record = variable(L"FROSTCAP_SIM_RECORD");
  if (state.current != nullptr && scenario == state.scenario && record == state.record) {
    return state.current;
  }
  state.current = nullptr;
  if (scenario.empty()) {
    status = refuse(kNoScenario, "FROSTCAP_SIM_SCENARIO names no scenario file", record);
    return nullptr;
  }
  std::unique_ptr<Simulation> simulation;
  try {
    simulation = Simulation::fromFile(fs::path(scenario));
  } catch (const ScenarioError& error) {
    std::error_code ignored;
    status = refuse(fs::exists(fs::path(scenario), ignored) ? kScenarioInvalid : kScenarioMissing,
                    error.what(), record);
    return nullptr;
  }
  pinThisModule();
  watchTaskAllocator();
  // Written after the run, perhaps from another working directory.
  const fs::path recordFile = record.empty() ? fs::path() : fs::absolute(fs::path(record));
  state.all.push_back(std::make_unique<Run>(std::move(simulation), recordFile));
  state.current = state.all.back().get();
  state.scenario = scenario;
  state.record = record;
  return state.current;
}

HRESULT createBackupComponents(IVssBackupComponents** backup) {
  Runs& state = runs();
  const std::lock_guard lock(state.mutex);
  HRESULT status = S_OK;
  Run* run = currentRun(state, status);
  if (run == nullptr) return status;
  std::unique_ptr<ModelBackupComponents> model;
  status = run->simulation().createBackupComponents(model);
  if (failed(status)) {
    run->backupRefused();
    return status;
  }
  *backup = makeBackupComponentsFace(*run, std::move(model));
  return status;
}

// Runs `call` on the current run, under the lock; the status of a run that
// cannot start otherwise.
template <typename Call>
HRESULT onCurrentRun(Call call) {
  Runs& state = runs();
  const std::lock_guard lock(state.mutex);
  HRESULT status = S_OK;
  Run* run = currentRun(state, status);
  return run == nullptr ? status : call(*run);
}

HRESULT examineWriterMetadata(BSTR document, IVssExamineWriterMetadata** metadata) {
  return onCurrentRun([&](Run& run) -> HRESULT {
    std::unique_ptr<ModelWriterMetadata> model;
    const std::u16string text =
        document == nullptr
            ? std::u16string()
            : std::u16string(reinterpret_cast<const char16_t*>(document), SysStringLen(document));
    const Status status = run.simulation().examineWriterMetadata(text, model);
    *metadata = makeWriterMetadataFace(run, std::move(model));
    return status;
  });
}

HRESULT volumeQuery(const char* call, const wchar_t* volume, bool& snapshotted) {
  return onCurrentRun([&](Run& run) -> HRESULT {
    return run.simulation().volumeQuery(call, fromWide(volume), snapshotted);
  });
}

// The process is ending: every run's record is written with its final
// ledger, unless nothing happened since the last, and what hosts never
// released lets go of its shadow copies.
void endRuns() noexcept {
  Runs& state = runs();
  // A thread ended in the middle of a call may have left the lock taken;
  // the process must end all the same.
  const std::unique_lock lock(state.mutex, std::try_to_lock);
  if (!lock.owns_lock()) return;
  for (const auto& run : state.all) {
    run->drawUp(true);
    run->endHeldObjects();
  }
}

}  // namespace
}  // namespace frostcap::simulator::com

extern "C" HRESULT STDAPICALLTYPE CreateVssBackupComponentsInternal(IVssBackupComponents** backup) {
  if (backup == nullptr) return E_INVALIDARG;
  *backup = nullptr;
  return frostcap::simulator::com::guarded(
      [&] { return frostcap::simulator::com::createBackupComponents(backup); });
}

extern "C" void APIENTRY VssFreeSnapshotPropertiesInternal(VSS_SNAPSHOT_PROP* properties) {
  frostcap::simulator::com::freeSnapshotProperties(properties);
}

extern "C" HRESULT STDAPICALLTYPE
CreateVssExamineWriterMetadataInternal(BSTR document, IVssExamineWriterMetadata** metadata) {
  if (metadata == nullptr) return E_INVALIDARG;
  *metadata = nullptr;
  return frostcap::simulator::com::guarded(
      [&] { return frostcap::simulator::com::examineWriterMetadata(document, metadata); });
}

// Whether the volume has shadow copies; none of the model's copies restricts
// what may be done to the volume, so the capability mask is always 0.
extern "C" HRESULT APIENTRY IsVolumeSnapshottedInternal(VSS_PWSZ volume, WINBOOL* present,
                                                        LONG* capability) {
  if (volume == nullptr || present == nullptr || capability == nullptr) return E_INVALIDARG;
  return frostcap::simulator::com::guarded([&]() -> HRESULT {
    bool snapshotted = false;
    const HRESULT status =
        frostcap::simulator::com::volumeQuery("IsVolumeSnapshotted", volume, snapshotted);
    if (FAILED(status)) return status;
    *present = snapshotted ? TRUE : FALSE;
    *capability = 0;
    return status;
  });
}

// No writer of the model asks to block a revert.
extern "C" HRESULT APIENTRY ShouldBlockRevertInternal(LPCWSTR volume, boolean* block) {
  if (volume == nullptr || block == nullptr) return E_INVALIDARG;
  return frostcap::simulator::com::guarded([&]() -> HRESULT {
    bool snapshotted = false;
    const HRESULT status =
        frostcap::simulator::com::volumeQuery("ShouldBlockRevert", volume, snapshotted);
    if (!FAILED(status)) *block = false;
    return status;
  });
}

// The model plays the system's provider, which offers no management interface
// here: other providers are not registered, and the system's answers
// E_NOINTERFACE, as on a machine without the differential area settings.
extern "C" HRESULT APIENTRY GetProviderMgmtInterfaceInternal(VSS_ID providerId, IID interfaceId,
                                                             IUnknown** object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  return frostcap::simulator::com::guarded([&]() -> HRESULT {
    return frostcap::simulator::com::onCurrentRun(
        [&](frostcap::simulator::com::Run& run) -> HRESULT {
          wchar_t text[40] = {};
          StringFromGUID2(interfaceId, text, 40);
          run.simulation().note(
              "GetProviderMgmtInterface",
              "GetProviderMgmtInterface(" +
                  frostcap::platform::wideToUtf8(frostcap::simulator::com::fromWide(text)) + ")");
          constexpr HRESULT kProviderNotRegistered = static_cast<HRESULT>(0x80042304);
          if (providerId != frostcap::simulator::com::kSystemProvider)
            return kProviderNotRegistered;
          return E_NOINTERFACE;
        });
  });
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  // Once a run exists the DLL is pinned, so this is the end of the process.
  if (reason == DLL_PROCESS_DETACH) frostcap::simulator::com::endRuns();
  return TRUE;
}
