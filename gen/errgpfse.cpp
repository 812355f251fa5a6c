#include "gen/errgpfse.h"

#include <cstdlib>

#include "gen/InitOrder.h"

GuardState guardState;

namespace {

const DWORD kOutOfMemory = 9998;
const SIZE_T kReserveSize = 0x2000000;

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

void TearDown() {
  if (guardState.reserveBlock) {
    if (guardState.privateHeap)
      HeapFree(guardState.privateHeap, 0, guardState.reserveBlock);
    guardState.reserveBlock = nullptr;
  }
  if (guardState.privateHeap) {
    HeapDestroy(guardState.privateHeap);
    guardState.privateHeap = nullptr;
  }
}

}  // namespace

CrashGuard::CrashGuard(bool consoleMode) {
  guardState.consoleMode = consoleMode;
  CreatePrivateHeap();
  AllocateReserve();
  atexit(TearDown);
}

// Every program of the product links this object (the library target asks
// the linker for it), so the guard is in force before any other code runs.
extern "C" {
CrashGuard crashGuard INIT_ORDER_CRASH_GUARD(false);
}
