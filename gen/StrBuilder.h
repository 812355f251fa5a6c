#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "gen/Str.h"

// A growable text on the private heap: the first byte, the capacity of the
// block (terminator included) and the write position, where a zero always
// follows the text. Grows to half again of what is needed. Bytes are kept
// by count, so appended zero bytes survive growth; Text() then shows the
// text up to the first of them.
class StrBuilder {
 public:
  StrBuilder() = default;
  StrBuilder(const StrBuilder&) = delete;
  StrBuilder& operator=(const StrBuilder&) = delete;
  ~StrBuilder() { Release(); }

  // An empty text with room for `count` characters; a held block is freed.
  void Init(uint32_t count);
  // Appending needs a block: Init first. The bytes may come from the
  // builder's own text.
  inline void Append(const char* bytes, uint32_t count);
  void AppendText(const char* text);
  void AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void AppendFormatV(const char* format, va_list args);
  void Release();

  const char* Text() const { return first_; }  // null before Init
  uint32_t Length() const { return static_cast<uint32_t>(write_ - first_); }
  uint32_t Capacity() const { return capacity_; }
  StrView View() const { return StrView(first_, Length()); }

 private:
  friend char* ScratchBuffer(uint32_t count);
  void AppendGrowing(const char* bytes, uint32_t count);

  char* first_ = nullptr;
  uint32_t capacity_ = 0;
  char* write_ = nullptr;
};

// Most appends fit: they cost a copy, not a call. Without a block the
// capacity is 0 and the growing path reports it.
inline void StrBuilder::Append(const char* bytes, uint32_t count) {
  if (count < capacity_ - Length()) {
    memmove(write_, bytes, count);  // the bytes may end at our terminator
    write_ += count;
    *write_ = 0;
  } else {
    AppendGrowing(bytes, count);
  }
}

// The process-wide scratch builder, for texts that Windows or the runtime
// write into a caller's buffer. One user at a time; every call replaces
// what it held.
//   GetSomethingA(ScratchBuffer(MAX_PATH), MAX_PATH + 1);
//   Str result = ScratchText();
// An empty text with room for `count` characters, to be written directly.
char* ScratchBuffer(uint32_t count);
// A copy of the scratch text up to its first zero byte (however it was
// written).
Str ScratchText();
StrBuilder& ScratchBuilder();
