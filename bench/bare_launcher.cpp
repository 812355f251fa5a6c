// The launcher's work with nothing else: the same registry read, path and
// process start, no crash guard and no library. The start-up benchmark
// measures run.exe against it.
#include <windows.h>

#include <cstring>

namespace {

const DWORD kBufferSize = 10240;

bool ReadInstallationPath(char* path) {
  const struct {
    HKEY root;
    REGSAM access;
  } attempts[] = {{HKEY_CURRENT_USER, KEY_READ | KEY_WOW64_32KEY},
                  {HKEY_CURRENT_USER, KEY_READ},
                  {HKEY_LOCAL_MACHINE, KEY_READ | KEY_WOW64_32KEY},
                  {HKEY_LOCAL_MACHINE, KEY_READ}};
  HKEY key = nullptr;
  for (const auto& attempt : attempts)
    if (RegOpenKeyExA(attempt.root, "Software\\NARV", 0, attempt.access, &key) == 0) break;
  if (!key) return false;
  DWORD type = 0, size = kBufferSize - 1;
  LONG status = RegQueryValueExA(key, "Installation path", nullptr, &type,
                                 reinterpret_cast<BYTE*>(path), &size);
  RegCloseKey(key);
  if (status != 0 || type != REG_SZ || size == 0) return false;
  path[size] = 0;
  return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[kBufferSize];
  if (!ReadInstallationPath(path)) {
    MessageBoxA(nullptr, "Couldn't obtain installation path", "Error", MB_OK | MB_ICONERROR);
    return -1;
  }
  char scratch[16];
  strcat(path, GetEnvironmentVariableA("ProgramFiles(x86)", scratch, sizeof scratch)
                   ? "\\NARV64.exe" : "\\NARV.exe");
  char commandLine[kBufferSize + 2];
  strcpy(commandLine, "\"");
  strcat(strcat(commandLine, path), "\"");
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  if (!CreateProcessA(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info))
    return 0;
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return 0;
}
