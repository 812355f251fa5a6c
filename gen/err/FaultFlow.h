#pragma once
#include <windows.h>

// Thread routines of the fault flow; each ends the process.
DWORD WINAPI ProduceCrashReport(LPVOID);
DWORD WINAPI ReportNestedFailure(LPVOID);

// The process-wide module handle: the program's own executable.
extern HMODULE moduleHandle;
