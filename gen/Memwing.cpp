#include "gen/Memwing.h"

#include <windows.h>

#include "gen/err/Err.h"
#include "gen/err/errgpfse.h"

namespace {

const DWORD kOutOfMemory = 9998;

// Continuable, so that a handler may resume; the caller then gets null.
void* RaiseOutOfMemory() {
  RaiseException(kOutOfMemory, 0, 0, nullptr);
  return nullptr;
}

}  // namespace

void* MemAlloc(uint32_t size) {
  void* block = HeapAlloc(guardState.privateHeap, 0, size);
  if (block || size == 0) return block;
  return RaiseOutOfMemory();
}

void* MemAllocElements(uint32_t count, uint32_t elementSize) {
  uint32_t size = ByteCount(count, elementSize);
  if (size == 0xFFFFFFFFu) return RaiseOutOfMemory();
  return MemAlloc(size);
}

void* MemRealloc(void* block, uint32_t size) {
  void* moved = HeapReAlloc(guardState.privateHeap, 0, block, size);
  if (moved || size == 0) return moved;
  return RaiseOutOfMemory();
}

int MemFree(void* block) {
  if (!block) ErrAssert("..\\gen\\Memwing.cpp", 36);
  return HeapFree(guardState.privateHeap, 0, block);
}

void MemFreeIfAny(void* block) {
  if (block) HeapFree(guardState.privateHeap, 0, block);
}
