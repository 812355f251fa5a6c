// Value encodings of the store (checksum, scrambling) and the typed values
// built on texts: numbers, counters and byte blocks.
#include <cstdlib>
#include <cstring>

#include "gen/Crc32.h"
#include "gen/Ini.h"
#include "gen/IniStore.h"
#include "gen/StrBuilder.h"
#include "gen/err/Err.h"

namespace {

const int kNoChecksum = 84;
const int kWrongChecksum = 86;

const uint32_t kChecksumDigits = 8;
const uint32_t kChecksumStart = 0xFFFFFFFF;
const uint8_t kScrambleStart = 107;

uint32_t Checksum(StrView text) { return Crc32(text.text, text.End(), kChecksumStart); }

Str WithChecksum(uint32_t checksum, StrView text) {
  return Concat(StrView(Str::Format("%08lX", static_cast<unsigned long>(checksum))), text);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The hex number at a stored text's start (at most eight digits, either
// case) and the text after the eighth character. The callers check that
// there was a digit, so that a crash report names them.
struct StoredChecksum {
  uint32_t written = 0;
  uint32_t digits = 0;
  StrView text;
};

StoredChecksum ReadStoredChecksum(StrView stored) {
  StoredChecksum checksum;
  uint32_t length = stored.Length();
  for (; checksum.digits < kChecksumDigits && checksum.digits < length; ++checksum.digits) {
    int digit = HexDigit(stored.text[checksum.digits]);
    if (digit < 0) break;
    checksum.written = checksum.written * 16 + digit;
  }
  checksum.text = RangeView(stored, kChecksumDigits, length);
  return checksum;
}

// Scrambling chains each byte of 32 or more to 7 bits of the byte stored
// before it; bytes below 32 are copied and leave the chain alone. XORing
// keeps a byte of 32 to 159 in that range, so no control character
// appears, but a byte of 160 or more may wrap below 32, where reading
// copies it unchanged (and a 0 ends the text). The mended form turns such
// bytes by the chain within 160 to 255 instead.
enum ScrambleForm { kOldForm, kMendedForm };
const uint8_t kHighFirst = 160;
const uint32_t kHighCount = 256 - kHighFirst;

uint8_t ScrambledByte(uint8_t plain, uint8_t chain, ScrambleForm form) {
  if (form == kMendedForm && plain >= kHighFirst)
    return static_cast<uint8_t>(kHighFirst + (plain - kHighFirst + chain) % kHighCount);
  return static_cast<uint8_t>(((plain - 32) ^ chain) + 32);
}

uint8_t PlainByte(uint8_t scrambled, uint8_t chain, ScrambleForm form) {
  if (form == kMendedForm && scrambled >= kHighFirst)
    return static_cast<uint8_t>(
        kHighFirst + (scrambled - kHighFirst + kHighCount - chain % kHighCount) % kHighCount);
  return static_cast<uint8_t>(((scrambled - 32) ^ chain) + 32);
}

uint8_t NextChain(uint8_t scrambled) { return static_cast<uint8_t>(scrambled - 32) & 127; }

Str Scrambled(Str text, ScrambleForm form) {
  uint8_t chain = kScrambleStart;
  for (char* c = text.Text(); c && *c; ++c) {
    uint8_t plain = static_cast<uint8_t>(*c);
    if (plain < 32) continue;
    uint8_t scrambled = ScrambledByte(plain, chain, form);
    *c = static_cast<char>(scrambled);
    chain = NextChain(scrambled);
  }
  return text;
}

Str Unscrambled(Str text, ScrambleForm form) {
  uint8_t chain = kScrambleStart;
  for (char* c = text.Text(); c && *c; ++c) {
    uint8_t scrambled = static_cast<uint8_t>(*c);
    if (scrambled < 32) continue;
    *c = static_cast<char>(PlainByte(scrambled, chain, form));
    chain = NextChain(scrambled);
  }
  return text;
}

// The block text's length for `count` bytes: "%04x", then " %02X" each.
uint32_t BlockLength(uint32_t count) { return 4 + 3 * count; }

Str BlockText(const uint8_t* bytes, uint32_t count) {
  StrBuilder block;
  block.Init(BlockLength(count));
  block.AppendFormat("%04x", count);
  for (uint32_t i = 0; i < count; ++i) block.AppendFormat(" %02X", bytes[i]);
  return Str(block.View());
}

// Reads the groups after the count, each a blank and two hex digits.
bool ReadGroups(const char* text, uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const char* group = text + BlockLength(i);
    int high = HexDigit(group[1]);
    int low = HexDigit(group[2]);
    if (group[0] != ' ' || high < 0 || low < 0) return false;
    bytes[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return true;
}

}  // namespace

Str AddChecksum(StrView text) { return WithChecksum(Checksum(text), text); }

Str StripChecksum(StrView stored) {
  StoredChecksum checksum = ReadStoredChecksum(stored);
  if (checksum.digits == 0) ErrAssert(kIniModule, kNoChecksum);
  if (Checksum(checksum.text) != checksum.written) ErrAssert(kIniModule, kWrongChecksum);
  return Str(checksum.text);
}

Str ScrambleText(Str text) { return Scrambled(static_cast<Str&&>(text), kOldForm); }

Str UnscrambleText(Str text) { return Unscrambled(static_cast<Str&&>(text), kOldForm); }

// The old form is kept wherever it reads back as written: files and
// registries hold such values. The mended form is told apart by its
// checksum, the complement of the checksum of the same text, so a value
// stored the old way (whose checksum is its text's own) never reads as
// mended, and a mended one never as old.
Str ScrambleForStore(StrView text) {
  Str old = ScrambleText(Str(text));
  if (Equals(UnscrambleText(old), text)) return AddChecksum(old);
  Str mended = Scrambled(Str(text), kMendedForm);
  return WithChecksum(~Checksum(mended), mended);
}

Str UnscrambleStored(StrView stored) {
  StoredChecksum checksum = ReadStoredChecksum(stored);
  if (checksum.digits == 0) ErrAssert(kIniModule, kNoChecksum);
  uint32_t own = Checksum(checksum.text);
  if (checksum.digits == kChecksumDigits && checksum.written == ~own)
    return Unscrambled(Str(checksum.text), kMendedForm);
  if (own != checksum.written) ErrAssert(kIniModule, kWrongChecksum);
  return UnscrambleText(Str(checksum.text));
}

int32_t ReadNumber(const char* path, int32_t defaultValue) {
  Str withDefault = Str::Format("%s|%ld", path, static_cast<long>(defaultValue));
  // A long is 32 bits here: out-of-range text gives the nearest limit.
  return static_cast<int32_t>(strtol(ReadSetting(withDefault), nullptr, 10));
}

void WriteNumber(const char* path, int32_t number) {
  WriteSettingFormat(path, "%ld", static_cast<long>(number));
}

int32_t IncrementNumber(const char* path, int32_t defaultValue) {
  int32_t next =
      static_cast<int32_t>(static_cast<uint32_t>(ReadNumber(path, defaultValue)) + 1u);
  WriteNumber(path, next);
  return next;
}

void WriteBytes(const char* path, const void* bytes, uint32_t count) {
  SettingPath parsed = ParseSettingPath(path);
  parsed.value = BlockText(static_cast<const uint8_t*>(bytes), count);
  StoreSetting(parsed);
}

bool ReadBytes(const char* path, void* bytes, uint32_t count) {
  SettingPath parsed = ParseSettingPath(path, Str(""));
  Str text = ReadSetting(parsed);
  uint8_t* out = static_cast<uint8_t*>(bytes);
  bool shaped = text.Length() == BlockLength(count) &&
                strtoul(text, nullptr, 16) == static_cast<unsigned long>(count);
  if (!shaped) {
    // The caller's bytes are the default: a wrong block gives way to them.
    if (parsed.missingPolicy == '=') {
      parsed.value = BlockText(out, count);
      StoreSetting(parsed);
    }
    return false;
  }
  return ReadGroups(text, out, count);
}
