#include "gen/Ini.h"

#include <cstring>

#include "gen/InitOrder.h"
#include "gen/IniStore.h"
#include "gen/err/Err.h"

const char kIniModule[] = "..\\gen\\Ini.cpp";

Str DefaultTemplate INIT_ORDER_GLOBAL_TEXT;
Str LanguageTemplate INIT_ORDER_GLOBAL_TEXT;

namespace {

// Lines the store's checks report.
const int kNullPath = 163;
const int kNullPathGiven = 129;
const int kNotAbsolute = 170;
const int kNotAbsoluteGiven = 136;
const int kNullRoot = 73;
const int kPolicyWithoutValue = 307;

const char kNotFoundFormat[] = "%s [%s] %s= not found";

bool IsFlag(char c) {
  return c == '!' || c == '@' || c == '+' || c == '=' || c == '?' || c == '`';
}

// Stores the flags at the start of `text` in `path`; a later flag of the
// same group replaces an earlier one. Returns the first other character.
const char* ParsePrefixFlags(const char* text, SettingPath& path) {
  for (; IsFlag(*text); ++text) {
    if (*text == '!' || *text == '@')
      path.encoding = *text;
    else if (*text == '`')
      path.source = *text;
    else
      path.missingPolicy = *text;
  }
  return text;
}

// The segment from `start` up to the next '|' or the end.
const char* SegmentEnd(const char* start) {
  const char* end = strchr(start, '|');
  return end ? end : start + strlen(start);
}

// Splits an absolute path into the fields. A path that ends early leaves
// its first missing segment empty and the later ones unset.
void SplitAbsolute(const char* full, SettingPath& path, bool valueGiven) {
  const char* cursor = full + 1;
  const char* end = SegmentEnd(cursor);
  path.file = Str(StrView(cursor, static_cast<uint32_t>(end - cursor)));
  Str* scanned[] = {&path.section, &path.key};
  for (Str* field : scanned) {
    if (!*end) {
      *field = Str("");
      return;
    }
    cursor = ParsePrefixFlags(end + 1, path);
    end = SegmentEnd(cursor);
    *field = Str(StrView(cursor, static_cast<uint32_t>(end - cursor)));
  }
  if (*end && !valueGiven) path.value = Str(end + 1);
}

SettingPath Parse(const char* text, const Str* given, int nullLine, int absoluteLine) {
  SettingPath path;
  if (!text) ErrAssert(kIniModule, nullLine);
  Str expanded;
  const char* full = text;
  if (*text != '|') {
    const char* rest = ParsePrefixFlags(text, path);
    expanded = Str::Format(DefaultTemplate.Text(), rest);
    full = expanded.Text();
  }
  if (!full || *full != '|') ErrAssert(kIniModule, absoluteLine);
  bool valueGiven = given && !given->IsUnset();
  SplitAbsolute(full, path, valueGiven);
  if (valueGiven) path.value = *given;
  if (!path.value.IsUnset() && path.missingPolicy == '+') path.missingPolicy = '=';
  return path;
}

// `found` is set when a backend answered; the buffer holds the value then.
bool LookupSetting(const SettingPath& path, char* buffer) {
  HKEY root = RegistryRootOf(path);
  return root ? LookupRegistry(path, root, buffer) : LookupIni(path, buffer);
}

// A copy that stays unset when the original is.
Str Copied(const Str& text) { return text.IsUnset() ? Str() : Str(text); }

Str Decoded(const SettingPath& path, const char* stored) {
  if (path.encoding == '!') return StripChecksum(stored);
  if (path.encoding == '@') return UnscrambleStored(stored);
  return Str(stored);
}

}  // namespace

SettingPath ParseSettingPath(const char* path) {
  return Parse(path, nullptr, kNullPath, kNotAbsolute);
}

SettingPath ParseSettingPath(const char* path, const Str& given) {
  return Parse(path, &given, kNullPathGiven, kNotAbsoluteGiven);
}

Str ReadSetting(SettingPath& path) {
  if (path.missingPolicy != '+' && path.value.IsUnset())
    ErrAssert(kIniModule, kPolicyWithoutValue);
  char buffer[kReadBufferSize] = {};
  path.found = false;
  if (path.source == '`') {
    Str language = Str::Format(LanguageTemplate.Text(), path.file.Text(),
                               path.section.Text(), path.key.Text());
    path.found = LookupSetting(ParseSettingPath(language), buffer);
  }
  if (!path.found) path.found = LookupSetting(path, buffer);
  if (path.found) return Decoded(path, buffer + 1);
  switch (path.missingPolicy) {
    case '+':
      return Str::Format(kNotFoundFormat, path.file.Text(), path.section.Text(),
                         path.key.Text());
    case '=':
      StoreSetting(path);
      break;
  }
  return Str(path.value);
}

Str ReadSetting(const char* path) {
  SettingPath parsed = ParseSettingPath(path);
  return ReadSetting(parsed);
}

Str ReadSetting(const char* path, const Str& defaultValue) {
  SettingPath parsed = ParseSettingPath(path, defaultValue);
  return ReadSetting(parsed);
}

void StoreSetting(const SettingPath& path) {
  Str text = path.value.IsUnset() ? Str("") : Str(path.value);
  if (path.encoding == '!') text = AddChecksum(text);
  if (path.encoding == '@') text = ScrambleForStore(text);
  HKEY root = RegistryRootOf(path);
  if (root)
    StoreRegistry(path, root, text);
  else
    StoreIni(path, text);
}

void WriteSetting(const char* path, const char* value) {
  StoreSetting(ParseSettingPath(path, Str(value ? value : "")));
}

void WriteSettingPath(const char* path) { StoreSetting(ParseSettingPath(path)); }

void WriteSettingFormatV(const char* path, const char* format, va_list args) {
  Str value = Str::FormatV(format, args);
  WriteSetting(path, value);
}

void WriteSettingFormat(const char* path, const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteSettingFormatV(path, format, args);
  va_end(args);
}

Str GetLanguageTemplate() { return Copied(LanguageTemplate); }

void ResetSettings() {
  DefaultTemplate = Str("");
  LanguageTemplate = Str("");
}

ScopedSettingsRoot::ScopedSettingsRoot(const char* root) {
  if (!root) ErrAssert(kIniModule, kNullRoot);
  saved_ = Copied(DefaultTemplate);
  if (*root == '|')
    DefaultTemplate = root;
  else
    DefaultTemplate = Str::Format(saved_.Text(), root);
}

ScopedSettingsRoot::~ScopedSettingsRoot() { DefaultTemplate = static_cast<Str&&>(saved_); }
