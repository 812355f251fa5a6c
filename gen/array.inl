#pragma once
// The inline part of the array module: the hot members of ByteBlock and
// DynArray, typed arrays and blocks, and typed forms of runs and the
// bucket sort. Included by gen/Array.h; include that instead.
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "gen/Array.h"

// Declared here rather than by including gen/err/Err.h, which needs the
// string type, which needs the arrays.
void ErrAssert(const char* module, int line);

namespace array_detail {
const char kModule[] = "..\\gen\\array.inl";
}  // namespace array_detail

// The members that check stay out of line, so that a failed check's crash
// report names them.
#define ARRAY_CHECKING __attribute__((noinline))

inline ARRAY_CHECKING bool ByteBlock::IsHeld() const {
  if (end_ < begin_) ErrAssert(array_detail::kModule, 181);
  return begin_ != nullptr;
}

inline uint32_t ByteBlock::Size() const { return static_cast<uint32_t>(end_ - begin_); }

inline char* DynArray::Push(uint32_t elementSize) {
  if (static_cast<uint32_t>(end_ - used_) >= elementSize) {
    used_ += elementSize;
  } else {
    Grow(elementSize, elementSize);
  }
  return used_ - elementSize;
}

inline ARRAY_CHECKING char* DynArray::PushBytes(int32_t count) {
  if (count >= 0) {
    uint32_t added = static_cast<uint32_t>(count);
    if (static_cast<uint32_t>(end_ - used_) < added)
      Grow(added, 1);
    else
      used_ += added;
    return used_ - added;
  }
  uint32_t dropped = 0u - static_cast<uint32_t>(count);
  if (dropped > UsedSize()) {
    ErrAssert(array_detail::kModule, 307);
    dropped = UsedSize();
  }
  used_ -= dropped;
  return used_;
}

// Whether raw byte copies may move a T: plain data, and the system's own
// owners of a single block (Str, DynArray, typed arrays), which keep no
// pointer to themselves.
template <typename T> struct IsByteMovable : std::is_trivially_copyable<T> {};
template <> struct IsByteMovable<DynArray> : std::true_type {};

template <typename T> class TypedBlock;

// An array of T over a DynArray. Elements that own something (Str, nested
// arrays) are destroyed when they leave the array; plain ones only lose
// their bytes.
template <typename T> class TypedArray {
  static_assert(IsByteMovable<T>::value, "elements are moved as raw bytes");

 public:
  TypedArray() = default;
  TypedArray(TypedArray&&) noexcept = default;
  TypedArray& operator=(TypedArray&& other) noexcept {
    if (this != &other) {
      DestroyAll();
      bytes_.MoveAssign(other.bytes_);
    }
    return *this;
  }
  ~TypedArray() { Release(); }

  uint32_t Count() const { return bytes_.UsedSize() / sizeof(T); }
  bool IsEmpty() const { return bytes_.IsEmpty(); }
  T& operator[](uint32_t index) const {
    return *reinterpret_cast<T*>(bytes_.At(index, sizeof(T)));
  }
  T& Last() const { return (*this)[Count() - 1]; }
  T* begin() const { return reinterpret_cast<T*>(bytes_.Begin()); }
  T* end() const { return reinterpret_cast<T*>(bytes_.End()); }

  // `value` may be an element of this array, although growth moves the
  // elements.
  T& Push(const T& value) {
    const T* source = &value;
    bool inside = source >= begin() && source < end();
    uint32_t index = inside ? static_cast<uint32_t>(source - begin()) : 0;
    T* slot = reinterpret_cast<T*>(bytes_.Push(sizeof(T)));
    return *new (slot) T(inside ? begin()[index] : value);
  }
  T& Push(T&& value) {
    T moved(std::move(value));
    T* slot = reinterpret_cast<T*>(bytes_.Push(sizeof(T)));
    return *new (slot) T(std::move(moved));
  }
  // Removing from an empty array is a checked error of the byte array.
  void Pop() {
    if (!IsEmpty()) Last().~T();
    bytes_.PushBytes(-static_cast<int32_t>(sizeof(T)));
  }
  void Reserve(uint32_t count) { bytes_.Reserve(ByteCount(count, sizeof(T))); }
  void Clear() {
    DestroyAll();
    bytes_.Resize(0, sizeof(T));
  }
  void Release() {
    DestroyAll();
    bytes_.Release();
  }
  // The elements as a block; the array is empty afterwards. Only for
  // elements that own nothing, since a block does not destroy them.
  TypedBlock<T> ToBlock();

  const DynArray& Bytes() const { return bytes_; }

 private:
  void DestroyAll() {
    if constexpr (!std::is_trivially_destructible<T>::value)
      for (T& element : *this) element.~T();
  }

  DynArray bytes_;
};

template <typename T> struct IsByteMovable<TypedArray<T>> : std::true_type {};

// A fixed number of T in a ByteBlock, as TypedArray::ToBlock hands them
// over. Only for elements that own nothing.
template <typename T> class TypedBlock {
  static_assert(std::is_trivially_destructible<T>::value, "a block does not destroy elements");

 public:
  uint32_t Count() const { return bytes_.Size() / sizeof(T); }
  T& operator[](uint32_t index) const {
    return *reinterpret_cast<T*>(bytes_.At(index, sizeof(T)));
  }
  T* begin() const { return reinterpret_cast<T*>(bytes_.Begin()); }
  T* end() const { return reinterpret_cast<T*>(bytes_.End()); }
  const ByteBlock& Bytes() const { return bytes_; }

 private:
  friend class TypedArray<T>;
  ByteBlock bytes_;
};

template <typename T> TypedBlock<T> TypedArray<T>::ToBlock() {
  static_assert(std::is_trivially_destructible<T>::value, "a block does not destroy elements");
  TypedBlock<T> block;
  bytes_.ToBlock(block.bytes_);
  return block;
}

typedef TypedArray<void*> PtrArray;
typedef TypedArray<DynArray> ArrayArray;

// Typed ranges and runs: `atBoundary(previous, current)` on two adjacent elements.
template <typename T> struct Range {
  T* begin;
  T* end;
  uint32_t Count() const { return static_cast<uint32_t>(end - begin); }
};

namespace array_detail {
template <typename T, typename Boundary>
bool CallBoundary(const void* previous, const void* current, void* context) {
  return (*static_cast<Boundary*>(context))(*static_cast<const T*>(previous),
                                           *static_cast<const T*>(current));
}
template <typename T, typename Key> uint32_t CallKey(const void* element, void* context) {
  return (*static_cast<Key*>(context))(*static_cast<const T*>(element));
}
template <typename T> ByteRange Bytes(Range<T> run) {
  return ByteRange{reinterpret_cast<char*>(run.begin), reinterpret_cast<char*>(run.end)};
}
template <typename T> Range<T> Typed(ByteRange range) {
  return Range<T>{reinterpret_cast<T*>(range.begin), reinterpret_cast<T*>(range.end)};
}
}  // namespace array_detail

template <typename T, typename Boundary> Range<T> PeekRun(Range<T> range, Boundary atBoundary) {
  return array_detail::Typed<T>(PeekRun(array_detail::Bytes(range), sizeof(T),
                                        array_detail::CallBoundary<T, Boundary>, &atBoundary));
}

template <typename T, typename Boundary> Range<T> TakeRun(Range<T>& range, Boundary atBoundary) {
  ByteRange bytes = array_detail::Bytes(range);
  Range<T> run = array_detail::Typed<T>(
      TakeRun(bytes, sizeof(T), array_detail::CallBoundary<T, Boundary>, &atBoundary));
  range = array_detail::Typed<T>(bytes);
  return run;
}

// `key(element)` gives the bucket, below `bucketCount`.
template <typename T, typename Key>
void BucketSort(T* begin, T* end, uint32_t bucketCount, Key key) {
  static_assert(IsByteMovable<T>::value, "elements are moved as raw bytes");
  BucketSort(begin, end, sizeof(T), bucketCount, array_detail::CallKey<T, Key>, &key);
}
