#pragma once
#include <cstdarg>
#include <cstdint>

// A non-owning run of bytes; need not be terminated. A null pointer makes
// it empty whatever the length says.
struct StrView {
  uint32_t length = 0;
  const char* text = nullptr;

  StrView() = default;
  StrView(const char* start, uint32_t count) : length(count), text(start) {}
  uint32_t Length() const { return text ? length : 0; }
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
      __attribute__((format(ms_printf, 1, 2)));
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
  static char* Copy(const char* text, uint32_t length);
  void Replace(char* text);

  char* text_ = nullptr;
};
