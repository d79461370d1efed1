#include "field_environments.h"

#include <algorithm>
#include <cstdlib>

#include "messages.h"

namespace frostcap::cli {

const std::vector<FieldEnvironment>& fieldEnvironments() {
  static const std::vector<FieldEnvironment> rows = {
      {{"0x80070422"},  // HRESULT_FROM_WIN32(ERROR_SERVICE_DISABLED)
       Verdict::kProblem,
       "the shadow copy service (VSS) is disabled, so it cannot start when a backup asks",
       "set its start type to manual: sc config VSS start= demand"},
      {{"0x80010106"},  // RPC_E_CHANGED_MODE
       Verdict::kProblem,
       "the thread is already in a single-threaded COM apartment (RPC_E_CHANGED_MODE), but the "
       "shadow copy service must be driven from the multithreaded one",
       "drive the library from a thread of the multithreaded apartment, never from a GUI thread "
       "or an [STAThread] Main; for frostcap.exe, find what initialised COM before it started "
       "(an injected DLL?)"},
      {{"0x8004230C", "0x8004230E", "0x8004232C"},
       Verdict::kProblem,
       "no provider can copy this volume (VSS_E_VOLUME_NOT_SUPPORTED, _BY_PROVIDER or "
       "VSS_E_NESTED_VOLUME_LIMIT): a FAT32 volume, an EFI system partition, a virtual disk "
       "inside another",
       "leave the volume out of the set and back its files up another way (an EFI system "
       "partition belongs to a disk image), or copy a FAT32 data volume after converting it to "
       "NTFS"},
      {{"0x80042313", "0x80042314"},
       Verdict::kProblem,
       "the system could not flush or hold the volume's writes in time for the copy "
       "(VSS_E_FLUSH_WRITES_TIMEOUT, VSS_E_HOLD_WRITES_TIMEOUT): the volume was too busy",
       "try again when the volume is quieter (Microsoft advises waiting ten minutes, up to three "
       "times: frostcap snapshot --retries 3); if it persists, look for volsnap entries in the "
       "System log"},
      {{kNoDevicePath},
       Verdict::kProblem,
       "the copy was made, but its provider mapped it to no device path, so nothing can read it",
       "use the system's own provider (frostcap snapshot --system-provider), or ask the vendor "
       "of the default provider (vssadmin list providers) to expose its copies to this machine"},
      {{kTrialTimedOut},
       Verdict::kProblem,
       "the trial did not end within --timeout: the service, a provider or the volume's freeze "
       "is stuck or very slow",
       "look for VSS and volsnap entries in the event logs and at vssadmin list providers; give "
       "a longer --timeout if the server is merely slow"},
      {{"0x80004001"},  // E_NOTIMPL
       Verdict::kCannotTell,
       "the system's shadow copy API answered that it is not implemented (Wine's stand-in does): "
       "there is no service here to try",
       "run doctor on Windows"},
  };
  return rows;
}

const FieldEnvironment& fieldEnvironment(std::string_view sign) {
  for (const FieldEnvironment& row : fieldEnvironments()) {
    if (std::find(row.signs.begin(), row.signs.end(), sign) != row.signs.end()) return row;
  }
  std::abort();  // a sign of the command's own without its row
}

const FieldEnvironment* recogniseEnvironment(const std::vector<std::string>& messages) {
  for (const FieldEnvironment& row : fieldEnvironments()) {
    for (std::string_view sign : row.signs) {
      if (sign.rfind("0x", 0) == 0 && mentions(messages, sign)) return &row;
    }
  }
  return nullptr;
}

}  // namespace frostcap::cli
