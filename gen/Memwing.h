#pragma once
#include <cstdint>

// The one allocator of the system's own code, on the crash guard's private
// heap. Running out of memory raises exception 9998 instead of returning
// null; only a refused zero-byte request returns null.
void* MemAlloc(uint32_t size);
void* MemRealloc(void* block, uint32_t size);
int MemFree(void* block);  // null is a programming error (checked)
void MemFreeIfAny(void* block);

// Typed forms for other modules, same contracts as the routines above.
template <typename T> T* MemAllocArray(uint32_t count) {
  return static_cast<T*>(MemAlloc(count * static_cast<uint32_t>(sizeof(T))));
}
template <typename T> T* MemAllocOne() { return MemAllocArray<T>(1); }
template <typename T> int MemFreeArray(T* block) { return MemFree(block); }
template <typename T> int MemFreeOne(T* block) { return MemFree(block); }
template <typename T> void MemFreeArrayIfAny(T* block) { MemFreeIfAny(block); }
