// Stands in for a program that another program starts: it reports how it
// was started in "<its own path>.started" and ends. It opens no window.
#include <windows.h>

#include <string>

#include "toolkit/WinTest.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char self[32768];
  DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  if (length == 0 || length >= sizeof self) return 1;
  std::string report = std::string(self) + "\n" + GetCommandLineA() + "\n" +
                       std::to_string(GetCurrentProcessId()) + "\n";
  // Written under another name and then renamed, so that a test polling for
  // the report never reads half of it.
  std::string partial = std::string(self) + ".partial";
  HANDLE file = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileExA(partial.c_str(), (std::string(self) + ".started").c_str(),
                MOVEFILE_REPLACE_EXISTING);
  }

  // Held: waits (at most a minute) for the event the variable names.
  char name[MAX_PATH];
  length = GetEnvironmentVariableA(kRecorderHoldVariable, name, sizeof name);
  HANDLE hold = length && length < sizeof name ? OpenEventA(SYNCHRONIZE, FALSE, name) : nullptr;
  if (hold) {
    WaitForSingleObject(hold, 60000);
    CloseHandle(hold);
  }
  return 0;
}
