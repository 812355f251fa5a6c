// Stands in for the system's URL module ("url.dll") where the platform's
// own cannot open long addresses: rundll32 calls FileProtocolHandler with
// the rest of its command line, one quoted address, and this starts the
// command registered for the address's scheme with the address for "%1",
// unchanged. With URL_STANDIN_RECORD naming a file, it first writes there
// what it was given, byte for byte.
#include <windows.h>

#include <cstdio>
#include <string>

extern "C" __declspec(dllexport) void CALLBACK FileProtocolHandler(HWND, HINSTANCE,
                                                                    LPSTR argument, int) {
  char record[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("URL_STANDIN_RECORD", record, MAX_PATH);
  if (FILE* file = length && length < MAX_PATH ? fopen(record, "wb") : nullptr) {
    fputs(argument, file);
    fclose(file);
  }
  std::string address = argument;
  if (address.size() >= 2 && address.front() == '"' && address.back() == '"')
    address = address.substr(1, address.size() - 2);
  std::string key = address.substr(0, address.find(':')) + "\\shell\\open\\command";
  char registered[4096];
  DWORD size = sizeof registered;
  if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, registered,
                   &size) != ERROR_SUCCESS)
    return;
  std::string command = registered;
  size_t placeholder = command.find("%1");
  if (placeholder == std::string::npos) return;
  command.replace(placeholder, 2, address);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}
