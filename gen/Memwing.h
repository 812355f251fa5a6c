#pragma once
#include <cstdint>

// The one allocator of the system's own code, on the crash guard's private
// heap. Running out of memory raises exception 9998 instead of returning
// null; only a refused zero-byte request returns null.
void* MemAlloc(uint32_t size);
void* MemRealloc(void* block, uint32_t size);
int MemFree(void* block);  // null is a programming error (checked)
void MemFreeIfAny(void* block);

// count * elementSize, held at 0xFFFFFFFF when the product leaves the
// 32-bit range, so that an oversized request can never wrap into a small
// size that a caller would then fill past its end.
inline uint32_t ByteCount(uint32_t count, uint32_t elementSize) {
  uint64_t bytes = static_cast<uint64_t>(count) * elementSize;
  return bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
}

// MemAlloc of `count` elements; a count whose bytes do not fit in 32 bits
// is out of memory like any other request that cannot be met.
void* MemAllocElements(uint32_t count, uint32_t elementSize);

// Typed forms for other modules, same contracts as the routines above.
template <typename T> T* MemAllocArray(uint32_t count) {
  return static_cast<T*>(MemAllocElements(count, static_cast<uint32_t>(sizeof(T))));
}
template <typename T> T* MemAllocOne() { return MemAllocArray<T>(1); }
template <typename T> int MemFreeArray(T* block) { return MemFree(block); }
template <typename T> int MemFreeOne(T* block) { return MemFree(block); }
template <typename T> void MemFreeArrayIfAny(T* block) { MemFreeIfAny(block); }
