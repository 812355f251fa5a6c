#pragma once
#include <cstdarg>
#include <cstdint>

#include "gen/Str.h"

// The configuration store: every setting is addressed by one text, a
// setting path, over INI files and the registry.
//
//   |file|section|key[|value]     absolute: an INI file or a registry root
//   [flags]section|key[|value]    relative: put into DefaultTemplate's "%s"
//
// Flags stand at the start of a relative path and of the section and key
// segments (never in the file segment or the value):
//   '!' checksummed, '@' scrambled and checksummed;
//   '+' a missing value reads as the "not found" text, '=' as the default,
//   which is then written, '?' as the default, with nothing written;
//   '`' the language location (LanguageTemplate) is tried first.
// The value part is everything after the key's '|', further '|' included.
// A path that has a value part and no '=' or '?' behaves as '='.

// The parsed form of one setting path. Unset texts (null) are segments the
// path did not reach; `value` is unset when the path has no value part.
struct SettingPath {
  char encoding = 0;          // 0, '!' or '@'
  char missingPolicy = '+';   // '+', '=' or '?'
  char source = 0;            // 0 or '`'
  Str file;
  Str section;
  Str key;
  Str value;
  bool found = false;         // set by a read that found the value

  SettingPath() = default;
  SettingPath(SettingPath&&) = default;
  SettingPath& operator=(SettingPath&&) = default;
  SettingPath(const SettingPath&) = delete;
  SettingPath& operator=(const SettingPath&) = delete;
};

SettingPath ParseSettingPath(const char* path);
// A set `given` value replaces the path's own value part; an unset one
// leaves it in force.
SettingPath ParseSettingPath(const char* path, const Str& given);

Str ReadSetting(const char* path);
Str ReadSetting(const char* path, const Str& defaultValue);
// Reads a parsed path: sets `found`, and applies its missing policy.
Str ReadSetting(SettingPath& path);

// Writes go to the path's own location only, whatever its policy or
// language flag. A null value is written as the empty text.
void WriteSetting(const char* path, const char* value);
// Writes the path's own value part (the empty text when it has none).
void WriteSettingPath(const char* path);
void WriteSettingFormat(const char* path, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void WriteSettingFormatV(const char* path, const char* format, va_list args);
// Stores a parsed path's value with its encoding.
void StoreSetting(const SettingPath& path);

// The templates that complete relative and language-flagged paths.
extern Str DefaultTemplate;
extern Str LanguageTemplate;
Str GetLanguageTemplate();
// Both templates become empty.
void ResetSettings();

// Relative paths name settings below `root` while this object lives:
// a root beginning with '|' replaces DefaultTemplate, any other is put into
// it (so "Sub|%s" under "|NARV.INI|%s" gives "|NARV.INI|Sub|%s"). Nested
// scopes must end in the reverse order of their start.
class ScopedSettingsRoot {
 public:
  explicit ScopedSettingsRoot(const char* root);
  ~ScopedSettingsRoot();
  ScopedSettingsRoot(const ScopedSettingsRoot&) = delete;
  ScopedSettingsRoot& operator=(const ScopedSettingsRoot&) = delete;

 private:
  Str saved_;
};

// --- Initialisation -----------------------------------------------------------

// The setting that holds the language template, with the setting's own
// location as its default.
extern const char kLanguageSettingPath[];
// Raised by InitSettings when the INI file it verifies lacks the Language
// option; the argument lists the five folders a data file is looked for in.
extern const char kIniNotFoundTemplate[];

// Relative paths name keys of `iniName` from now on. With `verify`, an INI
// file without the Language option in section Options raises
// kIniNotFoundTemplate (nothing is written first). Unless `skipLanguage`,
// the Language option becomes the language template (written with the
// default when missing).
void InitSettings(const char* iniName, bool verify, bool skipLanguage);
// Checked: an absolute path with section and key, no value part, no policy
// or language flag. Makes it LanguageTemplate and records it in the option.
void SetLanguageTemplate(const char* languageTemplate);

// --- Encodings and typed values ----------------------------------------------

// Eight upper-case hex digits of the text's CRC-32 (from 0xFFFFFFFF, not
// inverted), then the text: "abc" gives "CADBBE3Dabc".
Str AddChecksum(StrView text);
// The text after the checksum; a missing or wrong checksum is a failed check.
Str StripChecksum(StrView stored);
// Bytes below 32 stay; the others are chained from 107. Texts of bytes
// below 160 come back intact through UnscrambleText; others may not.
Str ScrambleText(Str text);
Str UnscrambleText(Str text);
// A '@' value as stored and read. ScrambleForStore gives AddChecksum of
// ScrambleText wherever UnscrambleText gives the text back, and a mended
// scrambling under the complemented checksum otherwise; UnscrambleStored
// reads both. A missing or wrong checksum is a failed check.
Str ScrambleForStore(StrView text);
Str UnscrambleStored(StrView stored);

// A missing number is written with the default (unless the path says '?').
// Text that is not a number reads as the digits it begins with, or 0.
int32_t ReadNumber(const char* path, int32_t defaultValue);
void WriteNumber(const char* path, int32_t number);
// Reads, adds one (wrapping at 2^31) and writes; returns the new number.
int32_t IncrementNumber(const char* path, int32_t defaultValue);
// A block of bytes as "%04x" of the count, then " %02X" for each byte.
void WriteBytes(const char* path, const void* bytes, uint32_t count);
// True when a block of exactly `count` bytes was read into `bytes`. A text
// of the wrong length or count is rewritten with the caller's bytes unless
// the path says '?'; a malformed group leaves the bytes read before it.
bool ReadBytes(const char* path, void* bytes, uint32_t count);
