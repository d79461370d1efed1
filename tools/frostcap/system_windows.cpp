#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <cguid.h>
#include <io.h>
#include <objbase.h>
#include <objidl.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>
#include <utility>

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
