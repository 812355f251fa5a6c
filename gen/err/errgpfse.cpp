#include "gen/err/errgpfse.h"

#include <csignal>
#include <cstdlib>
#include <exception>

#include "gen/InitOrder.h"
#include "gen/err/Err.h"
#include "gen/err/ExceptionText.h"

// Not constant-initialized (the all-ones handles), so it must be set up
// before the guard object below fills it in.
GuardState guardState INIT_ORDER_CRASH_GUARD;
ProductInfo productInfo;

const char kPaintReadyEvent[] = "PAINTREADY_407488BC-2198-45c2-AA0D-B6206B0F5797-32";
const char kCaptureReadyEvent[] = "CAPTUREREADY_407488BC-2198-45c2-AA0D-B6206B0F5797-32";
const char kSharedMutex[] = "MUTEX_407488BC-2198-45c2-AA0D-B6206B0F5797-32";
const char kCaptureMutex[] = "CAPTURE_MUTEX";
const char kSharedFileMap[] = "FILE_MAP_4E8D2E59-63DF-4faa-9B06-90F3FE62E28D-32";
const char kSharedFileMutex[] = "FILE_MUTEX_407488BC-2198-45c2-AA0D-B6206B0F5797-32";

namespace {

const int kSignals[] = {SIGINT, SIGILL, SIGFPE, SIGSEGV, SIGTERM, SIGBREAK, SIGABRT};
const uint32_t kMachineX86 = 0x14C;
const SIZE_T kReserveSize = 0x2000000;
const DWORD kSiblingAccess = 0x1F0003;
const DWORD kPulseMs = 20;
const UINT kFailureExitCode = 0xFFFFFFFF;

void __cdecl RaiseInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*,
                                   unsigned, uintptr_t) {
  RaiseException(kInvalidParameterException, 0, 0, nullptr);
}

void RaiseIllegalInstruction() {
  RaiseException(kIllegalInstructionException, 0, 0, nullptr);
}

void __cdecl RaiseIllegalInstructionCdecl() { RaiseIllegalInstruction(); }

[[noreturn]] void EndProcessAfterFailure() {
  if (guardState.partnerProcess != INVALID_HANDLE_VALUE)
    TerminateProcess(guardState.partnerProcess, kFailureExitCode);
  if (guardState.partnerThread != INVALID_HANDLE_VALUE)
    TerminateThread(guardState.partnerThread, kFailureExitCode);
  TerminateProcess(GetCurrentProcess(), kFailureExitCode);
  for (;;) Sleep(INFINITE);
}

// No report and no sibling release: the runtime gave up on the program.
void KillRoutine() { EndProcessAfterFailure(); }

void InstallSignals() {
  for (int number : kSignals) signal(number, OnSignal);
}

void CreatePrivateHeap() {
  if (guardState.privateHeap) return;
  guardState.privateHeap = HeapCreate(HEAP_CREATE_ENABLE_EXECUTE, 0, 0);
  if (!guardState.privateHeap) RaiseException(kOutOfMemory, 0, 0, nullptr);
  HeapSetInformation(guardState.privateHeap, HeapEnableTerminationOnCorruption,
                     nullptr, 0);
}

void AllocateReserve() {
  if (guardState.reserveBlock) return;
  guardState.reserveBlock = HeapAlloc(guardState.privateHeap, 0, kReserveSize);
}

// Running out of address space is this 32-bit program's most common end,
// and the symbol handler maps every module and symbol file it reads: under
// Wine a report took about 252 MiB beyond what the program held, besides
// the 32 MiB of the reserve block it frees (fault_bench in bench/ prints
// the figure). Reserved, not committed: it costs no memory, only address
// space the program would otherwise fill last.
const SIZE_T kAddressReserveSize = 320u << 20;

void ReserveAddressSpace() {
  if (guardState.addressReserve) return;
  guardState.addressReserve =
      VirtualAlloc(nullptr, kAddressReserveSize, MEM_RESERVE, PAGE_NOACCESS);
}

}  // namespace

void ReleaseAddressReserve() {
  if (guardState.addressReserve) VirtualFree(guardState.addressReserve, 0, MEM_RELEASE);
  guardState.addressReserve = nullptr;
}

void CrashGuardTearDown() {
  if (guardState.reserveBlock) {
    if (guardState.privateHeap)
      HeapFree(guardState.privateHeap, 0, guardState.reserveBlock);
    guardState.reserveBlock = nullptr;
  }
  ReleaseAddressReserve();
  if (guardState.privateHeap) {
    HeapDestroy(guardState.privateHeap);
    guardState.privateHeap = nullptr;
  }
  if (guardState.vectoredHandler) {
    RemoveVectoredExceptionHandler(guardState.vectoredHandler);
    guardState.vectoredHandler = nullptr;
  }
  if (guardState.savedInvalidParameterHandler)
    _set_invalid_parameter_handler(guardState.savedInvalidParameterHandler);
  for (int number : kSignals) signal(number, SIG_DFL);
}

namespace {

void PulseEvent(const char* name) {
  HANDLE event = OpenEventA(kSiblingAccess, FALSE, name);
  if (!event) return;
  SetEvent(event);
  Sleep(kPulseMs);
  ResetEvent(event);
  CloseHandle(event);
}

void ReleaseNamedMutex(const char* name) {
  HANDLE mutex = OpenMutexA(kSiblingAccess, FALSE, name);
  if (!mutex) return;
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

}  // namespace

CrashGuard::CrashGuard(bool consoleMode) {
  guardState.consoleMode = consoleMode;
  guardState.machineType = kMachineX86;
  guardState.inHandler = false;
  InstallSignals();
  guardState.savedInvalidParameterHandler =
      _set_invalid_parameter_handler(RaiseInvalidParameter);
  std::set_terminate(KillRoutine);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  std::set_unexpected(RaiseIllegalInstruction);
#pragma GCC diagnostic pop
  _set_purecall_handler(RaiseIllegalInstructionCdecl);
  guardState.vectoredHandler = AddVectoredExceptionHandler(1, OnStructuredException);
  // Structured exceptions never become C++ exceptions under this compiler,
  // so the runtime has no translator to install; see TranslateErrFrameException.
  CreatePrivateHeap();
  AllocateReserve();
  ReserveAddressSpace();
  atexit(CrashGuardTearDown);
}

void ReleaseSiblingWaits() {
  PulseEvent(kPaintReadyEvent);
  PulseEvent(kCaptureReadyEvent);
  ReleaseNamedMutex(kSharedMutex);
  ReleaseNamedMutex(kCaptureMutex);
}

void TerminateAfterFailure() {
  ReleaseSiblingWaits();
  if (guardState.savedCursor) {
    SetSystemCursor(guardState.savedCursor, 32512);
    DestroyCursor(guardState.savedCursor);
    guardState.savedCursor = nullptr;
  }
  EndProcessAfterFailure();
}

// The compiler's own pure-call hook; the runtime's handler above is never
// reached by code of this compiler.
extern "C" void __wrap___cxa_pure_virtual() { RaiseIllegalInstruction(); }

// Every program of the product links this object (the library target asks
// the linker for it), so the guard is in force before any other code runs.
extern "C" {
CrashGuard crashGuard INIT_ORDER_CRASH_GUARD(crashGuardConsoleMode);
}
