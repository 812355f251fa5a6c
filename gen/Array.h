#pragma once
#include <cstdint>

#include "gen/Memwing.h"

// The system's containers of plain, fixed-size elements, on the private
// heap. They work in bytes and move elements with raw byte copies, so they
// hold only elements that survive such a move (IsByteMovable, gen/array.inl).
// Bounds are checked; a failed check ends the process with a crash report.

// No block or size may exceed this: 256 bytes short of the 32-bit range.
// ByteCount (gen/Memwing.h) holds an element count too large for 32 bits
// above it, so such a count fails the limit checks.
const uint32_t kArrayLimit = 0xFFFFFEFF;

// An owning block of bytes: begin and end (one past the last byte), both
// null when no block is held. Contents are never cleared for the caller.
class ByteBlock {
 public:
  ByteBlock() = default;
  ByteBlock(ByteBlock&& other) noexcept;
  ByteBlock& operator=(ByteBlock&& other) noexcept;
  // Two owners of one block would free it twice.
  ByteBlock(const ByteBlock&) = delete;
  ByteBlock& operator=(const ByteBlock&) = delete;
  ~ByteBlock() { Release(); }

  // Frees a held block first; the new contents are not cleared.
  void Allocate(uint32_t size);
  // Takes over a (begin, end) pair of a block from MemAlloc and clears the
  // pair; this block must hold nothing.
  void TakeOver(char*& begin, char*& end);
  // Allocate of the other's size, then its bytes.
  void CopyFrom(const ByteBlock& other);
  // Overwrites this block's bytes with the other's; the sizes must match.
  void CopyBytesFrom(const ByteBlock& other);
  // True when a block was held.
  bool Release();
  // Release of a block that must be held.
  void ReleaseHeld();

  char* At(uint32_t offset) const;                       // before End()
  char* At(uint32_t index, uint32_t elementSize) const;  // a whole element
  inline bool IsHeld() const;
  inline uint32_t Size() const;
  char* Begin() const { return begin_; }
  char* End() const { return end_; }

 private:
  char* begin_ = nullptr;
  char* end_ = nullptr;
};

// A growable array: begin, used end, capacity end; all null when no block
// is held. Grows by 5/3, to whole elements.
class DynArray {
 public:
  DynArray() = default;
  DynArray(DynArray&& other) noexcept { MoveAssign(other); }
  DynArray& operator=(DynArray&& other) noexcept {
    MoveAssign(other);
    return *this;
  }
  DynArray(const DynArray&) = delete;
  DynArray& operator=(const DynArray&) = delete;
  ~DynArray() { Release(); }

  // Sets the capacity in bytes. The used bytes always stay: a request
  // below the used size is cut to it, so Reserve(0) fits the block to its
  // contents (and frees it when nothing is used).
  void Reserve(uint32_t capacity);
  // Sets the used size in bytes, growing the capacity when needed.
  void Resize(uint32_t size, uint32_t elementSize);
  void Grow(uint32_t addedBytes, uint32_t elementSize);
  // Adds one element for the caller to fill; its address is taken after
  // any growth.
  inline char* Push(uint32_t elementSize);
  // Moves the used end by `count` bytes: a positive count adds room for
  // the caller to fill (returned), a negative one drops bytes from the
  // end (the new used end is returned).
  inline char* PushBytes(int32_t count);
  // Full, and full at the limit: nothing more can be added.
  bool IsAtLimit() const;
  // Hands the used bytes to `target`: an exactly full array hands over its
  // block without a copy (the target must hold nothing), any other array
  // gives an exact-size copy. The array is empty afterwards.
  void ToBlock(ByteBlock& target);
  // Unless `other` is this array: releases this one and takes the other's
  // block, leaving the other empty.
  void MoveAssign(DynArray& other) noexcept;
  void Release();

  char* At(uint32_t offset) const;                       // before the used end
  char* At(uint32_t index, uint32_t elementSize) const;  // a whole used element
  uint32_t UsedSize() const { return static_cast<uint32_t>(used_ - begin_); }
  uint32_t Capacity() const { return static_cast<uint32_t>(end_ - begin_); }
  bool IsEmpty() const { return used_ == begin_; }
  char* Begin() const { return begin_; }
  char* End() const { return used_; }

 private:
  char* begin_ = nullptr;
  char* used_ = nullptr;
  char* end_ = nullptr;
};

// A range of elements given by the addresses of its first element and one
// past its last.
struct ByteRange {
  char* begin;
  char* end;
};

// True where a run ends: between `previous` and `current`, two adjacent
// elements.
typedef bool (*RunBoundary)(const void* previous, const void* current, void* context);

// The run at the start of `range`: up to the first boundary, or the whole
// range when there is none.
ByteRange PeekRun(ByteRange range, uint32_t stride, RunBoundary atBoundary, void* context);
// PeekRun that also moves the range's begin behind the run.
ByteRange TakeRun(ByteRange& range, uint32_t stride, RunBoundary atBoundary, void* context);

// The bucket of an element: below the bucket count.
typedef uint32_t (*BucketKey)(const void* element, void* context);

// Stable in-place distribution sort of the elements from `begin` to `end`
// by bucket index: elements of equal index keep their order.
void BucketSort(void* begin, void* end, uint32_t elementSize, uint32_t bucketCount,
                BucketKey key, void* context);

#include "gen/array.inl"
