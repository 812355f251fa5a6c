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
  const struct {
    const char* path;
    const char* parts;  // drive|folder|name|extension
  } cases[] = {
      {"C:\\Data\\Scan.tif", "C:|\\Data\\|Scan|.tif"}, {"archive.tar.gz", "||archive.tar|.gz"},
      {".profile", "|||.profile"},                    {"C:file.txt", "C:||file|.txt"},
      {"", "|||"},                                    {"a/b.c\\d", "|a/b.c\\|d|"},
      {"\\\\server\\share\\", "|\\\\server\\share\\||"}, {"..", "||.|."},
      {"|.|", "||||.|"},                              {"|/", "||/||"},
  };
  for (const auto& c : cases) {
    PathParts parts = PathSplit(c.path);
    EXPECT_EQ(c.parts, Shown(parts)) << c.path;
    EXPECT_STREQ(c.path, PathCompose(parts));
  }
}

TEST(PathOverrideAndFillMissing, FollowDriveWithFolderAndTheClearMarkers) {
  const struct {
    bool override;
    const char* path;
    const char* other;
    const char* result;
  } cases[] = {
      {true, "C:\\Users\\Ann\\", "NARV.INI", "C:\\Users\\Ann\\NARV.INI"},
      {true, "C:\\Prog\\run.exe", "readme", "C:\\Prog\\readme.exe"},
      {true, "C:\\Prog\\run.exe", "sub\\a.txt", "sub\\a.txt"},
      {true, "C:\\Prog\\run.exe", "D:", "D:run.exe"},
      {true, "C:\\Prog\\run.exe", "|.|", "C:\\Prog\\"},
      {true, "C:\\Prog\\run.exe", "|/", "run.exe"},
      {false, "report", "D:\\Out\\x.txt", "D:\\Out\\report.txt"},
      {false, "E:\\a\\b.doc", "D:\\Out\\x.txt", "E:\\a\\b.doc"},
      {false, "\\a\\b", "D:\\Out\\x.txt", "\\a\\b.txt"},  // still no drive
      {false, "b", "D:\\Out\\|.|", "D:\\Out\\b"},
  };
  for (const auto& c : cases) {
    Str result = c.override ? PathOverride(c.path, c.other) : PathFillMissing(c.path, c.other);
    EXPECT_STREQ(c.result, result) << c.path << (c.override ? " by " : " with ") << c.other;
  }
}

TEST(PathParts, AppendRelativeTakesOnlyRelativePaths) {
  PathParts base = PathSplit("C:\\a\\old.txt");
  EXPECT_STREQ("C:\\a\\b\\new.dat", PathCompose(base.AppendRelative(PathSplit("b\\new.dat"))));
  EXPECT_STREQ("C:\\a\\b\\", PathCompose(base.AppendRelative(PathSplit(""))));
  for (const char* rooted : {"D:x.txt", "\\x.txt", "/x.txt"})
    EXPECT_EQ("..\\gen\\Path.cpp:47", FiredCheck([&] { base.AppendRelative(PathSplit(rooted)); }));
}

TEST(PathSeparators, AtMostOneIsAddedOrRemoved) {
  const struct {
    const char* path;
    const char* with;
    const char* without;
  } cases[] = {{"", "", ""}, {"C:\\a", "C:\\a\\", "C:\\a"}, {"C:\\a/", "C:\\a/", "C:\\a"},
               {"a\\\\", "a\\\\", "a\\"}};
  for (const auto& c : cases) {
    Str with(c.path), without(c.path);
    WithSeparator(with);
    WithoutSeparator(without);
    EXPECT_STREQ(c.with, with) << c.path;
    EXPECT_STREQ(c.without, without) << c.path;
  }
}

// In code page 932 the second byte of many characters is 0x5C, "\".
TEST(PathSplit, KeepsTwoByteCharactersWhole) {
  const std::string table = "\x95\x5C";
  const int saved = _getmbcp();
  _setmbcp(932);
  std::string split = Shown(PathSplit(("C:\\" + table + "\\" + table + ".txt").c_str()));
  Str with = WithSeparator(table.c_str()), without = WithoutSeparator(table.c_str());
  _setmbcp(saved);
  EXPECT_EQ("C:|\\" + table + "\\|" + table + "|.txt", split);
  EXPECT_EQ(table + "\\", with.Text());
  EXPECT_EQ(table, without.Text());
}

// 511 characters per component and 519 per path fit; one more is the
// caller's invalid parameter: reported by the crash guard, never cut.
TEST(PathLimits, OneCharacterTooManyEndsAsInvalidParameter) {
  PathParts parts = PathSplit(("C:" + std::string(510, 'f') + "\\" + std::string(511, 'n') + "." +
                               std::string(510, 'e')).c_str());
  EXPECT_EQ(511u, parts.folder.Length());
  EXPECT_EQ(511u, parts.name.Length());
  EXPECT_EQ(511u, parts.extension.Length());
  PathParts composed;
  composed.folder = std::string(298, 'f').c_str();  // and the separator added
  composed.name = std::string(220, 'n').c_str();
  EXPECT_EQ(519u, PathCompose(composed).Length());

  for (const char* action : {"split-folder", "split-name", "split-extension", "compose"}) {
    ProbeResult result = RunProbe("path_probe.exe", action);
    std::string err = WithoutCr(result.err);
    EXPECT_EQ(0xFFFFFFFFu, result.exitCode) << action;
    EXPECT_EQ("", result.out) << action;
    EXPECT_EQ(0u, err.find("\nProduct 0.01 exception: Datatype misalignment\n")) << err;
    const char* function = std::string(action) == "compose" ? "[PathCompose]" : "[PathSplit]";
    EXPECT_NE(std::string::npos, err.find(function)) << err;
  }
}
