#include "gen/Str.h"

#include <cctype>
#include <cstring>

#include "gen/Memwing.h"
#include "gen/Statbuf.h"
#include "gen/err/Err.h"

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

// --- Text operations ---------------------------------------------------------

// Grants the text operations a Str built in place.
struct StrAccess {
  // A block of length + 1 bytes for the caller to fill and terminate;
  // null only when a handler resumed the out-of-memory raise.
  static char* NewBlock(uint64_t length) {
    // A length past the 32-bit range asks for more than any heap has, so
    // that it ends as the usual out-of-memory raise.
    return static_cast<char*>(
        MemAlloc(length < 0xFFFFFFFFu ? static_cast<uint32_t>(length) + 1 : 0xFFFFFFFFu));
  }
  static void Adopt(Str& text, char* block) { text.Replace(block); }
};

namespace {

const char kModule[] = "..\\gen\\Str.cpp";

// The library is built without inlining, so that a failed check keeps its
// frame in a crash report. These small helpers check nothing and run once
// per piece of a replacement: they are inlined all the same.
#define STR_HOT __attribute__((always_inline)) inline

uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }

// The first occurrence of `searched` from `from` on in a zero-terminated
// text, or its terminator. `searched` is not empty and holds no zero byte,
// so no comparison runs past the terminator.
STR_HOT const char* FindOrEnd(const char* from, StrView searched) {
  const char first = searched.text[0];
  const char* rest = searched.text + 1;
  const uint32_t restLength = searched.length - 1;
  for (;; ++from) {
    const char c = *from;
    if (c == first) {
      uint32_t matched = 0;
      while (matched < restLength && from[1 + matched] == rest[matched]) ++matched;
      if (matched == restLength) return from;
    } else if (!c) {
      return from;
    }
  }
}

// Copies `count` bytes and returns the end of the copy. Replacing makes
// many short pieces: those are copied in place, not by a call.
STR_HOT char* CopyBytes(char* to, const char* from, uint32_t count) {
  if (count >= 64) {
    memcpy(to, from, count);
  } else if (count >= 8) {
    // Eight bytes at a time, the last eight overlapping what went before.
    for (uint32_t done = 0; done + 8 < count; done += 8) memcpy(to + done, from + done, 8);
    memcpy(to + count - 8, from + count - 8, 8);
  } else if (count >= 4) {
    memcpy(to, from, 4);
    memcpy(to + count - 4, from + count - 4, 4);
  } else if (count) {
    to[0] = from[0];
    to[count / 2] = from[count / 2];
    to[count - 1] = from[count - 1];
  }
  return to + count;
}

// Views of different texts may be compared: as addresses, not pointers.
bool InOrder(const char* first, const char* second) {
  return reinterpret_cast<uintptr_t>(first) <= reinterpret_cast<uintptr_t>(second);
}

// The distance from `from` to `to`; checked by the caller.
STR_HOT uint32_t Distance(const char* from, const char* to) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(to) -
                               reinterpret_cast<uintptr_t>(from));
}

}  // namespace

Str Left(StrView text, uint32_t count) {
  return Str(StrView(text.text, Min(count, text.Length())));
}

Str Right(StrView text, uint32_t count) {
  uint32_t length = text.Length();
  count = Min(count, length);
  return Str(StrView(text.text + (length - count), count));
}

Str Mid(StrView text, uint32_t start, uint32_t end) {
  end = Min(end, text.Length());
  start = Min(start, end);
  return Str(StrView(text.text + start, end - start));
}

Str Concat(StrView first, StrView second) {
  uint64_t length = static_cast<uint64_t>(first.Length()) + second.Length();
  Str result("");
  if (length == 0) return result;
  char* block = StrAccess::NewBlock(length);
  if (!block) return result;
  if (first.Length()) memcpy(block, first.text, first.Length());
  if (second.Length()) memcpy(block + first.Length(), second.text, second.Length());
  block[length] = 0;
  StrAccess::Adopt(result, block);
  return result;
}

void ReplaceChar(Str& text, char from, char to) {
  char* bytes = text.Text();
  for (uint32_t i = 0, length = text.Length(); i < length; ++i)
    if (bytes[i] == from) bytes[i] = to;
}

namespace {

// Copies `text` with every occurrence of `searched` replaced into `block`,
// from the first occurrence `found` on; returns the end of what it wrote.
char* WriteReplaced(char* block, const char* start, const char* found, StrView searched,
                    StrView replacement) {
  char* write = CopyBytes(block, start, Distance(start, found));
  while (*found) {
    write = CopyBytes(write, replacement.text, replacement.Length());
    const char* from = found + searched.Length();
    found = FindOrEnd(from, searched);
    write = CopyBytes(write, from, Distance(from, found));
  }
  return write;
}

}  // namespace

void Replace(Str& text, StrView searched, StrView replacement) {
  uint32_t searchedLength = searched.Length();
  // A zero byte never lies inside a text: such a searched text is nowhere.
  if (!searchedLength || text.IsEmpty() || memchr(searched.text, 0, searchedLength)) return;
  const char* start = text.Text();
  const char* first = FindOrEnd(start, searched);
  if (!*first) return;  // nothing replaced: the text keeps its block
  uint64_t textLength = Distance(start, first) + strlen(first);
  uint32_t growth = replacement.Length() > searchedLength ? replacement.Length() - searchedLength : 0;
  uint64_t bound = textLength + textLength / searchedLength * growth;
  // The old text stays until the new one is built: `replacement` may lie in
  // it. Where the longest possible result is a modest size, one pass writes
  // into a block of that size, then cut to the exact size; otherwise a first
  // pass counts the occurrences so that the block is exact from the start.
  uint64_t length = bound;
  if (bound > 2 * textLength + 4096) {
    uint64_t occurrences = 0;
    for (const char* at = first; *at; at = FindOrEnd(at + searchedLength, searched)) ++occurrences;
    length = textLength - occurrences * searchedLength + occurrences * replacement.Length();
  }
  if (length == 0) {
    text = "";
    return;
  }
  char* block = StrAccess::NewBlock(length);
  if (!block) return;
  char* end = WriteReplaced(block, start, first, searched, replacement);
  *end = 0;
  uint32_t written = Distance(block, end);
  if (written == 0) {
    MemFree(block);
    text = "";
    return;
  }
  if (written < length) block = static_cast<char*>(MemRealloc(block, written + 1));
  StrAccess::Adopt(text, block);
}

Str& ToLower(Str& text) {
  if (char* bytes = text.Text())
    for (; *bytes; ++bytes) *bytes = static_cast<char>(tolower(static_cast<unsigned char>(*bytes)));
  return text;
}

Str TrimBlanks(StrView text) {
  const char* start = text.text;
  const char* end = text.End();
  while (start < end && *start == ' ') ++start;
  while (end > start && end[-1] == ' ') --end;
  return Str(StrView(start, Distance(start, end)));
}

bool Equals(StrView first, StrView second) {
  uint32_t length = first.Length();
  return length == second.Length() &&
         (length == 0 || strncmp(first.text, second.text, length) == 0);
}

Str RequireNonEmpty(const Str& text) {
  ERR_REQUIRE(!text.IsEmpty(), kModule, 181);
  return text;
}

const char* RequireText(const char* text) {
  ERR_REQUIRE(text && *text, kModule, 185);
  return text;
}

char* RequireText(char* text) {
  ERR_REQUIRE(text && *text, kModule, 189);
  return text;
}

void RequireKeyFound(bool found) { ERR_REQUIRE(found, kModule, 201); }

// --- View arithmetic ----------------------------------------------------------

StrView RangeView(StrView text, uint32_t start, uint32_t end) {
  uint32_t length = text.Length();
  start = Min(start, length);
  end = end < start ? start : Min(end, length);
  return StrView(text.text + start, end - start);
}

StrView HeadUpTo(StrView view, const char* position) {
  ERR_REQUIRE(InOrder(view.text, position) && InOrder(position, view.End()), kModule, 224);
  return StrView(view.text, Distance(view.text, position));
}

StrView TailAfter(StrView outer, StrView inner) {
  ERR_REQUIRE(InOrder(outer.text, inner.text) && InOrder(inner.End(), outer.End()), kModule,
              230);
  return StrView(inner.End(), Distance(inner.End(), outer.End()));
}

StrView RestAfter(const char* outerEnd, StrView inner) {
  ERR_REQUIRE(InOrder(inner.End(), outerEnd), kModule, 235);
  return StrView(inner.End(), Distance(inner.End(), outerEnd));
}

// --- Tokenizer ----------------------------------------------------------------

Tokenizer::Tokenizer(StrView text, char separator)
    : text_(text.text), length_(text.Length()), separator_(separator) {
  Find();
}

void Tokenizer::Find() {
  tokenEnd_ = length_;
  if (start_ >= length_) return;
  const void* found = memchr(text_ + start_, separator_, length_ - start_);
  if (found) tokenEnd_ = Distance(text_, static_cast<const char*>(found));
}

void Tokenizer::Next() {
  start_ = tokenEnd_ + 1;
  Find();
}

ViewBlock Split(StrView text, char separator, uint32_t expectedCount) {
  ViewArray tokens;
  tokens.Reserve(expectedCount);
  for (Tokenizer token(text, separator); token.More(); token.Next()) tokens.Push(token.Current());
  return tokens.ToBlock();
}
