#include "mania/Process.h"

#include <windows.h>

#include <cstring>

#include "mania/Bounded.h"

namespace {

const char kCaption[] = "Error";
const char kFailureTemplate[] = "%s\n\n\"%s\"\n\nfailed with error %d: %s";
const char kNoSystemText[] = "(no description available)";

void ShowStartFailure(const char* shownCommand, DWORD code) {
  char* systemText = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                     FORMAT_MESSAGE_FROM_SYSTEM,
                 nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                 reinterpret_cast<char*>(&systemText), 0, nullptr);
  const char* shownText = systemText ? systemText : kNoSystemText;
  SIZE_T size = strlen(shownText) + strlen("CreateProcess") + strlen(shownCommand) + 40;
  char* message = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, size));
  if (message) {
    BoundedFormat(message, static_cast<uint32_t>(LocalSize(message)), kFailureTemplate,
                  "CreateProcess", shownCommand, static_cast<int>(code), shownText);
    MessageBoxA(nullptr, message, kCaption, MB_OK);
    LocalFree(message);
  }
  if (systemText) LocalFree(systemText);
}

// applicationName may be null: the system then finds the program in the
// command line. shownCommand is what the user is told failed to start.
uint32_t Start(const char* applicationName, char* commandLine,
               const char* shownCommand, bool wait, bool hide) {
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (hide) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  PROCESS_INFORMATION process;
  memset(&process, 0, sizeof process);
  if (!CreateProcessA(applicationName, commandLine, nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &process)) {
    DWORD code = GetLastError();
    ShowStartFailure(shownCommand, code);
    return code;
  }
  if (wait) WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return 0;
}

}  // namespace

uint32_t StartProcess(char* commandLine, bool wait, bool hide) {
  return Start(nullptr, commandLine, commandLine, wait, hide);
}

uint32_t StartProgram(const char* programPath, bool wait, bool hide) {
  size_t length = strlen(programPath);
  // CreateProcessA may write into the command line, so it gets its own copy.
  char* quoted = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, length + 3));
  if (!quoted) {
    ShowStartFailure(programPath, ERROR_NOT_ENOUGH_MEMORY);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  quoted[0] = '"';
  memcpy(quoted + 1, programPath, length);
  quoted[length + 1] = '"';
  uint32_t result = Start(programPath, quoted, programPath, wait, hide);
  LocalFree(quoted);
  return result;
}
