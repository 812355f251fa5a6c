#include "gen/Array.h"

#include <cstring>

#include "gen/Memwing.h"
#include "gen/err/Err.h"

namespace {

const char kModule[] = "..\\gen\\Array.cpp";

// The end of element `index`, in 64 bits so that a huge index cannot wrap
// into an offset that passes the bounds check.
uint64_t ElementEnd(uint32_t index, uint32_t elementSize) {
  return (static_cast<uint64_t>(index) + 1) * elementSize;
}

}  // namespace

// --- ByteBlock -------------------------------------------------------------

ByteBlock::ByteBlock(ByteBlock&& other) noexcept : begin_(other.begin_), end_(other.end_) {
  other.begin_ = other.end_ = nullptr;
}

ByteBlock& ByteBlock::operator=(ByteBlock&& other) noexcept {
  if (this != &other) {
    Release();
    begin_ = other.begin_;
    end_ = other.end_;
    other.begin_ = other.end_ = nullptr;
  }
  return *this;
}

void ByteBlock::Allocate(uint32_t size) {
  Release();
  ERR_REQUIRE(size <= kArrayLimit, kModule, 51);
  begin_ = static_cast<char*>(MemAlloc(size));
  end_ = begin_ ? begin_ + size : nullptr;
}

void ByteBlock::TakeOver(char*& begin, char*& end) {
  ERR_REQUIRE(!IsHeld(), kModule, 57);
  begin_ = begin;
  end_ = end;
  begin = end = nullptr;
}

void ByteBlock::CopyFrom(const ByteBlock& other) {
  if (&other == this) return;
  Allocate(other.Size());
  CopyBytesFrom(other);
}

void ByteBlock::CopyBytesFrom(const ByteBlock& other) {
  ERR_REQUIRE(Size() == other.Size(), kModule, 77);
  if (Size() && &other != this) memcpy(begin_, other.begin_, Size());
}

bool ByteBlock::Release() {
  if (!IsHeld()) return false;
  MemFree(begin_);
  begin_ = end_ = nullptr;
  return true;
}

void ByteBlock::ReleaseHeld() {
  if (!Release()) ErrAssert(kModule, 74);
}

char* ByteBlock::At(uint32_t offset) const {
  ERR_REQUIRE(offset < Size(), kModule, 82);
  return begin_ + offset;
}

char* ByteBlock::At(uint32_t index, uint32_t elementSize) const {
  ERR_REQUIRE(ElementEnd(index, elementSize) <= Size(), kModule, 82);
  return begin_ + index * elementSize;
}

// --- DynArray --------------------------------------------------------------

void DynArray::Reserve(uint32_t capacity) {
  uint32_t used = UsedSize();
  if (capacity < used) capacity = used;
  if (capacity == Capacity()) return;
  ERR_REQUIRE(capacity <= kArrayLimit, kModule, 108);
  char* block = capacity ? static_cast<char*>(MemAlloc(capacity)) : nullptr;
  if (capacity && !block) return;  // out of memory, resumed by a handler
  if (used) memcpy(block, begin_, used);
  MemFreeIfAny(begin_);
  begin_ = block;
  used_ = block + used;
  end_ = block + capacity;
}

void DynArray::Resize(uint32_t size, uint32_t elementSize) {
  if (size > Capacity()) {
    ERR_REQUIRE(size <= kArrayLimit, kModule, 122);
    // In 64 bits: a large size must not wrap into a small capacity. Past
    // the limit the capacity stops there, and that must still hold `size`.
    uint64_t wanted = static_cast<uint64_t>(size) * 5 / 3;
    uint32_t capacity = wanted > kArrayLimit ? kArrayLimit : static_cast<uint32_t>(wanted);
    ERR_REQUIRE(capacity >= size, kModule, 126);
    if (elementSize > 1) capacity -= capacity % elementSize;
    // Only a size of no whole number of elements can fall below here.
    if (capacity < size) capacity = size;
    Reserve(capacity);
    if (Capacity() < size) return;  // out of memory, resumed by a handler
  }
  used_ = begin_ + size;
}

void DynArray::Grow(uint32_t addedBytes, uint32_t elementSize) {
  uint64_t size = static_cast<uint64_t>(UsedSize()) + addedBytes;
  Resize(size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size), elementSize);
}

bool DynArray::IsAtLimit() const { return used_ == end_ && UsedSize() >= kArrayLimit; }

void DynArray::ToBlock(ByteBlock& target) {
  if (used_ == end_) {
    ERR_REQUIRE(!target.IsHeld(), kModule, 149);
    target.TakeOver(begin_, used_);
    end_ = nullptr;
    return;
  }
  target.Allocate(UsedSize());
  if (UsedSize()) memcpy(target.Begin(), begin_, UsedSize());
  Release();
}

void DynArray::MoveAssign(DynArray& other) noexcept {
  if (&other == this) return;
  Release();
  begin_ = other.begin_;
  used_ = other.used_;
  end_ = other.end_;
  other.begin_ = other.used_ = other.end_ = nullptr;
}

void DynArray::Release() {
  MemFreeIfAny(begin_);
  begin_ = used_ = end_ = nullptr;
}

char* DynArray::At(uint32_t offset) const {
  ERR_REQUIRE(offset < UsedSize(), kModule, 82);
  return begin_ + offset;
}

char* DynArray::At(uint32_t index, uint32_t elementSize) const {
  ERR_REQUIRE(ElementEnd(index, elementSize) <= UsedSize(), kModule, 82);
  return begin_ + index * elementSize;
}

// --- Runs ------------------------------------------------------------------

ByteRange PeekRun(ByteRange range, uint32_t stride, RunBoundary atBoundary, void* context) {
  char* current = range.begin;
  if (current < range.end && stride) {
    for (current += stride; current < range.end; current += stride)
      if (atBoundary(current - stride, current, context)) break;
    if (current > range.end) current = range.end;
  }
  return ByteRange{range.begin, current};
}

ByteRange TakeRun(ByteRange& range, uint32_t stride, RunBoundary atBoundary, void* context) {
  if (range.begin >= range.end) return range;
  ByteRange run = PeekRun(range, stride, atBoundary, context);
  range.begin = run.end;
  return run;
}

// --- BucketSort ------------------------------------------------------------

namespace {

// The buckets: DynArray records side by side in one block, released
// however the sort ends.
class Buckets {
 public:
  explicit Buckets(uint32_t count) : count_(count) {
    block_.Allocate(ByteCount(count, sizeof(DynArray)));
    for (uint32_t i = 0; i < count; ++i) new (block_.Begin() + i * sizeof(DynArray)) DynArray;
  }
  Buckets(const Buckets&) = delete;
  Buckets& operator=(const Buckets&) = delete;
  ~Buckets() {
    for (uint32_t i = 0; i < count_; ++i) (*this)[i].~DynArray();
  }

  // An index at or beyond the count fails the block's bounds check.
  DynArray& operator[](uint32_t index) const {
    return *reinterpret_cast<DynArray*>(block_.At(index, sizeof(DynArray)));
  }

 private:
  ByteBlock block_;
  uint32_t count_;
};

}  // namespace

void BucketSort(void* begin, void* end, uint32_t elementSize, uint32_t bucketCount,
                BucketKey key, void* context) {
  char* first = static_cast<char*>(begin);
  char* last = static_cast<char*>(end);
  Buckets buckets(bucketCount);
  // Whole elements only: a trailing part of an element is left out, and
  // the write-back check below reports it.
  for (char* element = first; elementSize && static_cast<uint32_t>(last - element) >= elementSize;
       element += elementSize) {
    DynArray& bucket = buckets[key(element, context)];
    memcpy(bucket.Push(elementSize), element, elementSize);
  }
  char* write = first;
  for (uint32_t i = 0; i < bucketCount; ++i) {
    DynArray& bucket = buckets[i];
    if (bucket.UsedSize()) memcpy(write, bucket.Begin(), bucket.UsedSize());
    write += bucket.UsedSize();
    bucket.Release();
  }
  ERR_REQUIRE(write == last, kModule, 101);
}
