#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <cguid.h>
#include <objbase.h>
#include <objidl.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cwchar>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "console_events.h"
#include "field_environments.h"
#include "platform/append_file.h"
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
    // Reading is all a backup does; SeRestorePrivilege is for writing files
    // back whatever their security, so it is neither needed nor enabled.
    check.finding = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0
                        ? "SeBackupPrivilege is held and enabled (frostcap enables it at start); "
                          "SeRestorePrivilege is not needed, since a backup only reads"
                        : "SeBackupPrivilege is held, but could not be enabled";
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
    check.advice = fieldEnvironment("0x80070422").fix;  // ERROR_SERVICE_DISABLED
  } else {
    check.verdict = Verdict::kOk;
  }
  return check;
}

// The first interruption wins: its exit code and what it was.
std::atomic<int> interruptCode{0};
std::atomic<const char*> interruptWhat{nullptr};
std::atomic<bool> finished{false};

void noteInterruption(int exitCode, const char* what) {
  int none = 0;
  if (interruptCode.compare_exchange_strong(none, exitCode)) interruptWhat = what;
}

// Runs on a thread of its own. Windows ends the process once the handler of
// a console close, logoff or shutdown returns (or after a few seconds), so it
// waits there for the run to release the copies.
BOOL WINAPI onControl(DWORD event) {
  const ConsoleAction action = consoleAction(event, interruptCode != 0);
  if (!action.handled) return FALSE;
  if (action.endAtOnce) {
    static const char kText[] = "frostcap: second Ctrl-C: ending at once; the backup failed\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kText, sizeof kText - 1, &written, nullptr);
    ExitProcess(static_cast<UINT>(action.exitCode));
  }
  noteInterruption(action.exitCode, action.what);
  for (int waited = 0; action.waitForRun && !finished && waited < 4500; waited += 50) Sleep(50);
  return TRUE;
}

// Enables the backup privilege in the process token where the token holds it,
// so that the library's listing and a command run during the snapshot read
// what only a backup may read. Best effort: doctor reports what came of it.
void enableBackupPrivilege() {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &opened)) {
    return;
  }
  const KernelHandle token(opened);
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &privileges.Privileges[0].Luid)) {
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
  }
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

ConsoleAction consoleAction(unsigned long event, bool alreadyInterrupted) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return {true, alreadyInterrupted, false, 130, "Ctrl-C"};
    case CTRL_CLOSE_EVENT:
      return {true, false, true, 129, "the console closing"};
    case CTRL_LOGOFF_EVENT:
      return {true, false, true, 143, "the logoff"};
    case CTRL_SHUTDOWN_EVENT:
      return {true, false, true, 143, "the shutdown"};
    default:
      return {};
  }
}

HostSetup prepareHost() {
  enableBackupPrivilege();
  HostSetup setup{true, {"COM security"}};
  // Like the library's own initialisation, this lasts as long as the process.
  const HRESULT apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (apartment == RPC_E_CHANGED_MODE) {
    setup.usable = false;
    setup.com.verdict = Verdict::kProblem;
    const FieldEnvironment& environment = fieldEnvironment("0x80010106");
    setup.com.finding = environment.meaning;
    setup.com.advice = environment.fix;
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

namespace {

// A console, not merely a character device: the C run-time's _isatty also
// says yes for NUL, where no operator can confirm anything.
bool isConsole(DWORD standardHandle) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(standardHandle), &mode) != 0;
}

}  // namespace

bool stderrIsTerminal() { return isConsole(STD_ERROR_HANDLE); }
bool stdinIsTerminal() { return isConsole(STD_INPUT_HANDLE); }

void installInterruptHandler() { SetConsoleCtrlHandler(onControl, TRUE); }

std::optional<Interruption> interruption() {
  const int code = interruptCode;
  if (code == 0) return std::nullopt;
  const char* what = interruptWhat;
  return Interruption{code, what != nullptr ? what : "an interruption"};
}

void interrupt(int exitCode, const char* what) { noteInterruption(exitCode, what); }

void runFinished() { finished = true; }

HoldEnd holdUntilConfirmed() {
  // Reading a line blocks; Ctrl-C ends it with a failed read.
  std::string line;
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (interruptCode != 0) return HoldEnd::kInterrupted;
  return read ? HoldEnd::kConfirmed : HoldEnd::kEndOfInput;
}

std::vector<std::string> inheritedEnvironment() {
  std::vector<std::string> entries;
  wchar_t* block = GetEnvironmentStringsW();
  if (block == nullptr) return entries;
  for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
    const std::wstring text(entry);
    entries.push_back(utf::toUtf8(std::u16string(text.begin(), text.end())));
  }
  FreeEnvironmentStringsW(block);
  return entries;
}

namespace {

// The child shares the console, so console events reach it as they reach
// this process; once the run is interrupted it has the grace period to end.
DWORD waitForChild(HANDLE process, std::chrono::duration<double> grace) {
  std::optional<std::chrono::steady_clock::time_point> killAt;
  while (WaitForSingleObject(process, 50) == WAIT_TIMEOUT) {
    const auto now = std::chrono::steady_clock::now();
    if (!killAt && interruptCode != 0) {
      killAt = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(grace);
    }
    if (killAt && now >= *killAt) {
      std::cerr << "frostcap: the command did not end within the grace period; ending it\n";
      TerminateProcess(process, 1);
      killAt = std::chrono::steady_clock::time_point::max();
    }
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process, &exitCode);
  return exitCode;
}

}  // namespace

CommandResult runCommand(const CommandSpec& spec) {
  std::wstring environment;
  for (const std::string& entry : spec.environment) {
    environment += wide(entry);
    environment.push_back(L'\0');
  }
  environment.push_back(L'\0');
  std::wstring commandLine;
  for (const std::string& argument : spec.argv) {
    if (!commandLine.empty()) commandLine.push_back(L' ');
    commandLine += quoted(wide(argument));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (spec.stdoutToStderr) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, spec.stdoutToStderr,
                      CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup,
                      &process)) {
    return {false, 0, {}, "error " + std::to_string(GetLastError())};
  }
  const KernelHandle thread(process.hThread), child(process.hProcess);
  const DWORD exitCode = waitForChild(child.get(), spec.grace);
  return {true, static_cast<int>(exitCode), {}, {}};
}

std::optional<std::string> traceTo(const std::string& path) {
  const std::u16string name = utf::toUtf16(path);
  const platform::AppendFile file(name);
  if (!file.isOpen()) return file.failure();
  if (!SetEnvironmentVariableW(platform::asWide(u"FROSTCAP_TRACE"),
                               platform::asWide(name.c_str()))) {
    return "error " + std::to_string(GetLastError());
  }
  return std::nullopt;
}

}  // namespace frostcap::cli
