#include <gtest/gtest.h>
#include <mbctype.h>

#include <string>

#include "gen/Path.h"
#include "toolkit/FiredCheck.h"
#include "toolkit/Probe.h"

namespace {

std::string Shown(const PathParts& p) {
  return std::string(p.drive) + "|" + p.folder.Text() + "|" + p.name.Text() + "|" +
         p.extension.Text();
}

}  // namespace

TEST(PathSplit, TakesPathsApartAndComposeRestoresThem) {
  const char* cases[][2] = {  // path, drive|folder|name|extension
      {"C:\\Data\\Scan.tif", "C:|\\Data\\|Scan|.tif"}, {"archive.tar.gz", "||archive.tar|.gz"},
      {".profile", "|||.profile"},                    {"C:file.txt", "C:||file|.txt"},
      {"", "|||"},                                    {"a/b.c\\d", "|a/b.c\\|d|"},
      {"\\\\server\\share\\", "|\\\\server\\share\\||"}, {"..", "||.|."},
      {"|.|", "||||.|"},                              {"|/", "||/||"}};
  for (const auto& c : cases) {
    EXPECT_EQ(c[1], Shown(PathSplit(c[0]))) << c[0];
    EXPECT_STREQ(c[0], PathCompose(PathSplit(c[0])));
  }
}

TEST(PathOverrideAndFillMissing, FollowDriveWithFolderAndTheClearMarkers) {
  const char* overrides[][3] = {  // path, other, result
      {"C:\\Users\\Ann\\", "NARV.INI", "C:\\Users\\Ann\\NARV.INI"},
      {"C:\\Prog\\run.exe", "readme", "C:\\Prog\\readme.exe"},
      {"C:\\Prog\\run.exe", "sub\\a.txt", "sub\\a.txt"}, {"C:\\Prog\\run.exe", "D:", "D:run.exe"},
      {"C:\\Prog\\run.exe", "|.|", "C:\\Prog\\"}, {"C:\\Prog\\run.exe", "|/", "run.exe"}};
  for (const auto& c : overrides)
    EXPECT_STREQ(c[2], PathOverride(c[0], c[1])) << c[0] << " by " << c[1];
  const char* fills[][3] = {  // path, defaults, result
      {"report", "D:\\Out\\x.txt", "D:\\Out\\report.txt"},
      {"E:\\a\\b.doc", "D:\\Out\\x.txt", "E:\\a\\b.doc"},
      {"\\a\\b", "D:\\Out\\x.txt", "\\a\\b.txt"},  // still no drive
      {"b", "D:\\Out\\|.|", "D:\\Out\\b"}};
  for (const auto& c : fills)
    EXPECT_STREQ(c[2], PathFillMissing(c[0], c[1])) << c[0] << " with " << c[1];
}

TEST(PathParts, AppendRelativeTakesOnlyRelativePaths) {
  PathParts base = PathSplit("C:\\a\\old.txt");
  EXPECT_STREQ("C:\\a\\b\\new.dat", PathCompose(base.AppendRelative(PathSplit("b\\new.dat"))));
  EXPECT_STREQ("C:\\a\\b\\", PathCompose(base.AppendRelative(PathSplit(""))));
  for (const char* rooted : {"D:x.txt", "\\x.txt", "/x.txt"})
    EXPECT_EQ("..\\gen\\Path.cpp:47", FiredCheck([&] { base.AppendRelative(PathSplit(rooted)); }));
}

TEST(PathSeparators, AtMostOneIsAddedOrRemoved) {
  const char* cases[][3] = {  // path, with, without
      {"", "", ""}, {"C:\\a", "C:\\a\\", "C:\\a"}, {"C:\\a/", "C:\\a/", "C:\\a"},
      {"a\\\\", "a\\\\", "a\\"}};
  for (const auto& c : cases) {
    EXPECT_STREQ(c[1], WithSeparator(c[0])) << c[0];
    EXPECT_STREQ(c[2], WithoutSeparator(c[0])) << c[0];
  }
}

// In code page 932 the second byte of many characters is 0x5C, "\".
TEST(PathSplit, KeepsTwoByteCharactersWhole) {
  const std::string table = "\x95\x5C";
  const int saved = _getmbcp();
  _setmbcp(932);
  std::string split = Shown(PathSplit(("C:\\" + table + "\\" + table + ".txt").c_str()));
  std::string with = WithSeparator(table.c_str()).Text();
  std::string without = WithoutSeparator(table.c_str()).Text();
  _setmbcp(saved);
  EXPECT_EQ("C:|\\" + table + "\\|" + table + "|.txt" + " " + table + "\\ " + table,
            split + " " + with + " " + without);
}

// 511 characters per component and 519 per path fit; one more is the
// caller's invalid parameter: reported by the crash guard, never cut.
TEST(PathLimits, OneCharacterTooManyEndsAsInvalidParameter) {
  std::string f(510, 'f'), n(511, 'n'), e(510, 'e');
  EXPECT_EQ("C:|" + f + "\\|" + n + "|." + e, Shown(PathSplit(("C:" + f + "\\" + n + "." + e).c_str())));
  PathParts composed;
  composed.folder = std::string(298, 'f').c_str();  // and the separator added
  composed.name = std::string(220, 'n').c_str();
  EXPECT_EQ(519u, PathCompose(composed).Length());
  for (const char* action : {"split-folder", "split-name", "split-extension", "compose"}) {
    ProbeResult result = RunProbe("path_probe.exe", action);
    EXPECT_EQ(0xFFFFFFFFu, result.exitCode) << action;
    EXPECT_EQ(0u, WithoutCr(result.err).find("\nProduct 0.01 exception: Datatype misalignment\n"))
        << action << ": " << result.err;
  }
}
