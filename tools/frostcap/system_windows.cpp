#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>

#include "platform/utf_codec.h"
#include "system.h"

namespace frostcap::cli {
namespace {

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
