#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdlib>

// Process-wide state of the crash guard. Unlocked: written by whichever
// thread is handling a failure, read by the rest of the library.
struct GuardState {
  bool consoleMode = false;
  uint32_t machineType = 0;
  bool inHandler = false;
  _invalid_parameter_handler savedInvalidParameterHandler = nullptr;
  PVOID vectoredHandler = nullptr;
  EXCEPTION_POINTERS* exceptionPointers = nullptr;
  HMODULE urlModule = nullptr;
  char applicationPath[1024] = {};
  char osDescription[1024] = {};
  HCURSOR savedCursor = nullptr;
  HANDLE partnerProcess = INVALID_HANDLE_VALUE;
  HANDLE partnerThread = INVALID_HANDLE_VALUE;
  HANDLE privateHeap = nullptr;  // the library's heap (gen/Memwing)
  void* reserveBlock = nullptr;  // released first when memory runs out
  // Address space only, held for the report's own work (the symbol
  // handler's loads) and released when a report starts.
  void* addressReserve = nullptr;
};

extern GuardState guardState;

// What the guard tells the user and the maker about the product.
struct ProductInfo {
  const char* name = "Product";
  const char* version = "0.01";
  const char* reportAddress = "http://support.narv-ocr.example/contact.cgi?mode=errorreport&";
};

extern ProductInfo productInfo;

// Installs every handler, creates the private heap with its reserve block
// and registers the teardown with atexit. Constructed by the first of the
// system's static initializers; see gen/err/errgpfse.cpp.
class CrashGuard {
 public:
  explicit CrashGuard(bool consoleMode);
  CrashGuard(const CrashGuard&) = delete;
  CrashGuard& operator=(const CrashGuard&) = delete;
};

// Gives back the address space held for a report; nothing when none is held.
void ReleaseAddressReserve();

// Frees the reserve block, destroys the private heap and removes the
// handlers that can be removed. Registered with atexit by the constructor:
// nothing of the system may allocate or free after it has run.
void CrashGuardTearDown();

// A program that wants messages on the console instead of in boxes defines
// this as true: extern "C" const bool crashGuardConsoleMode = true;
extern "C" const bool crashGuardConsoleMode;

// The named objects shared with the product's other processes.
extern const char kPaintReadyEvent[];
extern const char kCaptureReadyEvent[];
extern const char kSharedMutex[];
extern const char kCaptureMutex[];
extern const char kSharedFileMap[];
extern const char kSharedFileMutex[];

// Pulses the shared events and releases the shared mutexes, so that the
// product's other processes stop waiting for this one. Missing objects are
// skipped.
void ReleaseSiblingWaits();

// The last stage of every handled failure: releases the siblings, restores
// the cursor, ends the partner process and thread, and ends this process
// with exit code 0xFFFFFFFF.
[[noreturn]] void TerminateAfterFailure();

// The guard's first-in-chain vectored handler (the fault flow).
LONG CALLBACK OnStructuredException(EXCEPTION_POINTERS* pointers);
