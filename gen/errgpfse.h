#pragma once
#include <windows.h>

// Process-wide state of the crash guard. Unlocked: written by whichever
// thread is handling a failure, read by the rest of the library.
struct GuardState {
  bool consoleMode = false;
  HANDLE privateHeap = nullptr;  // the library's heap (gen/Memwing)
  void* reserveBlock = nullptr;  // released first when memory runs out
};

extern GuardState guardState;

// Installed by the first of the system's static initializers; tears itself
// down at normal exit (registered with atexit).
class CrashGuard {
 public:
  explicit CrashGuard(bool consoleMode);
  CrashGuard(const CrashGuard&) = delete;
  CrashGuard& operator=(const CrashGuard&) = delete;
};
