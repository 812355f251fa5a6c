#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "gen/Ini.h"
#include "toolkit/FiredCheck.h"
#include "toolkit/Probe.h"
#include "toolkit/WinTest.h"

namespace {

const char kRegKey[] = "Software\\NARV_IniTest";
const char kMarker[] = ")(@*#_$)*R&";

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  return file && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                           nullptr) && written == bytes.size();
}

// What the platform itself reads, with a marker for a missing key.
std::string RawIni(const std::string& file, const char* section, const char* key) {
  char value[4096];
  GetPrivateProfileStringA(section, key, "<missing>", value, sizeof value, file.c_str());
  return value;
}

// The type and bytes of a value below the test's key; type 0 when missing.
std::pair<DWORD, std::string> RawReg(const char* name) {
  Key key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kRegKey, 0, KEY_READ, key.Out()) != ERROR_SUCCESS)
    return {0, "<no key>"};
  char data[8192];
  DWORD type = 0, size = sizeof data;
  if (RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size))
    return {0, ""};
  return {type, std::string(data, size)};
}

std::string Text(const Str& text) { return text.IsUnset() ? "~" : text.Text(); }
std::string Read(const std::string& path) { return ReadSetting(path.c_str()).Text(); }

// Each test has its own INI file in a temporary folder, which relative
// paths name, and the default language location.
class IniTest : public testing::Test {
 protected:
  void SetUp() override {
    DefaultTemplate = ("|" + file_ + "|%s").c_str();
    LanguageTemplate = "|%s|%s|%s";
  }
  void TearDown() override { ResetSettings(); }

  void Put(const std::string& bytes) { ASSERT_TRUE(WriteFileBytes(file_, bytes)); }
  std::string Bytes() const { return ReadFileBytes(file_).value_or("<none>"); }
  std::string Raw(const char* section, const char* key) const { return RawIni(file_, section, key); }

  TempFolder folder_;
  std::string file_ = folder_.Path() + "\\t.ini";
};

}  // namespace

// Flags (0 for none) of encoding, policy and source, then file|section|key|value.
TEST(SettingPath, ParsesFlagsSegmentsAndValueParts) {
  ScopedSettingsRoot root("|NARV.INI|%s");
  const char* const cases[][2] = {
      {"Internet|MAutomated", "0+0 NARV.INI|Internet|MAutomated|~"},
      {"Internet|MAutomated|", "0=0 NARV.INI|Internet|MAutomated|"},
      {"Options|Language||%s|%s|%s", "0=0 NARV.INI|Options|Language||%s|%s|%s"},
      {"!Section|Key", "!+0 NARV.INI|Section|Key|~"},
      {"|f|!Section|Key", "!+0 f|Section|Key|~"},
      {"|!f|Section|Key", "0+0 !f|Section|Key|~"},
      {"|f|S|@=K|v", "@=0 f|S|K|v"},
      {"|f|S|?", "0?0 f|S||~"},
      {"+Section|Key|x", "0=0 NARV.INI|Section|Key|x"},
      {"?Section|Key|", "0?0 NARV.INI|Section|Key|"},
      {"!@?=`S|K|v", "@=` NARV.INI|S|K|v"},
      {"@S|!K", "!+0 NARV.INI|S|K|~"},
      {"|f|S|K|!a|b", "0=0 f|S|K|!a|b"},
      {"|f|S", "0+0 f|S||~"},
      {"|f", "0+0 f||~|~"},
      {"|", "0+0 ||~|~"},
  };
  auto flag = [](char f) { return std::string(1, f ? f : '0'); };
  for (const auto& c : cases) {
    SettingPath p = ParseSettingPath(c[0]);
    EXPECT_EQ(c[1], flag(p.encoding) + flag(p.missingPolicy) + flag(p.source) + " " +
                        Text(p.file) + "|" + Text(p.section) + "|" + Text(p.key) + "|" +
                        Text(p.value));
  }
}

TEST(SettingPath, ScopedRootsNestAndRestore) {
  ScopedSettingsRoot outer("|NARV.INI|%s");
  {
    ScopedSettingsRoot sub("Sub|%s");
    EXPECT_EQ("Sub|Key", Text(ParseSettingPath("=Key|v").section) + "|" +
                             Text(ParseSettingPath("=Key|v").key));
    {
      ScopedSettingsRoot other("|OTHER.INI|%s");
      EXPECT_EQ("OTHER.INI", Text(ParseSettingPath("S|K").file));
    }
    EXPECT_STREQ("|NARV.INI|Sub|%s", DefaultTemplate);
  }
  EXPECT_STREQ("|NARV.INI|%s", DefaultTemplate);
}

// The module and line each misuse reports.
TEST(Ini, EveryMisuseReportsItsCheck) {
  const struct {
    int line;
    std::function<void()> misuse;
  } cases[] = {
      {163, [] { ParseSettingPath(nullptr); }}, {129, [] { ParseSettingPath(nullptr, Str("x")); }},
      {170, [] { DefaultTemplate = "%s"; ParseSettingPath("S|K"); }},
      {136, [] { DefaultTemplate = "x%s"; ParseSettingPath("S|K", Str()); }},
      {73, [] { ScopedSettingsRoot root(nullptr); }},
      {307, [] { ReadSetting("|NARV.INI|S|?K"); }}, {307, [] { ReadSetting("|NARV.INI|S|?"); }},
      {244, [] { WriteSetting("|NARV_IniTest.ini|S|K", "two\nlines"); }},
      {57, [] { SetLanguageTemplate("%s|%s|%s"); }}, {57, [] { SetLanguageTemplate(nullptr); }},
      {60, [] { SetLanguageTemplate("|%s|%s"); }}, {60, [] { SetLanguageTemplate("|%s||%s"); }},
      {60, [] { SetLanguageTemplate("|%s|%s|%s|"); }},
      {60, [] { SetLanguageTemplate("|%s|?%s|%s"); }},
      {60, [] { SetLanguageTemplate("|%s|%s|`%s"); }},
      {210, [] { ReadSetting("|HKEY_DYN_DATA|S|K"); }},
      {210, [] { WriteSetting("|HKEY_Current_User|S|K", "x"); }},
      {84, [] { StripChecksum("xyzabc"); }}, {84, [] { StripChecksum(""); }},
      {86, [] { StripChecksum("CADBBE3Eabc"); }}, {86, [] { StripChecksum("FFFFFFF"); }},
      {84, [] { UnscrambleStored("xyzabc"); }}, {86, [] { UnscrambleStored("CADBBE3Eabc"); }},
      // Not eight digits: no complemented checksum either (~Checksum("") is 0).
      {86, [] { UnscrambleStored("0"); }},
  };
  for (const auto& c : cases) {
    EXPECT_EQ("..\\gen\\Ini.cpp:" + std::to_string(c.line), FiredCheck(c.misuse));
    ResetSettings();
  }
}

TEST(Encoding, ChecksumIsEightUpperCaseDigitsAndScramblingChainsFrom107) {
  EXPECT_STREQ("CADBBE3Dabc", AddChecksum("abc"));
  EXPECT_STREQ("FFFFFFFF", AddChecksum(""));
  EXPECT_STREQ("abc", StripChecksum("cadbbe3dabc"));
  // 'A': (65 - 32) ^ 107 = 74, stored as 106; the chain becomes 74.
  // 'A' again: (33 ^ 74) + 32 = 139. Control bytes stay and leave the chain.
  EXPECT_STREQ("j\x8B\tj", ScrambleText("AA\tA"));
  EXPECT_STREQ("AA\tA", UnscrambleText("j\x8B\tj"));
}

// Each byte value meets several chains here. Old stored values read as they
// always did; a text that came back from them is stored exactly as before,
// and every other text is stored so that it comes back too.
TEST(Encoding, EveryByteValueReadsBackAndOldStoredFormsStay) {
  for (int value = 1; value < 256; ++value) {
    char b = static_cast<char>(value);
    const char text[] = {b, 'A', b, b, 'z', b, '\0'};
    Str old = AddChecksum(ScrambleText(text));
    Str readFromOld = UnscrambleText(ScrambleText(text));
    EXPECT_STREQ(readFromOld, UnscrambleStored(old)) << value;
    Str stored = ScrambleForStore(text);
    EXPECT_STREQ(text, UnscrambleStored(stored)) << value;
    if (Equals(readFromOld, text)) {
      EXPECT_STREQ(old, stored) << value;
    }
  }
}

// Each row reads a path, then looks at what the file holds under a key.
TEST_F(IniTest, MissingValuesFollowThePolicy) {
  Put(std::string("[S]\r\nEmpty=\r\nMarker=") + kMarker + "\r\n");
  const struct {
    const char *path, *read, *section, *key, *stored;
  } cases[] = {
      {"S|Empty|d", "", "S", "Empty", ""},
      {"S|Marker|d", kMarker, "S", "Marker", kMarker},
      {"?S|Key|", "", "S", "Key", "<missing>"},
      {"?S|Key|dflt", "dflt", "S", "Key", "<missing>"},
      {"Internet|MAutomated|", "", "Internet", "MAutomated", ""},
      {"+S|Plus|x", "x", "S", "Plus", "x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.read, Read(c.path)) << c.path;
    EXPECT_EQ(c.stored, Raw(c.section, c.key)) << c.path;
  }
  SettingPath missing = ParseSettingPath("S|Missing");
  EXPECT_EQ(file_ + " [S] Missing= not found", ReadSetting(missing).Text());
  EXPECT_FALSE(missing.found);
  // A given default overrides the path's own, in the read and the write.
  EXPECT_STREQ("given", ReadSetting("S|Given|own", Str("given")));
  EXPECT_STREQ("given", ReadSetting("S|Given|own"));
}

// The platform trims blanks at a value's ends and drops a pair of quotes
// around it; the store quotes such values so that they come back whole.
TEST_F(IniTest, BlanksAndQuotesAtTheEndsSurvive) {
  for (const char* text : {" lead", "trail ", "\ttab", "\"q\"", "'s'", "\"", "\" \"", "a\"b\""}) {
    WriteSetting("S|K", text);
    EXPECT_STREQ(text, ReadSetting("S|K"));
  }
  WriteSetting("S|Plain", "in side");
  // Only values that need it are quoted.
  EXPECT_EQ("[S]\r\nK=a\"b\"\r\nPlain=in side\r\n", Bytes());
}

// Without a key the profile calls would list the section or delete it.
TEST_F(IniTest, APathEndingBeforeItsKeyTouchesNothing) {
  Put("[]\r\nK=v\r\n");
  SettingPath path = ParseSettingPath(("|" + file_).c_str());
  ReadSetting(path);
  EXPECT_FALSE(path.found);
  WriteSetting(("|" + file_).c_str(), "x");
  EXPECT_EQ("[]\r\nK=v\r\n", Bytes());
}

// Gaps, the key before its parts and the parts' many layouts are left to
// the comparison below; here every suffix in its order, whatever the file's,
// and the limits of one read (1,023) and of a value (2,046).
TEST_F(IniTest, NumberedPartsJoinInSuffixOrderWhileEachFitsWhole) {
  std::string lines, joined;
  for (char suffix : std::string("123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ")) {
    lines = "A" + std::string(1, suffix) + "=" + suffix + "\r\n" + lines;
    joined += (joined.empty() ? "" : "\n") + std::string(1, suffix);
  }
  const std::string x(1023, 'x'), y(1022, 'y');
  Put("[S]\r\n" + lines + "L1=" + x + "\r\nL2=" + y + "\r\n" +
      // M2 makes 2,047 and ends the value: M3 would fit, but is not taken.
      "M1=" + x + "\r\nM2=" + x + "y\r\nM3=z\r\n" + "N=" + std::string(1500, 'n') + "\r\n");
  EXPECT_EQ(joined, Read("S|A"));
  EXPECT_EQ(x + "\n" + y, Read("S|L"));
  EXPECT_EQ(x, Read("S|M"));
  EXPECT_EQ(std::string(1023, 'n'), Read("S|N"));
}

namespace {

// The reading the store's fewer platform calls must agree with: each part
// read on its own, a second time when the first gives the marker back.
bool PlainPart(const std::string& file, const char* section, const std::string& key,
               char* target) {
  GetPrivateProfileStringA(section, key.c_str(), kMarker, target, 1024, file.c_str());
  if (strcmp(target, kMarker) != 0) return true;
  GetPrivateProfileStringA(section, key.c_str(), "", target, 1024, file.c_str());
  return *target != 0;
}

std::optional<std::string> PlainLookup(const std::string& file, const char* section,
                                       const std::string& key) {
  char part[1024];
  if (PlainPart(file, section, key, part)) return std::string(part);
  if (!PlainPart(file, section, key + "1", part)) return std::nullopt;
  std::string value = part;
  for (const char* suffix = "23456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"; *suffix; ++suffix) {
    if (!PlainPart(file, section, key + *suffix, part)) continue;
    if (value.size() + 1 + strlen(part) > 2046) break;
    value += '\n' + std::string(part);
  }
  return value;
}

}  // namespace

// Names that differ in case, that the platform trims or reads from lines
// a listing leaves out; values it trims, unquotes or cuts; lines without
// a value, duplicates, gaps, sections of many kilobytes.
TEST_F(IniTest, ReadsAgreeWithReadingEveryPartOnItsOwn) {
  std::mt19937 random(1306);
  auto pick = [&](std::initializer_list<const char*> options) {
    return std::string(options.begin()[random() % options.size()]);
  };
  for (int round = 0; round < 150; ++round) {
    std::string bytes = "[T]\r\nK=elsewhere\r\n[S]\r\n";
    for (int line = random() % 40; line > 0; --line) {
      if (random() % 12 == 0) bytes += pick({";K=hidden\r\n", "\r\n", "[S]\r\nK1=again\r\n"});
      // Names the listing cannot judge send every part to its own read:
      // rare. Rounds differ in how often a line is a part or the key itself.
      bytes += random() % (round % 3 ? 40 : 8)
                   ? pick({"K", "K", "k", "Key", "KEY", " K", "K K"})
                   : pick({";K", "K\xE4", "\"K\"", "\xC4"});
      if (random() % (round % 2 ? 12 : 2)) bytes += "1234ABYZabyz0"[random() % 13];
      bytes += pick({"=", "=", "=", " = ", ""});
      bytes += random() % 3 ? pick({"v", "", kMarker, "\"q u\"", "'s'", " pad ", "\"open",
                                    "a ;b", "\xA0x\xA0", "t\tt"})
                            : std::string(1020 + random() % 8, 'L');
      bytes += "\r\n";
    }
    const std::string file = folder_.Path() + "\\r" + std::to_string(round) + ".ini";
    ASSERT_TRUE(WriteFileBytes(file, bytes));
    const char* const wanted[][2] = {{"S", "K"},  {"S", "k"},  {"s", "Key"}, {"S", " K"},
                                     {"S", ";K"}, {" S", "K"}, {"S", "k k"}};
    for (const auto& at : wanted) {
      SettingPath path = ParseSettingPath(("|" + file + "|" + at[0] + "|" + at[1]).c_str());
      Str read = ReadSetting(path);
      std::optional<std::string> plain = PlainLookup(file, at[0], at[1]);
      ASSERT_EQ(plain.has_value(), path.found) << at[0] << "|" << at[1] << "\n" << bytes;
      if (plain) {
        ASSERT_EQ(*plain, read.Text()) << at[0] << "|" << at[1] << "\n" << bytes;
      }
    }
  }
}

TEST_F(IniTest, TheLanguageLocationIsTriedFirstAndNeverWritten) {
  Put("[S]\r\nK=Hello\r\nK_de=Hallo\r\nOnly=own\r\n");
  LanguageTemplate = "|%s|%s|%s_de";
  EXPECT_STREQ("Hallo", ReadSetting("`S|K"));
  EXPECT_STREQ("own", ReadSetting("`S|Only"));
  EXPECT_STREQ("d", ReadSetting("`S|New|d"));
  WriteSetting("`S|K", "Hi");
  EXPECT_EQ("d <missing> Hi Hallo", Raw("S", "New") + " " + Raw("S", "New_de") + " " +
                                        Raw("S", "K") + " " + Raw("S", "K_de"));
}

TEST_F(IniTest, RelativeFileNamesAreInTheWindowsFolder) {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  const std::string relative = std::string(windows) + "\\NARV_IniTest.ini";
  DeleteFileA(relative.c_str());
  WriteSetting(("|" + file_ + "|S|K").c_str(), "here");
  WriteSetting("|NARV_IniTest.ini|S|K", "there");
  EXPECT_EQ("here", Raw("S", "K"));
  EXPECT_EQ("there", RawIni(relative, "S", "K"));
  EXPECT_STREQ("there", ReadSetting("|NARV_IniTest.ini|S|K"));
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, "NARV_IniTest.ini");
  DeleteFileA(relative.c_str());
  // Only the exact root names are the registry.
  EXPECT_STREQ("hkey_current_user [S] K= not found", ReadSetting("|hkey_current_user|S|K"));
}

TEST_F(IniTest, CheckedAndScrambledValuesAreStoredEncoded) {
  WriteSetting("!S|Checked", "abc");
  EXPECT_EQ("CADBBE3Dabc", Raw("S", "Checked"));
  // A default written back under '=' is encoded too.
  EXPECT_STREQ("dflt", ReadSetting("@S|New|dflt"));
  EXPECT_EQ(std::string(AddChecksum(ScrambleText("dflt"))), Raw("S", "New"));
  // The old scrambling would turn the first byte into a 0.
  WriteSetting("@S|Accented", "\xAB" "Caf\xE9\xBB");
  EXPECT_STREQ("\xAB" "Caf\xE9\xBB", ReadSetting("@S|Accented"));
}

// Verifying a file without the option names the five folders searched;
// neither that nor skipping the language writes anything.
TEST_F(IniTest, InitialisationVerifiesAndRecordsTheLanguageTemplate) {
  Put("[Other]\r\n");
  ErrFrame frame;
  ASSERT_TRUE(frame.Try([&] { InitSettings(file_.c_str(), true, false); }));
  EXPECT_EQ(kIniNotFoundTemplate, frame.Code());
  std::string message = frame.Message().Text();
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  EXPECT_EQ(0u, message.find("File NARV.INI not found in: ")) << message;
  EXPECT_EQ(4, std::count(message.begin(), message.end(), ';')) << message;
  EXPECT_EQ(message.size() - strlen(windows) - 1, message.rfind(windows)) << message;
  InitSettings(file_.c_str(), false, true);
  EXPECT_EQ("|" + file_ + "|%s", DefaultTemplate.Text());
  EXPECT_EQ("[Other]\r\n", Bytes());

  InitSettings(file_.c_str(), false, false);
  EXPECT_EQ("|%s|%s|%s", Raw("Options", "Language"));
  EXPECT_STREQ("|%s|%s|%s", GetLanguageTemplate());
  // Spacing the platform would not write shows that nothing is rewritten.
  Put("[Options]\r\nLanguage = |%s|%s|%s_de\r\n");
  InitSettings(file_.c_str(), true, false);
  EXPECT_STREQ("|%s|%s|%s_de", GetLanguageTemplate());
  EXPECT_EQ("[Options]\r\nLanguage = |%s|%s|%s_de\r\n", Bytes());
  SetLanguageTemplate("|%s|%s|%s_fr");
  EXPECT_EQ("|%s|%s|%s_fr", Raw("Options", "Language"));
}

class IniRegistryTest : public testing::Test {
 protected:
  static std::string At(const char* name) {
    return "|HKEY_CURRENT_USER|Software\\NARV_IniTest|" + std::string(name);
  }
  RegistryScope scope_{kRegKey};
};

TEST_F(IniRegistryTest, WritesNeverCreateTheKey) {
  WriteSetting(At("V").c_str(), "x");
  EXPECT_EQ("d", Read(At("V|d")));
  EXPECT_EQ("<no key>", RawReg("V").second);
  EXPECT_EQ("HKEY_CURRENT_USER [Software\\NARV_IniTest] V= not found", Read(At("V")));
}

// Other types read as missing and give way to the default.
TEST_F(IniRegistryTest, OnlyStringsUpTo2045CharactersAreFound) {
  const struct {
    const char* name;
    DWORD type;
    std::string data;
  } others[] = {{"D", REG_DWORD, RegDword(7)}, {"E", REG_EXPAND_SZ, RegSz("%TEMP%")}};
  for (const auto& o : others) {
    ASSERT_EQ(0, SetRegValue(HKEY_CURRENT_USER, RegView::k32, kRegKey, o.name, o.type, o.data));
    EXPECT_EQ("new", Read(At(o.name) + "|new"));
    EXPECT_EQ(std::make_pair(DWORD(REG_SZ), RegSz("new")), RawReg(o.name)) << o.name;
  }
  WriteSetting(At("V").c_str(), "two\nlines");
  EXPECT_EQ(std::make_pair(DWORD(REG_SZ), RegSz("two\nlines")), RawReg("V"));
  EXPECT_EQ("two\nlines", Read(At("V")));
  const std::string longest(2045, 'r');
  WriteSetting(At("!Long").c_str(), longest.substr(8).c_str());
  EXPECT_EQ(RegSz(AddChecksum(longest.substr(8).c_str()).Text()), RawReg("Long").second);
  EXPECT_EQ(longest.substr(8), Read(At("!Long")));
  WriteSetting(At("Longer").c_str(), (longest + "s").c_str());
  EXPECT_EQ("HKEY_CURRENT_USER [Software\\NARV_IniTest] Longer= not found", Read(At("Longer")));
}

TEST_F(IniTest, NumbersReadAsTheDigitsTheyBeginWithAndCountersWrap) {
  Put("[N]\r\nMixed=12abc\r\nEmpty=\r\nNegative= -42\r\nHuge=99999999999\r\nTiny=-99999999999\r\n");
  const struct {
    const char* key;
    int32_t expected;
  } cases[] = {{"Mixed", 12}, {"Empty", 0}, {"Negative", -42},
               {"Huge", INT_MAX}, {"Tiny", INT_MIN}, {"Missing", 5}};
  for (const auto& c : cases)
    EXPECT_EQ(c.expected, ReadNumber(("N|" + std::string(c.key)).c_str(), 5)) << c.key;
  EXPECT_EQ(7, ReadNumber("?N|Unwritten", 7));
  // Counters start from the default, written first, and wrap.
  EXPECT_EQ(1, IncrementNumber("N|Count", 0));
  WriteNumber("N|Top", INT_MAX);
  EXPECT_EQ(INT_MIN, IncrementNumber("N|Top", 0));
  EXPECT_EQ("5 <missing> 1 -2147483648", Raw("N", "Missing") + " " + Raw("N", "Unwritten") +
                                             " " + Raw("N", "Count") + " " + Raw("N", "Top"));
}

TEST_F(IniTest, ByteBlocksAreWrittenAsCountAndGroups) {
  const uint8_t three[] = {0x01, 0xAB, 0xFF};
  WriteBytes("B|Three", three, 3);
  EXPECT_EQ("0003 01 AB FF", Raw("B", "Three"));
  // One INI read holds 1,023 characters: 339 bytes come back, 340 do not.
  std::vector<uint8_t> bytes(340, 0x5A);
  WriteBytes("B|Big", bytes.data(), 340);
  EXPECT_FALSE(ReadBytes("B|Big", bytes.data(), 340));
  WriteBytes("B|Fits", bytes.data(), 339);
  EXPECT_TRUE(ReadBytes("B|Fits", bytes.data(), 339));
}

// The caller's bytes are the default: a block of the wrong shape gives way
// to them under '='. A malformed group writes nothing and keeps what came
// before it.
TEST_F(IniTest, AWrongBlockGivesWayToTheCallersBytes) {
  Put("[B]\r\nOther=0002 01 02\r\nBadGroup=0003 01 XY 03\r\nLower=0003 0a ff 10\r\n");
  const struct {
    const char* path;
    bool read;
    std::vector<uint8_t> bytes;
    const char* stored;
  } cases[] = {
      {"?B|Other", false, {9, 8, 7}, "0002 01 02"},
      {"B|Other", false, {9, 8, 7}, "0003 09 08 07"},
      {"?B|Unwritten", false, {9, 8, 7}, "<missing>"},
      {"B|Missing", false, {9, 8, 7}, "0003 09 08 07"},
      {"B|BadGroup", false, {1, 8, 7}, "0003 01 XY 03"},
      {"B|Lower", true, {0x0A, 0xFF, 0x10}, "0003 0a ff 10"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = {9, 8, 7};
    EXPECT_EQ(c.read, ReadBytes(c.path, bytes.data(), 3)) << c.path;
    EXPECT_EQ(c.bytes, bytes) << c.path;
    EXPECT_EQ(c.stored, Raw("B", strchr(c.path, '|') + 1)) << c.path;
  }
}

TEST_F(IniTest, RandomValuesRoundTripThroughEveryEncoding) {
  std::mt19937 random(20261206);
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE(round);
    const std::string flag = round % 3 == 0 ? "" : round % 3 == 1 ? "!" : "@";
    const std::string name = std::to_string(round);

    std::vector<uint8_t> bytes(random() % 60), back(bytes.size());
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    const uint32_t count = static_cast<uint32_t>(bytes.size());
    WriteBytes((flag + "R|Block" + name).c_str(), bytes.data(), count);
    ASSERT_TRUE(ReadBytes((flag + "R|Block" + name).c_str(), back.data(), count));
    ASSERT_EQ(bytes, back);

    // Tabs and every byte from 32 (below 160 for scrambling), blanks and
    // quotes at the ends included.
    std::string text(random() % 200 + 1, ' ');
    const int top = flag == "@" ? 160 : 256;
    for (char& c : text) c = static_cast<char>(random() % (top - 31) + 31);
    std::replace(text.begin(), text.end(), '\x1F', '\t');
    if (round % 5 == 0) text = "\"" + text + "\"";
    if (round % 7 == 0) text = " " + text + "\t";
    WriteSetting((flag + "R|Text" + name).c_str(), text.c_str());
    ASSERT_EQ(text, Read(flag + "R|Text" + name));
  }
}

// A tampered checksummed value ends the program with a crash report.
TEST_F(IniTest, ATamperedCheckedValueEndsInACrashReport) {
  Put("[S]\r\nK=CADBBE3Eabc\r\n");
  ProbeResult tampered = RunProbe("ini_probe.exe", "\"" + file_ + "\"");
  ASSERT_TRUE(tampered.ended);
  EXPECT_EQ(0xFFFFFFFFu, tampered.exitCode);
  EXPECT_EQ("", tampered.out);
  EXPECT_EQ(0u, tampered.err.find("\r\nProduct 0.01 exception: Asserted")) << tampered.err;
  Put("[S]\r\nK=CADBBE3Dabc\r\n");
  ProbeResult intact = RunProbe("ini_probe.exe", "\"" + file_ + "\"");
  EXPECT_EQ(0u, intact.exitCode);
  EXPECT_EQ("abc\r\n", intact.out);  // the console ends lines so
}
