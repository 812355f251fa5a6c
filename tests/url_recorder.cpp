// Stands in for the system's URL module and records what its handler is
// given: the address, byte for byte, in "<this module's path>.received".
#include <windows.h>

extern "C" __declspec(dllexport) void CALLBACK FileProtocolHandler(HWND, HINSTANCE,
                                                                    LPSTR address, int) {
  HMODULE self = nullptr;
  char path[MAX_PATH + 16];
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&FileProtocolHandler), &self) ||
      !GetModuleFileNameA(self, path, MAX_PATH))
    return;
  lstrcatA(path, ".received");
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, address, lstrlenA(address), &written, nullptr);
  CloseHandle(file);
}
