// The Windows description: every rule from hand-made version records, then
// end to end in probes for which Wine pretends another Windows.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
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

// The long text, or "-" when there is none; the buffer must then be untouched.
std::string Described(const WindowsFacts& facts) {
  char buffer[kWindowsDescriptionSize];
  memset(buffer, '#', sizeof buffer);
  if (ComposeWindowsDescription(facts, buffer))
    return std::string(buffer, strnlen(buffer, sizeof buffer));
  EXPECT_EQ(std::string(sizeof buffer, '#'), std::string(buffer, sizeof buffer));
  return "-";
}

}  // namespace

TEST(WinverShort, NamesTheReleaseAndFormatsTheRecord) {
  struct Row {
    DWORD platform, major, minor, build;
    const char* servicePack;
    bool nt;
    const char* expected;
  };
  const Row rows[] = {
      {1, 4, 0, 0x040003B6, "", false, "Win95 4.00 build 950 "},
      {1, 4, 10, 0x040A08AE, " A", false, "Win98 4.10 build 2222  A"},
      {2, 4, 0, 1381, "Service Pack 6", true, "WinNT 4.00 build 1381 Service Pack 6"},
      {2, 5, 0, 2195, "", true, "Win2000 5.00 build 2195 "},
      {2, 5, 2, 3790, "Service Pack 2", true, "WinXP 5.02 build 3790 Service Pack 2"},
      {2, 6, 0, 6002, "", true, "WinVista 6.00 build 6002 "},
      {2, 6, 2, 9200, "", true, "Win7 6.02 build 9200 "},
      {2, 7, 0, 1, "", true, "Win8 7.00 build 1 "},
      {2, 10, 0, 0x12345, "", true, "WinNT 10.00 build 9029 "},
      {0, 3, 10, 0, "Win32s", false, "Win??? 3.10 build 0 Win32s"},
  };
  for (const Row& row : rows) {
    OSVERSIONINFOA record = {};
    record.dwPlatformId = row.platform;
    record.dwMajorVersion = row.major;
    record.dwMinorVersion = row.minor;
    record.dwBuildNumber = row.build;
    strcpy(record.szCSDVersion, row.servicePack);
    WinVersionInfo info(record);
    EXPECT_EQ(row.nt, info.IsNT()) << row.expected;
    EXPECT_STREQ(row.expected, DescribeWindowsShort(info).Text());
  }
}

TEST(WinverLong, ReleaseEditionWidthAndServicePackBeforeTheBuild) {
  struct Row {
    WindowsFacts facts;
    const char* expected;  // without " (build 1234)"; null: no long text
  };
  const Row rows[] = {
      {Nt(6, 1, "Service Pack 1", 0x100, kWorkstation, kAmd64, 1),
       "Microsoft Windows 7 Ultimate Edition, 64-bit Service Pack 1"},
      {Nt(6, 0, "", 0x300, kWorkstation, kIntel, 3),
       "Microsoft Windows Vista Home Premium Edition, 32-bit"},
      {Nt(6, 0, "", 0x80, kServer, kItanium, 12),
       "Microsoft Windows Server 2008 Datacenter Edition (core installation)"},
      {Nt(6, 0, "", 0, kServer, kArm, 25),
       "Microsoft Windows Server 2008 Small Business Server Premium Edition"},
      {Nt(6, 2, "", 0x100, kWorkstation, kAmd64, 0x30), "Microsoft Windows 8 , 64-bit"},
      {Nt(6, 3, "", 0x100, kWorkstation, kAmd64, 1), "Microsoft "},
      {Nt(10, 0, "Service Pack 1", 0, kServer, kIntel, 7), "Microsoft  Service Pack 1"},
      {Nt(5, 2, "", 0x2000, kServer, kIntel, 0, true),
       "Microsoft Windows Server 2003 R2, Standard Edition"},
      {Nt(5, 2, "", 0x2000, kServer, kIntel),
       "Microsoft Windows Storage Server 2003Standard Edition"},
      {Nt(5, 2, "", 0x2002, kServer, kIntel), "Microsoft Windows Server 2003, Enterprise Edition"},
      {Nt(5, 2, "", 0x100, kWorkstation, kAmd64), "Microsoft Windows XP Professional x64 Edition"},
      {Nt(5, 1, "Service Pack 3", 0x300, kWorkstation, kAmd64),
       "Microsoft Windows XP Home Edition Service Pack 3"},
      {Nt(5, 1, "", 0x100, kWorkstation, kIntel), "Microsoft Windows XP Professional"},
      {Nt(5, 0, "", 0x80, kWorkstation, kIntel), "Microsoft Windows 2000 Professional"},
      {Nt(5, 0, "", 0x82, kServer, kIntel), "Microsoft Windows 2000 Datacenter Server"},
      {Nt(5, 0, "", 0x2, kController, kIntel), "Microsoft Windows 2000 Advanced Server"},
      {Nt(5, 0, "", 0x400, kServer, kIntel), "Microsoft Windows 2000 Server"},
      {Nt(4, 0, "Service Pack 6", 0, kWorkstation, kIntel), nullptr},
      {{1, 4, 10, 2222, " A", 0, 0, kIntel, 0, false}, nullptr},
      {{0, 5, 1, 2600, "", 0, 0, kIntel, 0, false}, nullptr},
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.expected ? std::string(row.expected) + " (build 1234)" : "-",
              Described(row.facts));
}

TEST(WinverLong, Server2003EditionsByProcessorThenSuite) {
  struct Row {
    WORD architecture, suite;
    const char* edition;
  };
  const Row rows[] = {
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
  for (const Row& row : rows)
    for (BYTE productType : {kController, kServer})
      EXPECT_EQ(std::string("Microsoft Windows Server 2003, ") + row.edition + " (build 1234)",
                Described(Nt(5, 2, "", row.suite, productType, row.architecture)))
          << row.architecture << " " << row.suite;
}

TEST(WinverLong, TheLongestRealTextFitsAndLongerIsCutTo255) {
  std::string servicePack(127, 's');
  EXPECT_EQ("Microsoft Windows Server 2008 Enterprise Edition for Itanium-based Systems, 64-bit " +
                servicePack + " (build -2147483648)",
            Described(Nt(6, 0, servicePack.c_str(), 0, kServer, kAmd64, 15, false, 0x80000000)));

  struct {
    char buffer[kWindowsDescriptionSize];
    char after[16];
  } out;
  memset(&out, '#', sizeof out);
  servicePack.assign(300, 's');
  WindowsFacts facts = Nt(6, 1, servicePack.c_str(), 0, kWorkstation, kAmd64, 1);
  ASSERT_TRUE(ComposeWindowsDescription(facts, out.buffer));
  EXPECT_EQ(("Microsoft Windows 7 Ultimate Edition, 64-bit " + servicePack).substr(0, 255),
            out.buffer);
  EXPECT_EQ(std::string(sizeof out.after, '#'), std::string(out.after, sizeof out.after));
}

// --- End to end -------------------------------------------------------------

namespace {

// The probe's "name=value" lines.
std::map<std::string, std::string> Lines(const std::string& out) {
  std::map<std::string, std::string> lines;
  std::string text = WithoutCr(out);
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    size_t equals = text.find('=', start);
    if (equals < end)
      lines[text.substr(start, equals - start)] = text.substr(equals + 1, end - equals - 1);
  }
  return lines;
}

// For its lifetime Wine reports `version` ("win7", "winxp", ...) to
// `program` alone.
class PretendedVersion {
 public:
  PretendedVersion(const std::string& program, const std::string& version)
      : key_("Software\\Wine\\AppDefaults\\" + program), scope_(key_) {
    ready_ = SetRegValue(HKEY_CURRENT_USER, RegView::k64, key_, "Version", REG_SZ,
                         RegSz(version)) == ERROR_SUCCESS;
  }
  bool Ready() const { return ready_; }

 private:
  std::string key_;
  RegistryScope scope_;
  bool ready_ = false;
};

std::string NativeWidth() {
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture == kAmd64 ? ", 64-bit" : ", 32-bit";
}

}  // namespace

TEST(WinverEndToEnd, DescribesTheVersionWinePretends) {
  struct Row {
    const char* program;
    const char* version;
    const char* nt;
    const char* shortStart;
    const char* longStart;  // null: none, and the sentence instead
    bool width;             // Vista to 8 name the processor width
  };
  const char* probe = "winver_probe.exe";
  const Row rows[] = {
      {probe, "win7", "1", "Win7 6.01 build ", "Microsoft Windows 7 ", true},
      {probe, "win8", "1", "Win7 6.02 build ", "Microsoft Windows 8 ", true},
      {probe, "win10", "1", "Win7 6.02 build ", "Microsoft Windows 8 ", true},
      {"winver_aware.exe", "win10", "1", "WinNT 10.00 build ", "Microsoft  (build ", false},
      {probe, "vista", "1", "WinVista 6.00 build ", "Microsoft Windows Vista ", true},
      {probe, "win2008", "1", "WinVista 6.00 build ", "Microsoft Windows Server 2008 ", true},
      {probe, "win2003", "1", "WinXP 5.02 build ", "Microsoft Windows Server 2003, ", false},
      {probe, "winxp", "1", "WinXP 5.01 build ", "Microsoft Windows XP ", false},
      {probe, "win2k", "1", "Win2000 5.00 build ", "Microsoft Windows 2000 ", false},
      {probe, "nt40", "1", "WinNT 4.00 build ", nullptr, false},
      {probe, "win98", "0", "Win98 4.10 build ", nullptr, false},
      {probe, "win95", "0", "Win95 4.00 build ", nullptr, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.program) + " " + row.version);
    PretendedVersion pretended(row.program, row.version);
    ASSERT_TRUE(pretended.Ready());
    ProbeResult result = RunProbe(row.program, "describe");
    EXPECT_EQ(0u, result.exitCode);
    std::map<std::string, std::string> lines = Lines(result.out);
    const std::string& shortText = lines["short"];
    const std::string& longText = lines["long"];
    EXPECT_EQ(row.nt, lines["nt"]);
    ASSERT_EQ(0u, shortText.find(row.shortStart)) << shortText;
    EXPECT_EQ(longText, lines["str"]);
    if (!row.longStart) {
      EXPECT_EQ("", longText);
      EXPECT_NE(std::string::npos,
                WithoutCr(result.out).find(kUnsupportedWindows + std::string("result=0")));
      continue;
    }
    EXPECT_EQ("1", lines["result"]);
    EXPECT_EQ(0u, longText.find(row.longStart)) << longText;
    // Both texts carry the same build and service pack.
    std::string rest = shortText.substr(strlen(row.shortStart));
    std::string build = rest.substr(0, rest.find(' '));
    std::string servicePack = rest.substr(build.size() + 1);
    std::string end = (servicePack.empty() ? "" : " " + servicePack) + " (build " + build + ")";
    EXPECT_EQ(longText.size() - end.size(), longText.rfind(end)) << longText;
    if (row.width) {
      EXPECT_NE(std::string::npos, longText.find(NativeWidth())) << longText;
    }
  }
}

TEST(WinverEndToEnd, TheCrashReportNamesTheWindowsItRanOn) {
  struct Row {
    const char* version;
    const char* line;  // the probe's line that the report's OS line repeats
  };
  for (const Row& row : {Row{"win2003", "long"}, Row{"win98", "short"}}) {
    SCOPED_TRACE(row.version);
    PretendedVersion pretended("winver_probe.exe", row.version);
    ASSERT_TRUE(pretended.Ready());
    ProbeResult result = RunProbe("winver_probe.exe", "crash", "n");
    EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
    std::string expected = Lines(result.out)[row.line];
    ASSERT_FALSE(expected.empty()) << result.out;
    EXPECT_NE(std::string::npos, WithoutCr(result.err).find("\nOS: " + expected + "\n---"))
        << result.err;
  }
}
