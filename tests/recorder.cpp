// Stands in for a program that another program starts: it reports how it
// was started in "<its own path>.started" and ends. It opens no window.
#include <windows.h>

#include <string>

#include "toolkit/WinTest.h"

namespace {

// Written under another name and then renamed, so that a test polling for
// the report never reads half of it.
void WriteReport(const std::string& self, const std::string& report) {
  std::string partial = self + ".partial";
  HANDLE file = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
  CloseHandle(file);
  MoveFileExA(partial.c_str(), (self + ".started").c_str(), MOVEFILE_REPLACE_EXISTING);
}

void WaitIfHeld() {
  const DWORD kLongestHold = 60000;
  char name[MAX_PATH];
  DWORD length = GetEnvironmentVariableA(kRecorderHoldVariable, name, sizeof name);
  if (length == 0 || length >= sizeof name) return;
  HANDLE hold = OpenEventA(SYNCHRONIZE, FALSE, name);
  if (!hold) return;
  WaitForSingleObject(hold, kLongestHold);
  CloseHandle(hold);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char self[32768];
  DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  if (length == 0 || length >= sizeof self) return 1;
  WriteReport(self, std::string(self) + "\n" + GetCommandLineA() + "\n" +
                        std::to_string(GetCurrentProcessId()) + "\n");
  WaitIfHeld();
  return 0;
}
