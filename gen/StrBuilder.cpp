#include "gen/StrBuilder.h"

#include <cstring>

#include "gen/InitOrder.h"
#include "gen/Memwing.h"
#include "gen/Statbuf.h"
#include "gen/err/Err.h"

namespace {

// The builder's checks belong to the string module.
const char kModule[] = "..\\gen\\Str.cpp";

// Constructed after the guard, so destroyed before the guard's teardown
// destroys the heap its block lives on.
StrBuilder scratchBuilder INIT_ORDER_SCRATCH;

}  // namespace

void StrBuilder::Init(uint32_t count) {
  Release();
  ERR_REQUIRE(count < kArrayLimit, kModule, 128);
  first_ = static_cast<char*>(MemAlloc(count + 1));
  if (!first_) return;  // out of memory, resumed by a handler
  capacity_ = count + 1;
  write_ = first_;
  *write_ = 0;
}

// Appends that do not fit, and appends without a block.
void StrBuilder::AppendGrowing(const char* bytes, uint32_t count) {
  if (!first_) {
    ErrAssert(kModule, 121);
    return;
  }
  uint32_t length = Length();
  uint64_t needed = static_cast<uint64_t>(length) + count + 1;
  uint64_t grown = needed * 3 / 2;
  uint32_t capacity = grown > kArrayLimit ? kArrayLimit : static_cast<uint32_t>(grown);
  ERR_REQUIRE(capacity >= needed, kModule, 128);
  char* block = static_cast<char*>(MemAlloc(capacity));
  if (!block) return;  // out of memory, resumed by a handler
  // By count, not as zero-terminated text: appended zero bytes stay.
  memcpy(block, first_, length);
  // Before the old block goes: `bytes` may lie in it.
  if (count) memcpy(block + length, bytes, count);
  MemFree(first_);
  first_ = block;
  capacity_ = capacity;
  write_ = first_ + length + count;
  *write_ = 0;
}

void StrBuilder::AppendText(const char* text) {
  if (!text) text = "";  // never a null source, even for no bytes
  Append(text, static_cast<uint32_t>(strlen(text)));
}

void StrBuilder::AppendFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormatV(format, args);
  va_end(args);
}

void StrBuilder::AppendFormatV(const char* format, va_list args) {
  AppendText(FormatStatic(format, args));
}

void StrBuilder::Release() {
  MemFreeIfAny(first_);
  first_ = write_ = nullptr;
  capacity_ = 0;
}

StrBuilder& ScratchBuilder() { return scratchBuilder; }

char* ScratchBuffer(uint32_t count) {
  scratchBuilder.Release();
  scratchBuilder.Init(count);
  return scratchBuilder.first_;
}

Str ScratchText() { return Str(scratchBuilder.Text()); }
