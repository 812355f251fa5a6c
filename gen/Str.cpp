#include "gen/Str.h"

#include <cstring>

#include "gen/Memwing.h"
#include "gen/Statbuf.h"

namespace {

char sharedEmpty[1];

}  // namespace

char* Str::SharedEmpty() { return sharedEmpty; }

char* Str::Copy(const char* text, uint32_t length) {
  if (!text || length == 0) return sharedEmpty;
  char* block = static_cast<char*>(MemAlloc(length + 1));
  memcpy(block, text, length);
  block[length] = 0;
  return block;
}

// The new text is always built before the old one is released, so a Str
// may be assigned from itself or from a part of itself.
void Str::Replace(char* text) {
  char* old = text_;
  text_ = text;
  if (old && old != sharedEmpty) MemFree(old);
}

Str::Str(const char* text)
    : text_(Copy(text, text ? static_cast<uint32_t>(strlen(text)) : 0)) {}

Str::Str(StrView view) : text_(Copy(view.text, view.Length())) {}

Str::Str(const Str& other)
    : text_(Copy(other.text_, other.Length())) {}

Str::~Str() { Replace(nullptr); }

Str& Str::operator=(const char* text) {
  Replace(Copy(text, text ? static_cast<uint32_t>(strlen(text)) : 0));
  return *this;
}

Str& Str::operator=(const Str& other) {
  Replace(Copy(other.text_, other.Length()));
  return *this;
}

Str& Str::operator=(Str&& other) noexcept {
  if (this != &other) {
    Replace(other.text_);
    other.text_ = nullptr;
  }
  return *this;
}

Str& Str::operator=(StrView view) {
  Replace(Copy(view.text, view.Length()));
  return *this;
}

Str Str::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Str result = FormatV(format, args);
  va_end(args);
  return result;
}

Str Str::FormatV(const char* format, va_list args) {
  return Str(FormatStatic(format, args));
}

uint32_t Str::Length() const {
  return text_ ? static_cast<uint32_t>(strlen(text_)) : 0;
}
