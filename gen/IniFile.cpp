// The INI backend of the store and its initialisation.
#include <cstring>

#include "gen/Array.h"
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
// The key's own part comes first, then the numbered ones in this order.
const char kPartSuffixes[] = "123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const int kParts = 1 + sizeof kPartSuffixes - 1;
// A section's listing is read into this much first. The platform's cost
// grows with the section: a larger one is listed whole (into eight times as
// much as long as it comes back cut, up to the largest) only for a value in
// numbered parts, which would otherwise take a read per part.
const uint32_t kFirstListingSize = 4096;
const uint32_t kLargestListingSize = 2u << 20;

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

// Bytes the platform compares as this code does: ASCII letters without
// case, everything else exactly.
bool IsPrintableAscii(StrView text) {
  for (uint32_t i = 0; i < text.length; ++i)
    if (text.text[i] < ' ' || text.text[i] >= 0x7F) return false;
  return true;
}

// A name or value with these ends is neither trimmed nor unquoted.
bool IsPlainEnd(char c) { return c > ' ' && c < 0x7F && c != '"' && c != '\''; }
bool HasPlainEnds(StrView text) {
  return text.length == 0 || (IsPlainEnd(text.text[0]) && IsPlainEnd(text.text[text.length - 1]));
}

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(const char* a, const char* b, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

// A key the section's listing can speak for. The platform reads keys from
// comment lines that the listing leaves out, and trims or compares other
// names by rules of its own; such keys are read one by one. A key's read
// also finds its section under a name with blanks at its ends, a listing
// does not.
bool IsListable(const Str& section, const Str& key) {
  StrView sectionName = section.View(), keyName = key.View();
  return sectionName.length && IsPrintableAscii(sectionName) && HasPlainEnds(sectionName) &&
         keyName.length && IsPrintableAscii(keyName) && HasPlainEnds(keyName) &&
         !strchr(";#[", keyName.text[0]) && !strchr(keyName.text, '=');
}

// A value the key's own read would give back as it is: no blank or quote
// at its ends to lose, and not longer than one read.
bool ReadsUnchanged(StrView value) { return value.length < kIniReadSize && HasPlainEnds(value); }

StrView TrimmedName(const char* start, const char* end) {
  while (start < end && (*start == ' ' || *start == '\t')) ++start;
  while (end > start && (end[-1] == ' ' || end[-1] == '\t')) --end;
  return StrView(start, static_cast<uint32_t>(end - start));
}

// The key and its numbered parts as one listing of the section shows them
// (one platform call instead of one or two per part). A part the listing
// cannot vouch for is read on its own, exactly as a key is read.
class SectionParts {
 public:
  explicit SectionParts(const SettingPath& path);
  SectionParts(const SectionParts&) = delete;
  SectionParts& operator=(const SectionParts&) = delete;
  // True when part `index` (0 the key itself) is present; its value is then
  // at `target`, which has room for kIniReadSize bytes.
  bool Read(int index, char* target) const;
  // Lists a section that the first listing showed only in part again, whole.
  void ListWhole();

 private:
  enum State : uint8_t { kAbsent, kListed, kReadAlone };
  struct Part {
    State state = kReadAlone;
    StrView value;
  };
  // True when the listing was whole.
  bool List(char* listing, uint32_t size);
  void Index(const char* listing, uint32_t count, bool whole);
  int IndexOf(StrView name) const;
  // Parts the listing has not shown (yet) may still exist.
  void ReadUnlistedAlone();

  const SettingPath& path_;
  Part parts_[kParts];
  bool cut_ = false;
  char firstListing_[kFirstListingSize];
  ByteBlock largerListing_;
};

SectionParts::SectionParts(const SettingPath& path) : path_(path) {
  if (IsListable(path.section, path.key)) cut_ = !List(firstListing_, kFirstListingSize);
}

bool SectionParts::List(char* listing, uint32_t size) {
  uint32_t count = GetPrivateProfileSectionA(path_.section, listing, size, path_.file);
  // A listing that did not fit comes back cut, its size less two.
  bool whole = count + 2 < size;
  Index(listing, count, whole);
  return whole;
}

void SectionParts::ListWhole() {
  for (uint32_t size = kFirstListingSize * 8; cut_ && size <= kLargestListingSize; size *= 8) {
    largerListing_.Allocate(size);
    cut_ = !List(largerListing_.Begin(), size);
  }
}

void SectionParts::ReadUnlistedAlone() {
  for (Part& part : parts_)
    if (part.state == kAbsent) part.state = kReadAlone;
}

// The listing holds "name=value" texts one after another, each ending in a
// zero. Of equal names the first is the one read, so a listing that was cut
// settles every part it shows; its last text may be cut too and is left
// out, and the parts it does not show are read on their own.
void SectionParts::Index(const char* listing, uint32_t count, bool whole) {
  for (Part& part : parts_) part = Part{kAbsent, StrView()};
  const char* end = listing + count;
  for (const char* entry = listing; entry < end;) {
    const char* next = static_cast<const char*>(memchr(entry, 0, end - entry));
    if (!next) {
      if (!whole) break;
      next = end;
    }
    const char* equals = static_cast<const char*>(memchr(entry, '=', next - entry));
    StrView name = TrimmedName(entry, equals ? equals : next);
    // A name this comparison cannot judge might be any part not yet listed.
    if (!IsPrintableAscii(name) || !HasPlainEnds(name)) ReadUnlistedAlone();
    int index = IndexOf(name);
    if (index >= 0 && parts_[index].state == kAbsent) {
      StrView value = equals ? StrView(equals + 1, static_cast<uint32_t>(next - equals - 1))
                             : StrView();
      // A line without '=' is listed, yet its key may read as missing.
      parts_[index] = equals && ReadsUnchanged(value) ? Part{kListed, value}
                                                      : Part{kReadAlone, StrView()};
    }
    entry = next + 1;
  }
  if (!whole) ReadUnlistedAlone();
}

// 0 for the key itself, 1 to 35 for its numbered parts, -1 for other names.
int SectionParts::IndexOf(StrView name) const {
  uint32_t keyLength = path_.key.Length();
  if (name.length < keyLength || name.length > keyLength + 1 ||
      !SameName(name.text, path_.key, keyLength))
    return -1;
  if (name.length == keyLength) return 0;
  // Names hold no zero byte, so the terminator is never found.
  const char* suffix = strchr(kPartSuffixes, UpperAscii(name.text[keyLength]));
  return suffix ? 1 + static_cast<int>(suffix - kPartSuffixes) : -1;
}

bool SectionParts::Read(int index, char* target) const {
  const Part& part = parts_[index];
  switch (part.state) {
    case kAbsent:
      return false;
    case kListed:
      if (part.value.length) memcpy(target, part.value.text, part.value.length);
      target[part.value.length] = 0;
      return true;
    default:
      return ReadIniPart(target, path_, index ? kPartSuffixes[index - 1] : 0);
  }
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
  SectionParts parts(path);
  char* value = buffer + 1;
  if (parts.Read(0, value)) return true;
  if (!parts.Read(1, value)) return false;
  parts.ListWhole();
  // Later parts are joined by line feeds as long as each fits whole; the
  // first that would not fit ends the value, so nothing is cut mid-part.
  uint32_t length = static_cast<uint32_t>(strlen(value));
  char part[kIniReadSize];
  for (int index = 2; index < kParts; ++index) {
    if (!parts.Read(index, part)) continue;
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
