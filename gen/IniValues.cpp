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

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
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

Str AddChecksum(StrView text) {
  return Concat(StrView(Str::Format("%08lX", static_cast<unsigned long>(Checksum(text)))), text);
}

Str StripChecksum(StrView stored) {
  uint32_t length = stored.Length();
  uint32_t digits = 0;
  uint32_t written = 0;
  for (; digits < kChecksumDigits && digits < length; ++digits) {
    int digit = HexDigit(stored.text[digits]);
    if (digit < 0) break;
    written = written * 16 + digit;
  }
  if (digits == 0) ErrAssert(kIniModule, kNoChecksum);
  StrView text = RangeView(stored, kChecksumDigits, length);
  if (Checksum(text) != written) ErrAssert(kIniModule, kWrongChecksum);
  return Str(text);
}

// The chain is 7 bits of the previous scrambled byte, so a byte of 32 to 159
// stays in that range both ways and no control character appears.
Str ScrambleText(Str text) {
  uint8_t chain = kScrambleStart;
  for (char* c = text.Text(); c && *c; ++c) {
    uint8_t plain = static_cast<uint8_t>(*c);
    if (plain < 32) continue;
    uint8_t scrambled = static_cast<uint8_t>(((plain - 32) ^ chain) + 32);
    *c = static_cast<char>(scrambled);
    chain = static_cast<uint8_t>(scrambled - 32) & 127;
  }
  return text;
}

Str UnscrambleText(Str text) {
  uint8_t chain = kScrambleStart;
  for (char* c = text.Text(); c && *c; ++c) {
    uint8_t scrambled = static_cast<uint8_t>(*c);
    if (scrambled < 32) continue;
    *c = static_cast<char>(static_cast<uint8_t>((scrambled - 32) ^ chain) + 32);
    chain = static_cast<uint8_t>(scrambled - 32) & 127;
  }
  return text;
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
