// The INI backend of the store and its initialisation.
#include <cstring>

#include "gen/Ini.h"
#include "gen/IniStore.h"
#include "gen/Path.h"
#include "gen/Pathw32.h"
#include "gen/err/Err.h"
#include "mania/Bounded.h"

const char kLanguageSettingPath[] = "Options|Language||%s|%s|%s";
const char kIniNotFoundTemplate[] = "File NARV.INI not found in: %s";

namespace {

const int kLineFeedInIni = 244;
const int kTemplateNotAbsolute = 57;
const int kTemplateMalformed = 60;

// The default of a first read: only a missing key (or one holding exactly
// this text) gives it back.
const char kAbsenceMarker[] = ")(@*#_$)*R&";
// The key's own suffix comes first, then these, in this order.
const char kLaterPartSuffixes[] = "23456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// The folders a data file is looked for in, in the order they are tried.
Str SearchedFolders() {
  char folders[4096];
  BoundedFormat(folders, sizeof folders, "%s; %s; %s; %s; %s", CurrentFolder().Text(),
                PathOverride(ModuleFileName(), "|.|").Text(), UserDataFolder().Text(),
                CommonDataFolder().Text(), WindowsFolder().Text());
  return Str(folders);
}

bool IsTrimmed(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool LosesItsEnds(const char* text) {
  size_t length = strlen(text);
  if (length == 0) return false;
  char first = text[0], last = text[length - 1];
  return IsTrimmed(first) || IsTrimmed(last) ||
         (length >= 2 && first == last && (first == '"' || first == '\''));
}

}  // namespace

// Without a section or a key the platform would list the file's sections
// or keys on a read and delete a section or key on a write: such a path
// reads as missing and writes nothing.
bool ReadIniPart(char* target, const SettingPath& path, char suffix) {
  Str key = suffix ? Str::Format("%s%c", path.key.Text(), suffix) : Str(path.key);
  GetPrivateProfileStringA(path.section, key, kAbsenceMarker, target, kIniReadSize, path.file);
  if (strcmp(target, kAbsenceMarker) != 0) return true;
  GetPrivateProfileStringA(path.section, key, "", target, kIniReadSize, path.file);
  return *target != 0;
}

bool LookupIni(const SettingPath& path, char* buffer) {
  if (path.section.IsUnset() || path.key.IsUnset()) return false;
  char* value = buffer + 1;
  if (ReadIniPart(value, path, 0)) return true;
  if (!ReadIniPart(value, path, '1')) return false;
  // Later parts are joined by line feeds as long as each fits whole; the
  // first that would not fit ends the value, so nothing is cut mid-part.
  uint32_t length = static_cast<uint32_t>(strlen(value));
  char part[kIniReadSize];
  for (const char* suffix = kLaterPartSuffixes; *suffix; ++suffix) {
    if (!ReadIniPart(part, path, *suffix)) continue;
    uint32_t partLength = static_cast<uint32_t>(strlen(part));
    if (length + 1 + partLength > kValueRoom) break;
    value[length] = '\n';
    memcpy(value + length + 1, part, partLength + 1);
    length += 1 + partLength;
  }
  return true;
}

void StoreIni(const SettingPath& path, const char* text) {
  if (strchr(text, '\n')) ErrAssert(kIniModule, kLineFeedInIni);
  if (path.section.IsUnset() || path.key.IsUnset()) return;
  // The platform trims blanks at a value's ends and drops one pair of
  // quotes around it when reading. Quoted, such a value reads back as it
  // was written; unquoted, a checksummed one would no longer match.
  Str quoted;
  if (LosesItsEnds(text)) {
    quoted = Str::Format("\"%s\"", text);
    text = quoted;
  }
  WritePrivateProfileStringA(path.section, path.key, text, path.file);
}

void InitSettings(const char* iniName, bool verify, bool skipLanguage) {
  DefaultTemplate = Str::Format("|%s|%%s", iniName);
  if (verify) {
    SettingPath language = ParseSettingPath(kLanguageSettingPath);
    language.missingPolicy = '?';
    ReadSetting(language);
    if (!language.found) ErrRaise(kIniNotFoundTemplate, SearchedFolders().Text());
  }
  if (!skipLanguage) SetLanguageTemplate(ReadSetting(kLanguageSettingPath));
}

void SetLanguageTemplate(const char* languageTemplate) {
  if (!languageTemplate || *languageTemplate != '|')
    ErrAssert(kIniModule, kTemplateNotAbsolute);
  SettingPath parsed = ParseSettingPath(languageTemplate);
  if (parsed.section.IsEmpty() || parsed.key.IsEmpty() || !parsed.value.IsUnset() ||
      parsed.missingPolicy != '+' || parsed.source != 0)
    ErrAssert(kIniModule, kTemplateMalformed);
  LanguageTemplate = languageTemplate;
  if (strcmp(ReadSetting(kLanguageSettingPath), languageTemplate) != 0)
    WriteSetting(kLanguageSettingPath, languageTemplate);
}
