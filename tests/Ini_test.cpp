#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>

#include "gen/Ini.h"
#include "toolkit/FiredCheck.h"
#include "toolkit/Probe.h"

namespace {

const char kRegKey[] = "Software\\NARV_IniTest";
const char kMarker[] = ")(@*#_$)*R&";

std::string Text(const Str& text) { return text.IsUnset() ? "~" : text.Text(); }
std::string Read(const std::string& path) { return ReadSetting(path.c_str()).Text(); }

// Each test has its own INI file, which relative paths name, and the default language location.
class IniTest : public testing::Test {
 protected:
  void SetUp() override {
    DefaultTemplate = ("|" + file_ + "|%s").c_str();
    LanguageTemplate = "|%s|%s|%s";
  }

  void Put(const std::string& bytes) { std::ofstream(file_, std::ios::binary) << bytes; }
  std::string Bytes() const { return ReadFileBytes(file_).value_or("<none>"); }
  std::string Raw(const char* section, const std::string& key) const {
    char value[4096];
    GetPrivateProfileStringA(section, key.c_str(), "<missing>", value, sizeof value, file_.c_str());
    return value;  // as the platform itself reads it
  }

  TempFolder folder_;
  std::string file_ = folder_.Path() + "\\t.ini";
};

}  // namespace

// Flags (0 for none) of encoding, policy and source, then file|section|key|value.
TEST(SettingPath, ParsesFlagsSegmentsAndValueParts) {
  ScopedSettingsRoot root("|NARV.INI|%s");
  const char* const cases[][2] = {
      {"S|K", "0+0 NARV.INI|S|K|~"}, {"S|K|", "0=0 NARV.INI|S|K|"}, {"S|K||%s|%s", "0=0 NARV.INI|S|K||%s|%s"},
      {"!S|K", "!+0 NARV.INI|S|K|~"}, {"|f|!S|K", "!+0 f|S|K|~"}, {"|!f|S|K", "0+0 !f|S|K|~"},
      {"|f|S|@=K|v", "@=0 f|S|K|v"}, {"|f|S|?", "0?0 f|S||~"}, {"+S|K|x", "0=0 NARV.INI|S|K|x"},
      {"?S|K|", "0?0 NARV.INI|S|K|"}, {"!@?=`S|K|v", "@=` NARV.INI|S|K|v"}, {"@S|!K", "!+0 NARV.INI|S|K|~"},
      {"|f|S|K|!a|b", "0=0 f|S|K|!a|b"}, {"|f|S", "0+0 f|S||~"}, {"|f", "0+0 f||~|~"}, {"|", "0+0 ||~|~"},
  };
  auto flag = [](char f) { return std::string(1, f ? f : '0'); };
  for (const auto& c : cases) {
    SettingPath p = ParseSettingPath(c[0]);
    EXPECT_EQ(c[1], flag(p.encoding) + flag(p.missingPolicy) + flag(p.source) + " " +
                        Text(p.file) + "|" + Text(p.section) + "|" + Text(p.key) + "|" +
                        Text(p.value));
  }
  {  // Scoped roots nest and restore.
    ScopedSettingsRoot sub("Sub|%s");
    EXPECT_STREQ("|NARV.INI|Sub|%s", DefaultTemplate);
    ScopedSettingsRoot other("|OTHER.INI|%s");
    EXPECT_STREQ("|OTHER.INI|%s", DefaultTemplate);
  }
  EXPECT_STREQ("|NARV.INI|%s", DefaultTemplate);
}

TEST(Ini, EveryMisuseReportsItsCheck) {
  const std::pair<int, void (*)()> cases[] = {
      {163, [] { ParseSettingPath(nullptr); }}, {129, [] { ParseSettingPath(nullptr, Str("x")); }},
      {170, [] { DefaultTemplate = "%s"; ParseSettingPath("S|K"); }},
      {136, [] { DefaultTemplate = "x%s"; ParseSettingPath("S|K", Str()); }},
      {73, [] { ScopedSettingsRoot root(nullptr); }}, {307, [] { ReadSetting("|NARV.INI|S|?K"); }},
      {244, [] { WriteSetting("|NARV_IniTest.ini", "two\nlines"); }},
      {57, [] { SetLanguageTemplate("%s|%s|%s"); }}, {57, [] { SetLanguageTemplate(nullptr); }},
      {210, [] { ReadSetting("|HKEY_DYN_DATA|S|K"); }},
      {210, [] { WriteSetting("|HKEY_Current_User", "x"); }},
      {84, [] { StripChecksum("xyzabc"); }}, {86, [] { StripChecksum("FFFFFFF"); }},
      {84, [] { UnscrambleStored("xyzabc"); }}, {86, [] { UnscrambleStored("CADBBE3Eabc"); }},
      // Not eight digits: no complemented checksum either (~Checksum("") is 0).
      {86, [] { UnscrambleStored("0"); }},
  };
  for (const auto& [line, misuse] : cases)
    EXPECT_EQ("..\\gen\\Ini.cpp:" + std::to_string(line), FiredCheck(misuse));
  for (const char* bad : {"|%s|%s", "|%s||%s", "|%s|%s|%s|", "|%s|?%s|%s", "|%s|%s|`%s"})
    EXPECT_EQ("..\\gen\\Ini.cpp:60", FiredCheck([&] { SetLanguageTemplate(bad); })) << bad;
}

// 'A' scrambles to (65 - 32) ^ 107 + 32 = 106, chaining 74; the next 'A' to (33 ^ 74) + 32.
// Old stored forms read as they always did, and are still written where they read back.
TEST(Encoding, ChecksumScramblingAndEveryByteValue) {
  EXPECT_STREQ("CADBBE3Dabc", AddChecksum("abc"));
  EXPECT_STREQ("abc", StripChecksum("cadbbe3dabc"));
  EXPECT_STREQ("j\x8B\tj", ScrambleText("AA\tA"));
  EXPECT_STREQ("AA\tA", UnscrambleText("j\x8B\tj"));
  for (int value = 1; value < 256; ++value) {
    const char b = static_cast<char>(value), text[] = {b, 'A', b, b, 'z', b, '\0'};
    Str old = AddChecksum(ScrambleText(text)), readFromOld = UnscrambleText(ScrambleText(text));
    Str stored = ScrambleForStore(text);
    EXPECT_STREQ(readFromOld, UnscrambleStored(old)) << value;
    EXPECT_STREQ(text, UnscrambleStored(stored)) << value;
    if (Equals(readFromOld, text)) EXPECT_STREQ(old, stored) << value;
  }
}

// The platform trims blanks at a value's ends and drops quotes around it: the store quotes such
// values. Missing ones follow the path's policy.
TEST_F(IniTest, ValuesComeBackWholeAndMissingOnesFollowThePolicy) {
  for (const char* text : {" lead", "trail ", "\ttab", "\"q\"", "'s'", "\"", "\" \"", "a\"b\""}) {
    WriteSetting("S|K", text);
    EXPECT_STREQ(text, ReadSetting("S|K"));
  }
  WriteSetting("S|Plain", "in side");
  EXPECT_EQ("[S]\r\nK=a\"b\"\r\nPlain=in side\r\n", Bytes());
  // Without a key the platform would list the section or delete it.
  const std::string content = std::string("[]\r\nK=v\r\n[S]\r\nEmpty=\r\nMarker=") + kMarker + "\r\n";
  Put(content);
  EXPECT_EQ(file_ + " [] (null)= not found", Read("|" + file_));
  WriteSetting(("|" + file_).c_str(), "x");
  EXPECT_EQ(content, Bytes());
  const char* const cases[][4] = {
      {"S|Empty|d", "Empty", "", ""}, {"S|Marker|d", "Marker", kMarker, kMarker},
      {"?S|Key|dflt", "Key", "dflt", "<missing>"}, {"S|Blank|", "Blank", "", ""},
      {"+S|Plus|x", "Plus", "x", "x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c[2], Read(c[0])) << c[0];
    EXPECT_EQ(c[3], Raw("S", c[1])) << c[0];
  }
  EXPECT_EQ(file_ + " [S] Missing= not found", Read("S|Missing"));
  EXPECT_EQ("hkey_current_user [S] K= not found", Read("|hkey_current_user|S|K"));  // not a root
  // A given default overrides the path's own, in the read and the write.
  EXPECT_STREQ("given", ReadSetting("S|Given|own", Str("given")));
  EXPECT_STREQ("given", ReadSetting("S|Given|own"));
  // Under '!' and '@' a default written back is encoded too.
  WriteSetting("!S|Checked", "abc");
  EXPECT_STREQ("dflt", ReadSetting("@S|New|dflt"));
  EXPECT_EQ("CADBBE3Dabc " + std::string(AddChecksum(ScrambleText("dflt"))),
            Raw("S", "Checked") + " " + Raw("S", "New"));
  // Random blocks and texts, blanks and quotes at the ends included, under every encoding.
  std::mt19937 random(20261206);
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE(round);
    const std::string path = std::string(round % 3 != 0, " !@"[round % 3]) + "R|" + std::to_string(round);
    std::vector<uint8_t> bytes(random() % 60), back(bytes.size());
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    WriteBytes((path + "Block").c_str(), bytes.data(), bytes.size());
    ASSERT_TRUE(ReadBytes((path + "Block").c_str(), back.data(), back.size()));
    ASSERT_EQ(bytes, back);
    std::string text(random() % 200 + 1, ' ');
    for (char& c : text) c = static_cast<char>(random() % 225 + 31);
    std::replace(text.begin(), text.end(), '\x1F', '\t');
    if (round % 5 == 0) text = "\"" + text + "\"";
    if (round % 7 == 0) text = " " + text + "\t";
    WriteSetting((path + "Text").c_str(), text.c_str());
    ASSERT_EQ(text, Read(path + "Text"));
  }
}

// Every suffix in its order, whatever the file's, and the limits of one read (1,023) and of a
// value (2,046); then the parts' many layouts against reading each part on its own.
TEST_F(IniTest, NumberedPartsJoinInSuffixOrderWhileEachFitsWhole) {
  std::string lines, joined;
  for (char suffix : std::string("123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ")) {
    lines = "A" + std::string(1, suffix) + "=" + suffix + "\r\n" + lines;
    joined += (joined.empty() ? "" : "\n") + std::string(1, suffix);
  }
  const std::string x(1023, 'x'), y(1022, 'y');
  // M2 makes 2,047 and ends the value: M3 would fit, but is not taken.
  Put("[S]\r\n" + lines + "L1=" + x + "\r\nL2=" + y + "\r\nM1=" + x + "\r\nM2=" + x +
      "y\r\nM3=z\r\nN=" + std::string(1500, 'n') + "\r\n");
  EXPECT_EQ(joined, Read("S|A"));
  EXPECT_EQ(x + "\n" + y, Read("S|L"));
  EXPECT_EQ(x, Read("S|M"));
  EXPECT_EQ(std::string(1023, 'n'), Read("S|N"));

  // The store lists a section in one call where a plain reading takes one or two per part.
  // They agree on names that differ in case, that the platform trims or reads from lines a
  // listing leaves out; on values it trims, unquotes or cuts; duplicates, gaps, large sections.
  std::mt19937 random(1306);
  auto pick = [&](std::initializer_list<const char*> in) { return in.begin()[random() % in.size()]; };
  for (int round = 0; round < 150; ++round) {
    std::string bytes = "[T]\r\nK=elsewhere\r\n[S]\r\n";
    for (int line = random() % 40; line > 0; --line) {
      if (random() % 12 == 0) bytes += pick({";K=hidden\r\n", "\r\n", "[S]\r\nK1=again\r\n"});
      // Rare: names the listing cannot judge send every part to its own read.
      bytes += random() % (round % 3 ? 40 : 8)
                   ? pick({"K", "K", "k", "Key", "KEY", " K", "K K"})
                   : pick({";K", "K\xE4", "\"K\"", "\xC4"});
      if (random() % (round % 2 ? 12 : 2)) bytes += "1234ABYZabyz0"[random() % 13];
      bytes += pick({"=", "=", "=", " = ", ""});
      bytes += (random() % 3 ? pick({"v", "", kMarker, "\"q u\"", "'s'", " pad ", "\"open",
                                     "a ;b", "\xA0x\xA0", "t\tt"})
                             : std::string(1020 + random() % 8, 'L')) + "\r\n";
    }
    const std::string file = folder_.Path() + "\\r" + std::to_string(round) + ".ini";
    std::ofstream(file, std::ios::binary) << bytes;
    for (const auto& [section, key] : {std::pair("S", "K"), {"S", "k"}, {"s", "Key"}, {"S", " K"},
                                       {"S", ";K"}, {" S", "K"}, {"S", "k k"}}) {
      SettingPath path = ParseSettingPath(("|" + file + "|" + section + "|" + key).c_str());
      Str read = ReadSetting(path);
      // Each part read on its own, a second time when the first gives the marker back.
      auto part = [&, section = section](const std::string& name, std::string& value) {
        char text[1024];
        GetPrivateProfileStringA(section, name.c_str(), kMarker, text, 1024, file.c_str());
        bool found = strcmp(text, kMarker) != 0 ||
                     GetPrivateProfileStringA(section, name.c_str(), "", text, 1024, file.c_str());
        value = text;
        return found;
      };
      std::string plain, next;
      bool found = part(key, plain);
      if (!found && (found = part(std::string(key) + "1", plain))) {
        for (char suffix : std::string("23456789ABCDEFGHIJKLMNOPQRSTUVWXYZ")) {
          if (!part(std::string(key) + suffix, next)) continue;
          if (plain.size() + 1 + next.size() > 2046) break;
          plain += '\n' + next;
        }
      }
      ASSERT_EQ(found ? plain : "<missing>", path.found ? read.Text() : "<missing>")
          << section << "|" << key << "\n" << bytes;
    }
  }
}

// Verifying names the five folders searched, Windows last; neither it nor skipping the language writes.
TEST_F(IniTest, InitialisationVerifiesAndRecordsTheLanguageTemplateWhichIsTriedFirst) {
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
  EXPECT_EQ("[Other]\r\n", Bytes());
  InitSettings(file_.c_str(), false, false);
  EXPECT_EQ("|%s|%s|%s |%s|%s|%s", Raw("Options", "Language") + " " + GetLanguageTemplate().Text());
  // Spacing the platform would not write shows that nothing is rewritten.
  Put("[Options]\r\nLanguage = |%s|%s|%s_de\r\n");
  InitSettings(file_.c_str(), true, false);
  EXPECT_STREQ("|%s|%s|%s_de", GetLanguageTemplate());
  EXPECT_EQ("[Options]\r\nLanguage = |%s|%s|%s_de\r\n", Bytes());
  SetLanguageTemplate("|%s|%s|%s_fr");
  EXPECT_EQ("|%s|%s|%s_fr", Raw("Options", "Language"));
  // The language location is tried first, and never written.
  Put("[S]\r\nK=Hello\r\nK_fr=Salut\r\nOnly=own\r\n");
  EXPECT_EQ("Salut own d", Read("`S|K") + " " + Read("`S|Only") + " " + Read("`S|New|d"));
  WriteSetting("`S|K", "Hi");
  EXPECT_EQ("d <missing> Hi Salut", Raw("S", "New") + " " + Raw("S", "New_fr") + " " +
                                        Raw("S", "K") + " " + Raw("S", "K_fr"));
}

// Writes never create the key; other types, and strings over 2,045 characters, read as missing.
TEST(Ini, RegistryValuesAreStringsOfUpTo2045CharactersBelowExistingKeys) {
  RegistryScope scope(kRegKey);
  auto at = [](const std::string& rest) { return "|HKEY_CURRENT_USER|Software\\NARV_IniTest|" + rest; };
  const std::string notFound = "HKEY_CURRENT_USER [Software\\NARV_IniTest] V= not found";
  WriteSetting(at("V").c_str(), "x");
  EXPECT_EQ("d " + notFound, Read(at("V|d")) + " " + Read(at("V")));
  ASSERT_EQ(0, SetRegValue(HKEY_CURRENT_USER, RegView::k32, kRegKey, "D", REG_DWORD, RegDword(7)));
  ASSERT_EQ(0, SetRegValue(HKEY_CURRENT_USER, RegView::k32, kRegKey, "E", REG_EXPAND_SZ,
                           RegSz("%TEMP%")));
  EXPECT_EQ("new new", Read(at("D|new")) + " " + Read(at("E|new")));
  WriteSetting(at("V").c_str(), "two\nlines");
  char data[16] = {};
  DWORD type = 0, size = sizeof data;
  RegGetValueA(HKEY_CURRENT_USER, kRegKey, "V", RRF_RT_ANY, &type, data, &size);
  EXPECT_EQ(RegSz("two\nlines") + "1", std::string(data, size) + std::to_string(type));
  const std::string longest(2045, 'r');
  WriteSetting(at("V").c_str(), longest.c_str());
  EXPECT_EQ(longest, Read(at("V")));
  WriteSetting(at("V").c_str(), (longest + "s").c_str());
  EXPECT_EQ(notFound, Read(at("V")));
}

TEST_F(IniTest, NumbersCountersAndByteBlocks) {
  Put("[N]\r\nMixed=12abc\r\nEmpty=\r\nNegative= -42\r\nHuge=99999999999\r\nTiny=-99999999999\r\n"
      "[B]\r\nOther=0002 01 02\r\nBadGroup=0003 01 XY 03\r\nLower=0003 0a ff 10\r\nDash=0003 01-02 03\r\n");
  std::string read;
  for (const char* key : {"Mixed", "Empty", "Negative", "Huge", "Tiny", "Missing"})
    read += std::to_string(ReadNumber(("N|" + std::string(key)).c_str(), 5)) + " ";
  EXPECT_EQ("12 0 -42 2147483647 -2147483648 5 ", read);
  EXPECT_EQ(1, IncrementNumber("N|Count", 0));
  WriteNumber("N|Top", INT32_MAX);
  EXPECT_EQ(INT32_MIN, IncrementNumber("N|Top", 0));
  EXPECT_EQ("5 1 -2147483648", Raw("N", "Missing") + " " + Raw("N", "Count") + " " + Raw("N", "Top"));
  const uint8_t three[] = {0x01, 0xAB, 0xFF};
  WriteBytes("B|Three", three, 3);
  EXPECT_EQ("0003 01 AB FF", Raw("B", "Three"));
  // The caller's bytes are the default, which a block of the wrong shape gives way to under '='.
  // A row: whether the read took the block, the caller's bytes then, what is stored.
  const char* const cases[][2] = {
      {"?B|Other", "0 090807 0002 01 02"}, {"B|Other", "0 090807 0003 09 08 07"},
      {"?B|Unwritten", "0 090807 <missing>"}, {"B|Missing", "0 090807 0003 09 08 07"},
      {"B|BadGroup", "0 010807 0003 01 XY 03"}, {"B|Dash", "0 010807 0003 01-02 03"},
      {"B|Lower", "1 0AFF10 0003 0a ff 10"},
  };
  for (const auto& c : cases) {
    uint8_t bytes[] = {9, 8, 7};
    char shown[16] = {ReadBytes(c[0], bytes, 3) ? '1' : '0'};
    snprintf(shown + 1, sizeof shown - 1, " %02X%02X%02X ", bytes[0], bytes[1], bytes[2]);
    EXPECT_EQ(c[1], shown + Raw("B", strchr(c[0], '|') + 1)) << c[0];
  }
}

TEST_F(IniTest, ATamperedCheckedValueEndsInACrashReport) {
  Put("[S]\r\nK=CADBBE3Dabc\r\n");
  ProbeResult intact = RunProbe("ini_probe.exe", "\"" + file_ + "\"");
  EXPECT_EQ("0 abc\r\n", std::to_string(intact.exitCode) + " " + intact.out);  // console line ends
  Put("[S]\r\nK=CADBBE3Eabc\r\n");
  ProbeResult tampered = RunProbe("ini_probe.exe", "\"" + file_ + "\"");
  EXPECT_EQ("4294967295 ", std::to_string(tampered.exitCode) + " " + tampered.out);
  EXPECT_EQ(0u, tampered.err.find("\r\nProduct 0.01 exception: Asserted")) << tampered.err;
}
