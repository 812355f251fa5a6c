#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "gen/Array.h"

class Str;

// A non-owning run of bytes; need not be terminated. A null pointer makes
// it empty whatever the length says.
struct StrView {
  uint32_t length = 0;
  const char* text = nullptr;

  StrView() = default;
  StrView(const char* start, uint32_t count) : length(count), text(start) {}
  // The whole zero-terminated text (empty for null).
  StrView(const char* start)
      : length(start ? static_cast<uint32_t>(strlen(start)) : 0), text(start) {}
  inline StrView(const Str& owner);
  uint32_t Length() const { return text ? length : 0; }
  const char* End() const { return text + Length(); }
};

// The system's string: one pointer to zero-terminated text on the private
// heap. Unset (null), empty (the shared empty text, never freed) or owning
// a block of exactly length + 1 bytes. Copies copy the text.
class Str {
 public:
  Str() = default;
  Str(const char* text);
  explicit Str(StrView view);
  Str(const Str& other);
  Str(Str&& other) noexcept : text_(other.text_) { other.text_ = nullptr; }
  ~Str();

  Str& operator=(const char* text);
  Str& operator=(const Str& other);
  Str& operator=(Str&& other) noexcept;
  Str& operator=(StrView view);

  // Meaningless conversions that would otherwise compile.
  Str(char) = delete;
  Str(int) = delete;
  Str& operator=(char) = delete;
  Str& operator=(int) = delete;

  static Str Format(const char* format, ...)
      __attribute__((format(printf, 1, 2)));
  static Str FormatV(const char* format, va_list args);

  // The stored pointer as it is (null when unset). The text may be changed
  // in place as long as its length stays.
  char* Text() const { return text_; }
  operator const char*() const { return text_; }
  uint32_t Length() const;
  bool IsUnset() const { return text_ == nullptr; }
  bool IsEmpty() const { return !text_ || !*text_; }
  bool IsSharedEmpty() const { return text_ == SharedEmpty(); }
  StrView View() const { return StrView(text_, Length()); }

  static char* SharedEmpty();

 private:
  friend struct StrAccess;
  static char* Copy(const char* text, uint32_t length);
  void Replace(char* text);

  char* text_ = nullptr;
};

inline StrView::StrView(const Str& owner) : length(owner.Length()), text(owner.Text()) {}

// A Str is one owning pointer: raw byte moves keep it intact.
template <> struct IsByteMovable<Str> : std::true_type {};
typedef TypedArray<Str> StrArray;
typedef TypedArray<StrView> ViewArray;
typedef TypedBlock<StrView> ViewBlock;

// --- Text operations ---------------------------------------------------------
// New texts are owning Str (empty ones the shared empty text); the views
// given need not be terminated.

// The first min(count, length) bytes.
Str Left(StrView text, uint32_t count);
// The last min(count, length) bytes: the whole text when count is larger.
Str Right(StrView text, uint32_t count);
// The bytes from `start` to `end`: the end is cut to the length, then the
// start to the end.
Str Mid(StrView text, uint32_t start, uint32_t end);
Str Concat(StrView first, StrView second);
void ReplaceChar(Str& text, char from, char to);
// Replaces every occurrence of `searched`, left to right, without
// overlaps and without searching the replacements. A text without an
// occurrence, or an empty `searched`, keeps its text and its pointer.
void Replace(Str& text, StrView searched, StrView replacement);
// Lower-cases in place with the runtime's mapping; returns `text`.
Str& ToLower(Str& text);
// Without leading and trailing blanks (code 32 only; tabs stay).
Str TrimBlanks(StrView text);
// Equal lengths and equal bytes, the comparison ending at a zero byte.
bool Equals(StrView first, StrView second);

// Checked preconditions: a copy of a set, non-empty text; a non-null,
// non-empty zero-terminated text (the writable form is checked apart).
Str RequireNonEmpty(const Str& text);
const char* RequireText(const char* text);
char* RequireText(char* text);

// The first element from `first` to `end` whose key (`keyOf(element)`, a
// zero-terminated text or null) equals `key` byte for byte; null if none.
template <typename T, typename KeyOf>
T* FindByKey(T* first, T* end, KeyOf keyOf, const char* key) {
  if (!key) return nullptr;
  for (T* element = first; element < end; ++element) {
    const char* elementKey = keyOf(*element);
    if (elementKey && strcmp(elementKey, key) == 0) return element;
  }
  return nullptr;
}

// Reports a missing element of RequireByKey.
void RequireKeyFound(bool found);

// FindByKey whose element must exist.
template <typename T, typename KeyOf>
T* RequireByKey(T* first, T* end, KeyOf keyOf, const char* key) {
  T* found = FindByKey(first, end, keyOf, key);
  RequireKeyFound(found != nullptr);
  return found;
}

// --- View arithmetic ----------------------------------------------------------

// `start` cut to the length, `end` to the range from start to the length.
StrView RangeView(StrView text, uint32_t start, uint32_t end);
// From the view's start up to `position`, which must lie within the view.
StrView HeadUpTo(StrView view, const char* position);
// From the end of `inner` to the end of `outer`; `inner` must lie within it.
StrView TailAfter(StrView outer, StrView inner);
// From the end of `inner` to `outerEnd`, which must not lie before it.
StrView RestAfter(const char* outerEnd, StrView inner);

// --- Tokenizer ----------------------------------------------------------------

// The tokens of a text between separator bytes: n separators give n + 1
// tokens, empty ones included; an empty text is one empty token.
//   for (Tokenizer token(text, ','); token.More(); token.Next()) Use(token.Current());
class Tokenizer {
 public:
  Tokenizer(StrView text, char separator);
  bool More() const { return start_ <= length_; }
  StrView Current() const { return StrView(text_ + start_, tokenEnd_ - start_); }
  void Next();

 private:
  void Find();

  const char* text_;
  uint32_t start_ = 0;
  uint32_t tokenEnd_ = 0;
  uint32_t length_;
  char separator_;
};

// Every token as a view into `text`, which must outlive them; room for
// `expectedCount` tokens is reserved first.
ViewBlock Split(StrView text, char separator, uint32_t expectedCount = 0);
