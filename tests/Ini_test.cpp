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

const char kIni[] = "..\\gen\\Ini.cpp:";
const char kRegKey[] = "Software\\NARV_IniTest";
const char kRegRoot[] = "|HKEY_CURRENT_USER|Software\\NARV_IniTest|";

std::string WindowsFile(const std::string& name) {
  char folder[MAX_PATH];
  GetWindowsDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\" + name;
}

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

// The type and bytes of a registry value below the test's key; type 0
// when it is missing.
std::pair<DWORD, std::string> RawReg(const char* name) {
  Key key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kRegKey, 0, KEY_READ, key.Out()) != ERROR_SUCCESS)
    return {0, ""};
  char data[8192];
  DWORD type = 0, size = sizeof data;
  if (RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size))
    return {0, ""};
  return {type, std::string(data, size)};
}

bool RegKeyExists() {
  Key key;
  return RegOpenKeyExA(HKEY_CURRENT_USER, kRegKey, 0, KEY_READ, key.Out()) == ERROR_SUCCESS;
}

// Each test has its own INI file in a temporary folder, which relative
// paths name, and the default language location.
class IniTest : public testing::Test {
 protected:
  void SetUp() override {
    file_ = folder_.Path() + "\\t.ini";
    DefaultTemplate = ("|" + file_ + "|%s").c_str();
    LanguageTemplate = "|%s|%s|%s";
  }
  void TearDown() override { ResetSettings(); }

  // An absolute path into the test's file.
  std::string At(const std::string& rest) const { return "|" + file_ + "|" + rest; }
  void Put(const std::string& bytes) { ASSERT_TRUE(WriteFileBytes(file_, bytes)); }
  std::string Bytes() const { return ReadFileBytes(file_).value_or("<none>"); }
  std::string Raw(const char* section, const char* key) const { return RawIni(file_, section, key); }

  TempFolder folder_;
  std::string file_;
};

std::string Text(const Str& text) { return text.IsUnset() ? "<unset>" : text.Text(); }

}  // namespace

// --- Setting paths --------------------------------------------------------------

TEST(SettingPath, ParsesFlagsSegmentsAndValueParts) {
  ScopedSettingsRoot root("|NARV.INI|%s");
  const char* unset = "<unset>";
  const struct {
    const char* path;
    char encoding, policy, source;
    const char *file, *section, *key, *value;
  } cases[] = {
      {"Report|Assert|Asserted at %s %d%s", 0, '=', 0, "NARV.INI", "Report", "Assert", "Asserted at %s %d%s"},
      {"Internet|MAutomated", 0, '+', 0, "NARV.INI", "Internet", "MAutomated", unset},
      {"Internet|MAutomated|", 0, '=', 0, "NARV.INI", "Internet", "MAutomated", ""},
      {"|WIN.INI|MAIL|MAPI", 0, '+', 0, "WIN.INI", "MAIL", "MAPI", unset},
      {"Options|Language||%s|%s|%s", 0, '=', 0, "NARV.INI", "Options", "Language", "|%s|%s|%s"},
      {"!Section|Key", '!', '+', 0, "NARV.INI", "Section", "Key", unset},
      {"|f|!Section|Key", '!', '+', 0, "f", "Section", "Key", unset},
      {"|!f|Section|Key", 0, '+', 0, "!f", "Section", "Key", unset},
      {"|f|S|@=K|v", '@', '=', 0, "f", "S", "K", "v"},
      {"|f|S|?", 0, '?', 0, "f", "S", "", unset},
      {"+Section|Key|x", 0, '=', 0, "NARV.INI", "Section", "Key", "x"},
      {"?Section|Key|", 0, '?', 0, "NARV.INI", "Section", "Key", ""},
      {"!@?=`S|K|v", '@', '=', '`', "NARV.INI", "S", "K", "v"},
      {"@S|!K", '!', '+', 0, "NARV.INI", "S", "K", unset},
      {"|f|S|K|!a|b", 0, '=', 0, "f", "S", "K", "!a|b"},
      {"|f|S", 0, '+', 0, "f", "S", "", unset},
      {"|f", 0, '+', 0, "f", "", unset, unset},
      {"|", 0, '+', 0, "", "", unset, unset},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    SettingPath path = ParseSettingPath(c.path);
    EXPECT_EQ(c.encoding, path.encoding);
    EXPECT_EQ(c.policy, path.missingPolicy);
    EXPECT_EQ(c.source, path.source);
    EXPECT_EQ(c.file, Text(path.file));
    EXPECT_EQ(c.section, Text(path.section));
    EXPECT_EQ(c.key, Text(path.key));
    EXPECT_EQ(c.value, Text(path.value));
    EXPECT_FALSE(path.found);
  }
}

TEST(SettingPath, ScopedRootsNestAndRestore) {
  ScopedSettingsRoot outer("|NARV.INI|%s");
  {
    ScopedSettingsRoot sub("Sub|%s");
    EXPECT_STREQ("|NARV.INI|Sub|%s", DefaultTemplate);
    SettingPath path = ParseSettingPath("=Key|v");
    EXPECT_EQ("Sub", Text(path.section));
    EXPECT_EQ("Key", Text(path.key));
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
      {163, [] { ParseSettingPath(nullptr); }},
      {129, [] { ParseSettingPath(nullptr, Str("x")); }},
      {170, [] { DefaultTemplate = "%s"; ParseSettingPath("S|K"); }},
      {136, [] { DefaultTemplate = "x%s"; ParseSettingPath("S|K", Str()); }},
      {73, [] { ScopedSettingsRoot root(nullptr); }},
      {307, [] { ReadSetting("|NARV.INI|S|?K"); }},
      {307, [] { ReadSetting("|NARV.INI|S|?"); }},
      {244, [] { WriteSetting("|NARV_IniTest.ini|S|K", "two\nlines"); }},
      {57, [] { SetLanguageTemplate("%s|%s|%s"); }},
      {57, [] { SetLanguageTemplate(nullptr); }},
      {60, [] { SetLanguageTemplate("|%s|%s"); }},
      {60, [] { SetLanguageTemplate("|%s||%s"); }},
      {60, [] { SetLanguageTemplate("|%s|%s|%s|"); }},
      {60, [] { SetLanguageTemplate("|%s|?%s|%s"); }},
      {60, [] { SetLanguageTemplate("|%s|%s|`%s"); }},
      {210, [] { ReadSetting("|HKEY_DYN_DATA|S|K"); }},
      {210, [] { WriteSetting("|HKEY_Current_User|S|K", "x"); }},
      {84, [] { StripChecksum("xyzabc"); }},
      {84, [] { StripChecksum(""); }},
      {86, [] { StripChecksum("CADBBE3Eabc"); }},
      {86, [] { StripChecksum("FFFFFFF"); }},
      {84, [] { UnscrambleStored("xyzabc"); }},
      {86, [] { UnscrambleStored("CADBBE3Eabc"); }},
      // Not eight digits: no complemented checksum either (~Checksum("") is 0).
      {86, [] { UnscrambleStored("0"); }},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kIni + std::to_string(c.line), FiredCheck(c.misuse));
    ResetSettings();
  }
}

// --- Encodings ----------------------------------------------------------------

TEST(Encoding, ChecksumIsEightUpperCaseDigitsOfTheUninvertedCrc) {
  EXPECT_STREQ("CADBBE3Dabc", AddChecksum("abc"));
  EXPECT_STREQ("FFFFFFFF", AddChecksum(""));
  EXPECT_STREQ("abc", StripChecksum("CADBBE3Dabc"));
  EXPECT_STREQ("abc", StripChecksum("cadbbe3dabc"));
  EXPECT_STREQ("", StripChecksum("FFFFFFFF"));
}

TEST(Encoding, ScramblingChainsFrom107AndKeepsControlBytes) {
  // 'A': (65 - 32) ^ 107 = 74, stored as 106; the chain becomes 74.
  // 'A' again: (33 ^ 74) + 32 = 139.
  EXPECT_STREQ("j\x8B\tj", ScrambleText("AA\tA"));
  EXPECT_STREQ("AA\tA", UnscrambleText("j\x8B\tj"));
  EXPECT_EQ(4u, ScrambleText("AA\tA").Length());
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

// --- INI files -------------------------------------------------------------------

TEST_F(IniTest, MissingAndEmptyKeysDiffer) {
  Put("[S]\r\nEmpty=\r\nMarker=)(@*#_$)*R&\r\n");
  SettingPath empty = ParseSettingPath("S|Empty");
  EXPECT_STREQ("", ReadSetting(empty));
  EXPECT_TRUE(empty.found);
  EXPECT_STREQ(")(@*#_$)*R&", ReadSetting("S|Marker"));
  SettingPath missing = ParseSettingPath("S|Missing");
  EXPECT_EQ(file_ + " [S] Missing= not found", ReadSetting(missing).Text());
  EXPECT_FALSE(missing.found);
  EXPECT_EQ("[S]\r\nEmpty=\r\nMarker=)(@*#_$)*R&\r\n", Bytes());
}

TEST_F(IniTest, MissingValuesFollowThePolicy) {
  Put("[S]\r\n");
  const std::string before = Bytes();
  EXPECT_STREQ("", ReadSetting("?S|Key|"));
  EXPECT_STREQ("dflt", ReadSetting("?S|Key|dflt"));
  EXPECT_EQ(before, Bytes());
  EXPECT_STREQ("", ReadSetting("Internet|MAutomated|"));
  EXPECT_EQ("", Raw("Internet", "MAutomated"));
  EXPECT_STREQ("x", ReadSetting("+S|Plus|x"));
  EXPECT_EQ("x", Raw("S", "Plus"));
  // A given default overrides the path's own, in the read and the write.
  EXPECT_STREQ("given", ReadSetting("S|Given|own", Str("given")));
  EXPECT_EQ("given", Raw("S", "Given"));
  EXPECT_STREQ("given", ReadSetting("S|Given|own"));
}

// The platform trims blanks at a value's ends and drops a pair of quotes
// around it; the store quotes such values so that they come back whole.
TEST_F(IniTest, BlanksAndQuotesAtTheEndsSurvive) {
  const char* texts[] = {" lead", "trail ", "\ttab", "\"q\"", "'s'", "\"", "\" \"", "a\"b\""};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    WriteSetting("S|K", text);
    EXPECT_STREQ(text, ReadSetting("S|K"));
    WriteSetting("!S|C", text);
    EXPECT_STREQ(text, ReadSetting("!S|C"));
  }
  WriteSetting("S|Plain", "in side");
  // Only values that need it are quoted.
  EXPECT_EQ("[S]\r\nK=a\"b\"\r\nC=" + std::string(AddChecksum("a\"b\"")) +
                "\r\nPlain=in side\r\n",
            Bytes());
}

// Without a key the profile calls would list the section or delete it.
TEST_F(IniTest, APathEndingBeforeItsKeyTouchesNothing) {
  Put("[]\r\nK=v\r\n");
  const std::string noKey = "|" + file_;
  SettingPath path = ParseSettingPath(noKey.c_str());
  ReadSetting(path);
  EXPECT_FALSE(path.found);
  WriteSetting(noKey.c_str(), "x");
  EXPECT_EQ("[]\r\nK=v\r\n", Bytes());
}

TEST_F(IniTest, NumberedPartsJoinWithLineFeedsAndSkipGaps) {
  Put("[S]\r\nA1=one\r\nA3=three\r\nAZ=last\r\n"
      "B2=two\r\n"
      "C=plain\r\nC1=part\r\n");
  EXPECT_STREQ("one\nthree\nlast", ReadSetting("S|A"));
  EXPECT_EQ(file_ + " [S] B= not found", ReadSetting("S|B").Text());
  EXPECT_STREQ("plain", ReadSetting("S|C"));
  // Writing the plain key leaves the parts, and the key wins from then on.
  WriteSetting("S|A", "whole");
  EXPECT_STREQ("whole", ReadSetting("S|A"));
  EXPECT_EQ("one", Raw("S", "A1"));
}

TEST_F(IniTest, JoinedPartsStopAtTheLastThatFitsWhole) {
  const std::string a(1000, 'a'), b(1000, 'b'), c(100, 'c');
  Put("[S]\r\nK1=" + a + "\r\nK2=" + b + "\r\nK3=" + c + "\r\nK4=d\r\n"
      "L1=" + std::string(1023, 'x') + "\r\nL2=" + std::string(1022, 'y') + "\r\n"
      "M1=" + std::string(1023, 'x') + "\r\nM2=" + std::string(1023, 'y') + "\r\n");
  EXPECT_EQ(a + "\n" + b, ReadSetting("S|K").Text());
  // 1,023 + 1 + 1,022 is exactly the 2,046 characters a value may hold.
  EXPECT_EQ(std::string(1023, 'x') + "\n" + std::string(1022, 'y'), ReadSetting("S|L").Text());
  EXPECT_EQ(std::string(1023, 'x'), ReadSetting("S|M").Text());
}

TEST_F(IniTest, OneReadTakesAtMost1023Characters) {
  Put("[S]\r\nK=" + std::string(1500, 'k') + "\r\n");
  EXPECT_EQ(std::string(1023, 'k'), ReadSetting("S|K").Text());
}

namespace {

// The reading the store's fewer platform calls must agree with: each part
// read on its own, a second time when the first gives the marker back.
bool PlainPart(const std::string& file, const char* section, const std::string& key,
               char* target) {
  const char marker[] = ")(@*#_$)*R&";
  GetPrivateProfileStringA(section, key.c_str(), marker, target, 1024, file.c_str());
  if (strcmp(target, marker) != 0) return true;
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
    SCOPED_TRACE(round);
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
      bytes += random() % 3 ? pick({"v", "", ")(@*#_$)*R&", "\"q u\"", "'s'", " pad ", "\"open",
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
  EXPECT_EQ("d", Raw("S", "New"));
  EXPECT_EQ("<missing>", Raw("S", "New_de"));
  WriteSetting("`S|K", "Hi");
  EXPECT_EQ("Hi", Raw("S", "K"));
  EXPECT_EQ("Hallo", Raw("S", "K_de"));
}

TEST_F(IniTest, RelativeNamesAreInTheWindowsFolderAbsoluteOnesAsGiven) {
  const std::string windowsCopy = WindowsFile("t.ini");
  ASSERT_FALSE(FileExists(windowsCopy));
  WriteSetting(At("S|K").c_str(), "here");
  EXPECT_EQ("here", Raw("S", "K"));
  EXPECT_FALSE(FileExists(windowsCopy));

  const std::string relative = WindowsFile("NARV_IniTest.ini");
  DeleteFileA(relative.c_str());
  WriteSetting("|NARV_IniTest.ini|S|K", "there");
  EXPECT_EQ("there", RawIni(relative, "S", "K"));
  EXPECT_STREQ("there", ReadSetting("|NARV_IniTest.ini|S|K"));
  EXPECT_FALSE(FileExists(folder_.Path() + "\\NARV_IniTest.ini"));
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, "NARV_IniTest.ini");
  DeleteFileA(relative.c_str());
  // Only the exact root names are the registry.
  EXPECT_STREQ("hkey_current_user [S] K= not found", ReadSetting("|hkey_current_user|S|K"));
}

TEST(IniWindows, MapiIsReadFromWinIniAndWrittenAsZeroWhenMissing) {
  const std::string winIni = WindowsFile("win.ini");
  const auto saved = ReadFileBytes(winIni);
  WritePrivateProfileStringA("MAIL", "MAPI", nullptr, "WIN.INI");
  EXPECT_EQ(0, ReadNumber("|WIN.INI|MAIL|MAPI", 0));
  EXPECT_EQ("0", RawIni(winIni, "MAIL", "MAPI"));
  WritePrivateProfileStringA("MAIL", "MAPI", "1", "WIN.INI");
  EXPECT_EQ(1, ReadNumber("|WIN.INI|MAIL|MAPI", 0));
  // The platform keeps the file cached: let go of it before the bytes are
  // put back, or it could write its copy over them later.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, "WIN.INI");
  if (saved)
    EXPECT_TRUE(WriteFileBytes(winIni, *saved));
  else
    DeleteFileA(winIni.c_str());
  EXPECT_EQ(saved, ReadFileBytes(winIni));
}

TEST_F(IniTest, CheckedAndScrambledValuesAreStoredEncoded) {
  WriteSetting("!S|Checked", "abc");
  EXPECT_EQ("CADBBE3Dabc", Raw("S", "Checked"));
  EXPECT_STREQ("abc", ReadSetting("!S|Checked"));
  WriteSetting("@S|Secret", "AA");
  EXPECT_EQ(std::string(AddChecksum(ScrambleText("AA"))), Raw("S", "Secret"));
  EXPECT_STREQ("AA", ReadSetting("S|@Secret"));
  // A default written back under '=' is encoded too.
  EXPECT_STREQ("dflt", ReadSetting("@S|New|dflt"));
  EXPECT_EQ(std::string(AddChecksum(ScrambleText("dflt"))), Raw("S", "New"));
  // The old scrambling would turn the first byte into a 0.
  WriteSetting("@S|Accented", "\xAB" "Caf\xE9\xBB");
  EXPECT_STREQ("\xAB" "Caf\xE9\xBB", ReadSetting("@S|Accented"));
}

// --- Initialisation -------------------------------------------------------------

TEST_F(IniTest, VerifyingAFileWithoutTheOptionNamesTheFiveFoldersAndWritesNothing) {
  for (bool present : {true, false}) {
    SCOPED_TRACE(present);
    if (present)
      Put("[Other]\r\nK=v\r\n");
    else
      DeleteFileA(file_.c_str());
    const std::string before = Bytes();
    ErrFrame frame;
    ASSERT_TRUE(frame.Try([&] { InitSettings(file_.c_str(), true, false); }));
    EXPECT_EQ(kIniNotFoundTemplate, frame.Code());
    std::string message = frame.Message().Text();
    EXPECT_EQ(0u, message.find("File NARV.INI not found in: ")) << message;
    size_t separators = 0;
    for (size_t at = message.find("; "); at != std::string::npos; at = message.find("; ", at + 1))
      ++separators;
    EXPECT_EQ(4u, separators) << message;
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    EXPECT_NE(std::string::npos, message.find(windows)) << message;
    EXPECT_EQ(before, Bytes());
  }
}

TEST_F(IniTest, InitialisationInstallsAndRecordsTheLanguageTemplate) {
  Put("[S]\r\n");
  InitSettings(file_.c_str(), false, true);
  EXPECT_EQ("|" + file_ + "|%s", DefaultTemplate.Text());
  EXPECT_EQ("[S]\r\n", Bytes());

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

// --- Registry ------------------------------------------------------------------

class IniRegistryTest : public testing::Test {
 protected:
  static std::string At(const char* name) { return kRegRoot + std::string(name); }
  RegistryScope scope_{kRegKey};
};

TEST_F(IniRegistryTest, WritesNeverCreateTheKey) {
  WriteSetting(At("V").c_str(), "x");
  EXPECT_FALSE(RegKeyExists());
  EXPECT_STREQ("d", ReadSetting(At("V|d").c_str()));
  EXPECT_FALSE(RegKeyExists());
  EXPECT_EQ("HKEY_CURRENT_USER [Software\\NARV_IniTest] V= not found",
            std::string(ReadSetting(At("V").c_str())));
}

TEST_F(IniRegistryTest, OtherTypesReadAsMissingAndAreOverwrittenUnderTheDefault) {
  ASSERT_EQ(ERROR_SUCCESS, SetRegValue(HKEY_CURRENT_USER, RegView::k32, kRegKey, "D",
                                       REG_DWORD, RegDword(7)));
  ASSERT_EQ(ERROR_SUCCESS, SetRegValue(HKEY_CURRENT_USER, RegView::k32, kRegKey, "E",
                                       REG_EXPAND_SZ, RegSz("%TEMP%")));
  for (const char* name : {"D", "E"}) {
    SCOPED_TRACE(name);
    SettingPath path = ParseSettingPath(At(name).c_str());
    ReadSetting(path);
    EXPECT_FALSE(path.found);
    EXPECT_STREQ("new", ReadSetting((At(name) + "|new").c_str()));
    EXPECT_EQ(std::make_pair(DWORD(REG_SZ), RegSz("new")), RawReg(name));
  }
}

TEST_F(IniRegistryTest, StringsUpTo2045CharactersRoundTripLineFeedsIncluded) {
  ASSERT_EQ(ERROR_SUCCESS, CreateRegKey(HKEY_CURRENT_USER, RegView::k32, kRegKey));
  WriteSetting(At("V").c_str(), "two\nlines");
  EXPECT_EQ(std::make_pair(DWORD(REG_SZ), RegSz("two\nlines")), RawReg("V"));
  EXPECT_STREQ("two\nlines", ReadSetting(At("V").c_str()));
  const std::string longest(2045, 'r');
  WriteSetting(At("!Long").c_str(), longest.substr(8).c_str());
  EXPECT_EQ(RegSz(AddChecksum(longest.substr(8).c_str()).Text()), RawReg("Long").second);
  EXPECT_EQ(longest.substr(8), ReadSetting(At("!Long").c_str()).Text());
  WriteSetting(At("Longer").c_str(), (longest + "s").c_str());
  SettingPath path = ParseSettingPath(At("Longer").c_str());
  ReadSetting(path);
  EXPECT_FALSE(path.found);
}

// --- Typed values ---------------------------------------------------------------

TEST_F(IniTest, NumbersReadAsTheDigitsTheyBeginWith) {
  Put("[N]\r\nMixed=12abc\r\nEmpty=\r\nNegative= -42\r\nHuge=99999999999\r\nTiny=-99999999999\r\n");
  const struct {
    const char* key;
    int32_t expected;
  } cases[] = {{"Mixed", 12}, {"Empty", 0}, {"Negative", -42},
               {"Huge", INT_MAX}, {"Tiny", INT_MIN}, {"Missing", 5}};
  for (const auto& c : cases)
    EXPECT_EQ(c.expected, ReadNumber(("N|" + std::string(c.key)).c_str(), 5)) << c.key;
  EXPECT_EQ("5", Raw("N", "Missing"));
  EXPECT_EQ(7, ReadNumber("?N|Unwritten", 7));
  EXPECT_EQ("<missing>", Raw("N", "Unwritten"));
}

TEST_F(IniTest, CountersStartFromTheDefaultAndWrap) {
  EXPECT_EQ(1, IncrementNumber("N|Count", 0));
  EXPECT_EQ("1", Raw("N", "Count"));
  EXPECT_EQ(2, IncrementNumber("N|Count", 0));
  WriteNumber("N|Top", INT_MAX);
  EXPECT_EQ(INT_MIN, IncrementNumber("N|Top", 0));
  EXPECT_EQ("-2147483648", Raw("N", "Top"));
}

TEST_F(IniTest, ByteBlocksAreWrittenAsCountAndGroups) {
  const uint8_t three[] = {0x01, 0xAB, 0xFF};
  WriteBytes("B|Three", three, 3);
  EXPECT_EQ("0003 01 AB FF", Raw("B", "Three"));
  WriteBytes("B|None", nullptr, 0);
  EXPECT_EQ("0000", Raw("B", "None"));
  EXPECT_TRUE(ReadBytes("B|None", nullptr, 0));
  uint8_t read[3] = {};
  EXPECT_TRUE(ReadBytes("B|Three", read, 3));
  EXPECT_EQ(0, memcmp(three, read, 3));
  // One INI read holds 1,023 characters: 339 bytes come back, 340 do not.
  std::vector<uint8_t> bytes(340, 0x5A);
  WriteBytes("B|Big", bytes.data(), 340);
  EXPECT_FALSE(ReadBytes("B|Big", bytes.data(), 340));
  WriteBytes("B|Fits", bytes.data(), 339);
  EXPECT_TRUE(ReadBytes("B|Fits", bytes.data(), 339));
}

TEST_F(IniTest, AWrongBlockGivesWayToTheCallersBytes) {
  Put("[B]\r\nOther=0002 01 02\r\nBadGroup=0002 01 XY\r\nLower=0002 0a ff\r\n");
  const uint8_t mine[] = {9, 8, 7};
  const struct {
    const char* path;
    const char* stored;  // afterwards
  } cases[] = {
      {"?B|Other", "0002 01 02"},
      {"B|Other", "0003 09 08 07"},
      {"?B|Unwritten", "<missing>"},
      {"B|Missing", "0003 09 08 07"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    uint8_t bytes[3] = {9, 8, 7};
    EXPECT_FALSE(ReadBytes(c.path, bytes, 3));
    EXPECT_EQ(0, memcmp(mine, bytes, 3));
    const char* key = strchr(c.path, '|') + 1;
    EXPECT_EQ(c.stored, Raw("B", key));
  }
  // A malformed group: no rewrite, the bytes before it are kept.
  uint8_t bytes[2] = {0x55, 0x66};
  EXPECT_FALSE(ReadBytes("B|BadGroup", bytes, 2));
  EXPECT_EQ(0x01, bytes[0]);
  EXPECT_EQ(0x66, bytes[1]);
  EXPECT_EQ("0002 01 XY", Raw("B", "BadGroup"));
  EXPECT_TRUE(ReadBytes("B|Lower", bytes, 2));
  EXPECT_EQ(0x0A, bytes[0]);
  EXPECT_EQ(0xFF, bytes[1]);
}

// --- Randomised round trips -----------------------------------------------------

TEST_F(IniTest, RandomValuesRoundTripThroughEveryEncoding) {
  std::mt19937 random(20261206);
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE(round);
    const char* encoding[] = {"", "!", "@"};
    std::string flag = encoding[round % 3];

    std::vector<uint8_t> bytes(random() % 60), back(bytes.size());
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    std::string blockPath = flag + "R|Block" + std::to_string(round);
    WriteBytes(blockPath.c_str(), bytes.data(), static_cast<uint32_t>(bytes.size()));
    ASSERT_TRUE(ReadBytes(blockPath.c_str(), back.data(), static_cast<uint32_t>(back.size())));
    ASSERT_EQ(bytes, back);

    int32_t number = static_cast<int32_t>(random());
    std::string numberPath = flag + "R|Number" + std::to_string(round);
    WriteNumber(numberPath.c_str(), number);
    ASSERT_EQ(number, ReadNumber(numberPath.c_str(), 0));

    // Tabs and every byte from 32 (below 160 for scrambling), blanks and
    // quotes at the ends included.
    std::string text(random() % 200 + 1, ' ');
    const int top = flag == "@" ? 160 : 256;
    for (char& c : text) c = static_cast<char>(random() % (top - 31) + 31);
    std::replace(text.begin(), text.end(), '\x1F', '\t');
    if (round % 5 == 0) text = "\"" + text + "\"";
    if (round % 7 == 0) text = " " + text + "\t";
    std::string textPath = flag + "R|Text" + std::to_string(round);
    WriteSetting(textPath.c_str(), text.c_str());
    ASSERT_EQ(text, ReadSetting(textPath.c_str()).Text());
  }
}

// --- End to end -----------------------------------------------------------------

// A tampered checksummed value ends the program with a crash report.
TEST_F(IniTest, ATamperedCheckedValueEndsInACrashReport) {
  const struct {
    const char* stored;
  } cases[] = {{"CADBBE3Eabc"}, {"not a checksum"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    Put(std::string("[S]\r\nK=") + c.stored + "\r\n");
    ProbeResult result = RunProbe("ini_probe.exe", "read-checked \"" + file_ + "\"");
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
    EXPECT_EQ("", result.out);
    std::string err = result.err;
    err.erase(std::remove(err.begin(), err.end(), '\r'), err.end());
    EXPECT_EQ(0u, err.find("\nProduct 0.01 exception: Asserted\n")) << err;
    // The report names the check that caught it, in the store's own code.
    const std::string hyphens(66, '-');
    size_t frame = err.find(hyphens + "\n");
    ASSERT_NE(std::string::npos, frame) << err;
    frame += hyphens.size() + 1;
    std::string first = err.substr(frame, err.find('\n', frame) - frame);
    EXPECT_EQ(0u, first.find("gen\\IniValues.cpp: (")) << first;
    EXPECT_EQ(first.size() - strlen("[StripChecksum]"), first.rfind("[StripChecksum]")) << first;
  }
  Put("[S]\r\nK=CADBBE3Dabc\r\n");
  ProbeResult intact = RunProbe("ini_probe.exe", "read-checked \"" + file_ + "\"");
  EXPECT_EQ(0u, intact.exitCode);
  EXPECT_EQ("abc\r\n", intact.out);  // the console ends lines so
}
