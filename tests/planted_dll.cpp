// Planted under a product library's name, it leaves a mark beside itself
// when its entry point runs: anything that loaded it shows.
#include <windows.h>

#include <cstring>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  char mark[MAX_PATH + 16];
  DWORD length = GetModuleFileNameA(self, mark, MAX_PATH);
  if (reason != DLL_PROCESS_ATTACH || length == 0 || length >= MAX_PATH) return TRUE;
  strcpy(strrchr(mark, '\\') + 1, "entry.ran");
  CloseHandle(CreateFileA(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  return TRUE;
}
