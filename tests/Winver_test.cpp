// The Windows description: every rule from hand-made version records, then
// end to end in a probe for which Wine pretends another Windows.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include "mania/Winver.h"
#include "toolkit/Probe.h"

namespace {

const WORD kIntel = 0, kItanium = 6, kAmd64 = 9, kArm = 5;
const BYTE kWorkstation = 1, kController = 2, kServer = 3;

WindowsFacts Nt(DWORD major, DWORD minor, const char* servicePack, WORD suite, BYTE productType,
                WORD architecture, DWORD edition = 0, bool r2 = false, DWORD build = 1234) {
  return {2, major, minor, build, servicePack, suite, productType, architecture, edition, r2};
}

std::string Text(const std::string& release) { return "Microsoft " + release + " (build 1234)"; }

// The long text, or "-" when there is none; the buffer must then be
// untouched, and what follows it always is.
std::string Described(const WindowsFacts& facts) {
  struct {
    char buffer[kWindowsDescriptionSize];
    char after[16];
  } out;
  memset(&out, '#', sizeof out);
  bool composed = ComposeWindowsDescription(facts, out.buffer);
  std::string kept(composed ? out.after : out.buffer, composed ? sizeof out.after : sizeof out);
  EXPECT_EQ(std::string(kept.size(), '#'), kept);
  return composed ? std::string(out.buffer, strnlen(out.buffer, sizeof out.buffer)) : "-";
}

}  // namespace

TEST(WinverShort, NamesTheReleaseAndFormatsTheRecord) {
  const struct {
    DWORD platform, major, minor, build;
    const char *servicePack, *expected;
  } rows[] = {
      {1, 4, 0, 0x040003B6, "", "Win95 4.00 build 950 "},
      {1, 4, 10, 0x040A08AE, " A", "Win98 4.10 build 2222  A"},
      {2, 4, 0, 1381, "Service Pack 6", "WinNT 4.00 build 1381 Service Pack 6"},
      {2, 5, 0, 2195, "", "Win2000 5.00 build 2195 "},
      {2, 5, 2, 3790, "Service Pack 2", "WinXP 5.02 build 3790 Service Pack 2"},
      {2, 6, 0, 6002, "", "WinVista 6.00 build 6002 "},
      {2, 6, 2, 9200, "", "Win7 6.02 build 9200 "},
      {2, 7, 0, 1, "", "Win8 7.00 build 1 "},
      {2, 10, 0, 0x12345, "", "WinNT 10.00 build 9029 "},
      {0, 3, 10, 0, "Win32s", "Win??? 3.10 build 0 Win32s"},
  };
  for (const auto& row : rows) {
    OSVERSIONINFOA record = {sizeof record, row.major, row.minor, row.build, row.platform, {}};
    strcpy(record.szCSDVersion, row.servicePack);
    EXPECT_EQ(row.platform == 2, WinVersionInfo(record).IsNT()) << row.expected;
    EXPECT_STREQ(row.expected, DescribeWindowsShort(WinVersionInfo(record)).Text());
  }
}

TEST(WinverLong, ReleaseEditionWidthAndServicePackBeforeTheBuildCutTo255) {
  const std::string longest(127, 's'), tooLong(300, 's');
  const struct { WindowsFacts facts; std::string expected; } rows[] = {
      {Nt(6, 1, "Service Pack 1", 0x100, kWorkstation, kAmd64, 1),
       Text("Windows 7 Ultimate Edition, 64-bit Service Pack 1")},
      {Nt(6, 0, "", 0x300, kWorkstation, kIntel, 3), Text("Windows Vista Home Premium Edition, 32-bit")},
      {Nt(6, 0, "", 0x80, kServer, kItanium, 12),
       Text("Windows Server 2008 Datacenter Edition (core installation)")},
      {Nt(6, 0, "", 0, kServer, kArm, 25),
       Text("Windows Server 2008 Small Business Server Premium Edition")},
      {Nt(6, 2, "", 0x100, kWorkstation, kAmd64, 0x30), Text("Windows 8 , 64-bit")},
      {Nt(6, 3, "", 0x100, kWorkstation, kAmd64, 1), Text("")},
      {Nt(10, 0, "Service Pack 1", 0, kServer, kIntel, 7), Text(" Service Pack 1")},
      {Nt(5, 2, "", 0x2000, kServer, kIntel, 0, true), Text("Windows Server 2003 R2, Standard Edition")},
      {Nt(5, 2, "", 0x2000, kServer, kIntel), Text("Windows Storage Server 2003Standard Edition")},
      {Nt(5, 2, "", 0x2002, kServer, kIntel), Text("Windows Server 2003, Enterprise Edition")},
      {Nt(5, 2, "", 0x100, kWorkstation, kAmd64), Text("Windows XP Professional x64 Edition")},
      {Nt(5, 1, "Service Pack 3", 0x300, kWorkstation, kAmd64),
       Text("Windows XP Home Edition Service Pack 3")},
      {Nt(5, 1, "", 0x100, kWorkstation, kIntel), Text("Windows XP Professional")},
      {Nt(5, 0, "", 0x80, kWorkstation, kIntel), Text("Windows 2000 Professional")},
      {Nt(5, 0, "", 0x82, kServer, kIntel), Text("Windows 2000 Datacenter Server")},
      {Nt(5, 0, "", 0x2, kController, kIntel), Text("Windows 2000 Advanced Server")},
      {Nt(5, 0, "", 0x400, kServer, kIntel), Text("Windows 2000 Server")},
      {Nt(4, 0, "Service Pack 6", 0, kWorkstation, kIntel), "-"},
      {{1, 4, 10, 2222, " A", 0, 0, kIntel, 0, false}, "-"},
      {{0, 5, 1, 2600, "", 0, 0, kIntel, 0, false}, "-"},
      // The longest text a real system gives fits; a longer one is cut.
      {Nt(6, 0, longest.c_str(), 0, kServer, kAmd64, 15, false, 0x80000000),
       "Microsoft Windows Server 2008 Enterprise Edition for Itanium-based Systems, 64-bit " +
           longest + " (build -2147483648)"},
      {Nt(6, 1, tooLong.c_str(), 0, kWorkstation, kAmd64, 1),
       ("Microsoft Windows 7 Ultimate Edition, 64-bit " + tooLong).substr(0, 255)},
  };
  for (const auto& row : rows) EXPECT_EQ(row.expected, Described(row.facts));
}

TEST(WinverLong, Server2003EditionsByProcessorThenSuite) {
  const struct { WORD architecture, suite; const char* edition; } rows[] = {
      {kItanium, 0x82, "Datacenter Edition for Itanium-based Systems"},
      {kItanium, 0x402, "Enterprise Edition for Itanium-based Systems"},
      {kItanium, 0x4400, ""},
      {kAmd64, 0x4082, "Datacenter x64 Edition"},
      {kAmd64, 0x4002, "Enterprise x64 Edition"},
      {kAmd64, 0x4400, "Standard x64 Edition"},
      {kIntel, 0x4082, "Compute Cluster Edition"},
      {kIntel, 0x482, "Datacenter Edition"},
      {kIntel, 0x402, "Enterprise Edition"},
      {kArm, 0x400, "Web Edition"},
      {kIntel, 0x110, "Standard Edition"},
  };
  for (const auto& row : rows)
    for (BYTE productType : {kController, kServer})
      EXPECT_EQ(Text(std::string("Windows Server 2003, ") + row.edition),
                Described(Nt(5, 2, "", row.suite, productType, row.architecture)))
          << row.architecture << " " << row.suite;
}

// --- End to end -------------------------------------------------------------

namespace {

// The probe's "name=value" lines.
std::map<std::string, std::string> Lines(const std::string& out) {
  std::map<std::string, std::string> lines;
  std::istringstream in(WithoutCr(out));
  for (std::string line; std::getline(in, line);) {
    size_t equals = line.find('=');
    if (equals != std::string::npos) lines[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return lines;
}

// For its lifetime Wine reports `version` ("win7", "winxp", ...) to the
// probe alone.
struct PretendedVersion {
  static constexpr const char* kKey = "Software\\Wine\\AppDefaults\\winver_probe.exe";
  explicit PretendedVersion(const char* version)
      : ready(SetRegValue(HKEY_CURRENT_USER, RegView::k64, kKey, "Version", REG_SZ,
                          RegSz(version)) == ERROR_SUCCESS) {}
  RegistryScope scope{kKey};
  bool ready;
};

}  // namespace

// Both texts, the test for NT, and the crash report's OS line: the long
// text, or the short one where there is none.
TEST(WinverEndToEnd, DescribesTheVersionWinePretendsAlsoInTheCrashReport) {
  SYSTEM_INFO native;
  GetNativeSystemInfo(&native);
  const std::string width = native.wProcessorArchitecture == kAmd64 ? ", 64-bit" : ", 32-bit";
  const struct {
    const char *version, *nt, *shortStart;
    const char* longStart;  // null: none, and the sentence instead
    bool width;             // Vista to 8 name the processor width
  } rows[] = {
      {"win7", "1", "Win7 6.01 build ", "Microsoft Windows 7 ", true},
      {"win8", "1", "Win7 6.02 build ", "Microsoft Windows 8 ", true},
      {"vista", "1", "WinVista 6.00 build ", "Microsoft Windows Vista ", true},
      {"win2008", "1", "WinVista 6.00 build ", "Microsoft Windows Server 2008 ", true},
      {"win2003", "1", "WinXP 5.02 build ", "Microsoft Windows Server 2003, ", false},
      {"winxp", "1", "WinXP 5.01 build ", "Microsoft Windows XP ", false},
      {"win2k", "1", "Win2000 5.00 build ", "Microsoft Windows 2000 ", false},
      {"nt40", "1", "WinNT 4.00 build ", nullptr, false},
      {"win98", "0", "Win98 4.10 build ", nullptr, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.version);
    PretendedVersion pretended(row.version);
    ASSERT_TRUE(pretended.ready);
    ProbeResult result = RunProbe("winver_probe.exe", "", "n");
    EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
    std::map<std::string, std::string> lines = Lines(result.out);
    const std::string &shortText = lines["short"], &longText = lines["long"];
    EXPECT_EQ(row.nt, lines["nt"]);
    ASSERT_EQ(0u, shortText.find(row.shortStart)) << shortText;
    EXPECT_EQ(longText, lines["str"]);
    std::string osLine = "\nOS: " + (row.longStart ? longText : shortText) + "\n---";
    EXPECT_NE(std::string::npos, WithoutCr(result.err).find(osLine)) << result.err;
    if (!row.longStart) {
      EXPECT_NE(std::string::npos,
                WithoutCr(result.out).find(kUnsupportedWindows + std::string("result=0\nlong=\n")));
      continue;
    }
    EXPECT_EQ("1", lines["result"]);
    EXPECT_EQ(0u, longText.find(row.longStart)) << longText;
    // Both texts carry the same build and service pack.
    std::string rest = shortText.substr(strlen(row.shortStart));
    std::string build = rest.substr(0, rest.find(' ')), servicePack = rest.substr(build.size() + 1);
    std::string end = (servicePack.empty() ? "" : " " + servicePack) + " (build " + build + ")";
    EXPECT_EQ(longText.size() - end.size(), longText.rfind(end)) << longText;
    if (row.width) EXPECT_NE(std::string::npos, longText.find(width)) << longText;
  }
}
