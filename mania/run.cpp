// The product's launcher: finds the installation folder in the registry and
// starts the product's 32- or 64-bit executable from it, without waiting.

#include <windows.h>

#include <cstring>

#include "gen/Str.h"
#include "mania/Bounded.h"
#include "mania/Process.h"

namespace {

const uint32_t kBufferSize = 10240;
const char kProductKey[] = "Software\\NARV";
const char kPathValue[] = "Installation path";
const char kWow64Variable[] = "ProgramFiles(x86)";

struct KeyAttempt {
  HKEY root;
  REGSAM access;
};

// The first key that opens ends the search, even if its value is unusable.
const KeyAttempt kKeyAttempts[] = {
    {HKEY_CURRENT_USER, KEY_READ | KEY_WOW64_32KEY},
    {HKEY_CURRENT_USER, KEY_READ},
    {HKEY_LOCAL_MACHINE, KEY_READ | KEY_WOW64_32KEY},
    {HKEY_LOCAL_MACHINE, KEY_READ},
};

LONG OpenProductKey(HKEY* key) {
  LONG status = ERROR_FILE_NOT_FOUND;
  for (const KeyAttempt& attempt : kKeyAttempts) {
    status = RegOpenKeyExA(attempt.root, kProductKey, 0, attempt.access, key);
    if (status == ERROR_SUCCESS) break;
  }
  return status;
}

// Leaves `path` empty unless the value is a non-empty REG_SZ. A value that
// fills the whole buffer with no terminator is refused as too long (234)
// rather than cut: a shortened folder would start some other program.
LONG ReadInstallationPath(char* path) {
  path[0] = 0;
  HKEY key;
  LONG status = OpenProductKey(&key);
  if (status != ERROR_SUCCESS) return status;
  DWORD type = 0;
  DWORD size = kBufferSize;
  status = RegQueryValueExA(key, kPathValue, nullptr, &type,
                            reinterpret_cast<BYTE*>(path), &size);
  RegCloseKey(key);
  bool accepted = status == ERROR_SUCCESS && type == REG_SZ && size != 0;
  if (!accepted) {
    path[0] = 0;
  } else if (size < kBufferSize) {
    path[size] = 0;
  } else if (!memchr(path, 0, kBufferSize)) {
    path[0] = 0;
    status = ERROR_MORE_DATA;
  }
  return status;
}

bool IsWindows64() {
  char scratch[kBufferSize];
  return GetEnvironmentVariableA(kWow64Variable, scratch, kBufferSize) != 0;
}

void ComposeProgramPath(char* path) {
  AppendOrFail(path, kBufferSize, "\\NARV");
  if (IsWindows64()) AppendOrFail(path, kBufferSize, "64");
  AppendOrFail(path, kBufferSize, ".exe");
}

void ReportMissingPath(LONG status) {
  Str message("Couldn't obtain installation path");
  char systemText[kBufferSize];
  if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(status), 0,
                     systemText, kBufferSize, nullptr) != 0)
    message = Str::Format("%s:\n\n%s", message.Text(), systemText);
  MessageBoxA(nullptr, message, "Error", MB_OK | MB_ICONERROR);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[kBufferSize];
  LONG status = ReadInstallationPath(path);
  if (path[0] == 0) {
    ReportMissingPath(status);
    return -1;
  }
  ComposeProgramPath(path);
  StartProgram(path, false, false);
  return 0;
}
