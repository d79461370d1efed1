#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <cguid.h>
#include <io.h>
#include <objbase.h>
#include <objidl.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/utf_codec.h"
#include "system.h"
#include "vss/com/com_ptr.h"

namespace frostcap::cli {
namespace {

std::string hex(HRESULT status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(status));
  return text;
}

std::string lastError() { return "error " + std::to_string(GetLastError()); }

// A kernel or service handle, closed when it goes out of scope.
template <typename Handle, auto Close>
class Owned {
 public:
  explicit Owned(Handle handle) : handle_(handle) {}
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() {
    if (handle_ != nullptr) Close(handle_);
  }
  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  Handle handle_;
};
using KernelHandle = Owned<HANDLE, CloseHandle>;
using ServiceHandle = Owned<SC_HANDLE, CloseServiceHandle>;

// Wine answers most calls as Windows does but has no shadow copy service, so
// some findings there say what cannot be known rather than what is wrong.
bool underWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// COM's own catching of fatal exceptions in incoming calls would hide a crash
// during a writer's callback and leave the process in an unknown state.
HRESULT stopComCatchingExceptions() {
  vss::com::ComPtr<IGlobalOptions> options;
  HRESULT status = CoCreateInstance(CLSID_GlobalOptions, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IGlobalOptions, reinterpret_cast<void**>(options.put()));
  if (SUCCEEDED(status))
    status = options->Set(COMGLB_EXCEPTION_HANDLING, COMGLB_EXCEPTION_DONOT_HANDLE);
  return status;
}

Check elevation(HANDLE token) {
  Check check{"elevated token"};
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (token == nullptr ||
      !GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size)) {
    check.finding = "the process token could not be read (" + lastError() + ")";
    return check;
  }
  if (elevation.TokenIsElevated != 0) {
    check.verdict = Verdict::kOk;
    check.finding = "the process runs elevated";
  } else {
    check.verdict = Verdict::kProblem;
    check.finding = "the process does not run elevated; the service refuses to start a backup";
    check.advice = "run from an elevated prompt (Run as administrator) or as a service";
  }
  return check;
}

Check backupPrivilege(HANDLE token) {
  Check check{"backup privilege"};
  LUID backup{};
  DWORD size = 0;
  if (token != nullptr && LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &backup)) {
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
  }
  std::vector<std::byte> buffer(size);
  if (size == 0 || !GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
    check.finding = "the token's privileges could not be read (" + lastError() + ")";
    return check;
  }
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
    if (entry.Luid.LowPart != backup.LowPart || entry.Luid.HighPart != backup.HighPart) continue;
    check.verdict = Verdict::kOk;
    check.finding = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0
                        ? "SeBackupPrivilege is held and enabled"
                        : "SeBackupPrivilege is held, not enabled: a program that reads the "
                          "shadow copies enables it in its own token first";
    return check;
  }
  check.verdict = Verdict::kProblem;
  check.finding =
      "SeBackupPrivilege is not held: files that this account may not read stay "
      "unreadable in the shadow copies";
  check.advice = "run as an administrator (elevated) or as a member of Backup Operators";
  return check;
}

Check bitness() {
  Check check{"64-bit"};
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  SYSTEM_INFO system{};
  GetNativeSystemInfo(&system);
  if (wow64 || sizeof(void*) != 8) {
    check.verdict = Verdict::kProblem;
    check.finding = wow64 ? "a 32-bit process on a 64-bit system: the service refuses requesters "
                            "that run under WOW64"
                          : "a 32-bit system";
    check.advice = "use the 64-bit frostcap on 64-bit Windows";
  } else if (system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) {
    check.verdict = Verdict::kOk;
    check.finding = "a 64-bit process on a 64-bit system (x64)";
  } else {
    check.finding = "an x64 process on a system of processor architecture " +
                    std::to_string(system.wProcessorArchitecture) +
                    ", where the library has not been tried";
    check.advice = "try a snapshot before relying on it";
  }
  return check;
}

std::string serviceState(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED:
      return "stopped";
    case SERVICE_START_PENDING:
      return "starting";
    case SERVICE_STOP_PENDING:
      return "stopping";
    case SERVICE_RUNNING:
      return "running";
    default:
      return "in state " + std::to_string(state);
  }
}

std::string startType(DWORD type) {
  switch (type) {
    case SERVICE_AUTO_START:
      return "automatic";
    case SERVICE_DEMAND_START:
      return "manual (it starts when a backup asks for it)";
    case SERVICE_DISABLED:
      return "disabled";
    default:
      return "of start type " + std::to_string(type);
  }
}

Check shadowCopyService() {
  Check check{"shadow copy service"};
  const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    check.finding = "the service control manager could not be opened (" + lastError() + ")";
    return check;
  }
  const ServiceHandle service(
      OpenServiceW(manager.get(), L"VSS", SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
  if (!service) {
    const DWORD error = GetLastError();
    check.finding = "the service VSS could not be opened (error " + std::to_string(error) + ")";
    if (error == ERROR_SERVICE_DOES_NOT_EXIST && underWine()) {
      check.finding = "Wine has no shadow copy service (VSS), so its state cannot be known here";
      check.advice = "run this check on Windows";
    } else if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
      check.verdict = Verdict::kProblem;
      check.finding = "the service VSS does not exist on this system";
      check.advice = "this edition of Windows has no shadow copy service; repair or use another";
    }
    return check;
  }
  SERVICE_STATUS_PROCESS status{};
  DWORD size = 0;
  if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                            sizeof status, &size)) {
    check.finding = "the state of VSS could not be read (" + lastError() + ")";
    return check;
  }
  QueryServiceConfigW(service.get(), nullptr, 0, &size);
  std::vector<std::byte> buffer(size);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (size == 0 || !QueryServiceConfigW(service.get(), config, size, &size)) {
    check.finding = "VSS is " + serviceState(status.dwCurrentState) +
                    "; its start type could not be read (" + lastError() + ")";
    return check;
  }
  check.finding = "VSS is " + serviceState(status.dwCurrentState) + ", start type " +
                  startType(config->dwStartType);
  if (config->dwStartType == SERVICE_DISABLED) {
    check.verdict = Verdict::kProblem;
    check.advice = "set its start type to manual: sc config VSS start= demand";
  } else {
    check.verdict = Verdict::kOk;
  }
  return check;
}

std::atomic<bool> interruptFlag{false};

BOOL WINAPI onControl(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    interruptFlag = true;
    return TRUE;
  }
  return FALSE;
}

std::wstring wide(const std::string& text) {
  const std::u16string utf16 = utf::toUtf16(text);
  return std::wstring(utf16.begin(), utf16.end());
}

// Quotes one argument as the C run-time's parser reads it back.
std::wstring quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

}  // namespace

HostSetup prepareHost() {
  HostSetup setup{true, {"COM security"}};
  // Like the library's own initialisation, this lasts as long as the process.
  const HRESULT apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (apartment == RPC_E_CHANGED_MODE) {
    setup.usable = false;
    setup.com.verdict = Verdict::kProblem;
    setup.com.finding =
        "the main thread is already in a single-threaded COM apartment (RPC_E_CHANGED_MODE), "
        "but the shadow copy service must be driven from the multithreaded one";
    setup.com.advice = "find what initialised COM before frostcap started (an injected DLL?)";
    return setup;
  }
  if (FAILED(apartment)) {
    setup.usable = false;
    setup.com.verdict = Verdict::kProblem;
    setup.com.finding = "COM could not be initialised (" + hex(apartment) + ")";
    return setup;
  }
  // The settings Microsoft documents for requesters on Windows 8 and later: any
  // process may call in (writers run under other accounts and call back during
  // the backup; the service's own callbacks are secured by it), with packet
  // privacy, impersonation and static cloaking, which the shadow copy service
  // for remote file shares also needs.
  const HRESULT security =
      CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_STATIC_CLOAKING, nullptr);
  const HRESULT exceptions = stopComCatchingExceptions();
  if (security == RPC_E_TOO_LATE) {
    setup.com.finding =
        "COM security was set in this process before frostcap could set it "
        "(RPC_E_TOO_LATE)";
    setup.com.advice =
        "if writers under other accounts fail to call back (event 8194), find "
        "what set it";
  } else if (FAILED(security)) {
    setup.com.verdict = Verdict::kProblem;
    setup.com.finding = "COM security could not be set (" + hex(security) +
                        "): writers under other accounts cannot call back (event 8194)";
  } else if (FAILED(exceptions)) {
    setup.com.verdict = Verdict::kProblem;
    setup.com.finding =
        "COM security is set, but COM's catching of fatal exceptions could not "
        "be turned off (" +
        hex(exceptions) + ")";
  } else {
    setup.com.verdict = Verdict::kOk;
    setup.com.finding =
        "multithreaded apartment; security set for a requester (packet privacy, "
        "impersonation, static cloaking); fatal exceptions not caught by COM";
  }
  return setup;
}

std::vector<Check> systemChecks() {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) opened = nullptr;
  const KernelHandle token(opened);
  return {elevation(token.get()), backupPrivilege(token.get()), bitness(), shadowCopyService()};
}

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void installInterruptHandler() { SetConsoleCtrlHandler(onControl, TRUE); }

bool interrupted() { return interruptFlag; }

HoldEnd holdUntilEnterOrInterrupt() {
  // Reading a line blocks; Ctrl-C ends it with a failed read.
  std::string line;
  if (std::getline(std::cin, line)) return interruptFlag ? HoldEnd::kInterrupted : HoldEnd::kEnter;
  return interruptFlag ? HoldEnd::kInterrupted : HoldEnd::kEndOfInput;
}

CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::vector<std::pair<std::string, std::string>>& environment) {
  for (const auto& [name, value] : environment) {
    SetEnvironmentVariableW(wide(name).c_str(), wide(value).c_str());
  }
  std::wstring commandLine;
  for (const std::string& argument : argv) {
    if (!commandLine.empty()) commandLine.push_back(L' ');
    commandLine += quoted(wide(argument));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return {false, 0, "error " + std::to_string(GetLastError())};
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return {true, static_cast<int>(exitCode), {}};
}

}  // namespace frostcap::cli
