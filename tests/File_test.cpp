#include <gtest/gtest.h>
#include <mbctype.h>
#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "gen/File.h"
#include "gen/Inet.h"
#include "gen/Ini.h"
#include "gen/Mail.h"
#include "gen/Path.h"
#include "gen/err/FaultFlow.h"
#include "gen/err/ReportMail.h"
#include "gen/err/errgpfse.h"
#include "toolkit/FiredCheck.h"
#include "toolkit/StandIns.h"
#include "toolkit/Probe.h"
// Last: its TempFolder() hides the toolkit's class, called Scratch here.
#include "gen/Pathw32.h"

namespace {

using Scratch = class TempFolder;

// For its lifetime WIN.INI's [MAIL] MAPI holds `value` (removed for null);
// the file's bytes are put back after.
class MapiPermission {
 public:
  explicit MapiPermission(const char* value) : saved_(ReadFileBytes(Path())) {
    WritePrivateProfileStringA("MAIL", "MAPI", value, "WIN.INI");
  }
  ~MapiPermission() {
    // The platform caches the file: let go of it before the bytes go back.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "WIN.INI");
    if (saved_)
      std::ofstream(Path(), std::ios::binary | std::ios::trunc) << *saved_;
    else
      DeleteFileA(Path().c_str());
  }
  MapiPermission(const MapiPermission&) = delete;
  MapiPermission& operator=(const MapiPermission&) = delete;

 private:
  static std::string Path() {
    char folder[MAX_PATH];
    return std::string(folder, GetWindowsDirectoryA(folder, MAX_PATH)) + "\\win.ini";
  }
  std::optional<std::string> saved_;
};

// For its lifetime the client's library of this process and its children
// answers logons and sendings with the given results and records its calls.
// The platform prefers its own library of that name unless told otherwise;
// its loader reads the override at each load, from a key it keeps open, so
// only the value comes and goes.
class MapiDouble {
 public:
  explicit MapiDouble(ULONG logonResult = 0, ULONG sendResult = 0) {
    DWORD size = sizeof saved_;
    hadOverride_ = RegGetValueA(HKEY_CURRENT_USER, kOverrides, "mapi32", RRF_RT_REG_SZ, nullptr,
                                saved_, &size) == ERROR_SUCCESS;
    SetRegValue(HKEY_CURRENT_USER, RegView::k32, kOverrides, "mapi32", REG_SZ,
                RegSz("native,builtin"));
    SetEnvironmentVariableA("MAPI_DOUBLE_RECORD", record_.c_str());
    SetEnvironmentVariableA("MAPI_DOUBLE_LOGON", std::to_string(logonResult).c_str());
    SetEnvironmentVariableA("MAPI_DOUBLE_SEND", std::to_string(sendResult).c_str());
  }
  ~MapiDouble() {
    for (const char* name : {"MAPI_DOUBLE_RECORD", "MAPI_DOUBLE_LOGON", "MAPI_DOUBLE_SEND"})
      SetEnvironmentVariableA(name, nullptr);
    if (hadOverride_)
      SetRegValue(HKEY_CURRENT_USER, RegView::k32, kOverrides, "mapi32", REG_SZ, RegSz(saved_));
    else
      RegDeleteKeyValueA(HKEY_CURRENT_USER, kOverrides, "mapi32");
  }
  MapiDouble(const MapiDouble&) = delete;
  MapiDouble& operator=(const MapiDouble&) = delete;

  // The calls so far, one line each; texts quoted, line breaks as \r and \n.
  std::string Calls() const { return ReadFileBytes(record_).value_or(""); }
  // The rest of the line of the first call named `word`.
  std::string Call(const std::string& word) const {
    std::string calls = "\n" + Calls();
    size_t at = calls.find("\n" + word + " ");
    if (at == std::string::npos) return "<none>";
    at += word.size() + 2;
    return calls.substr(at, calls.find('\n', at) - at);
  }

 private:
  static constexpr const char* kOverrides = "Software\\Wine\\DllOverrides";
  Scratch folder_;
  std::string record_ = folder_.Path() + "\\calls.txt";
  char saved_[64] = "";
  bool hadOverride_ = false;
};

// A target whose writes really fail: the system's always-full device.
const std::string kFull = "Z:\\dev\\full";

// The message of the error an action raised ("" when none), marked unless a file error kind's.
std::string Failure(const std::function<void()>& action) {
  ErrFrame frame;
  if (!frame.Try(action)) return "";
  bool kind = false;
  for (int k = 1; k <= kFileErrorKindCount; ++k) kind |= frame.Code() == FileErrorText(FileErrorKind(k));
  return (kind ? "" : "not a file error: ") + std::string(frame.Message().Text());
}

bool NobodyHolds(const std::string& path) {
  return static_cast<bool>(
      Handle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)));
}

std::string Bytes(const ByteBlock& block) { return std::string(block.Begin(), block.Size()); }

class FileTest : public testing::Test {
 protected:
  std::string Path(const char* name) const { return folder_.Path() + "\\" + name; }
  std::string Make(const char* name, const std::string& bytes) {
    FileWriteAll(Path(name).c_str(), bytes.data(), bytes.size());
    return Path(name);
  }
  Scratch folder_;
};

const std::string kPathw32 = "..\\gen\\Pathw32.cpp:";

std::string Shown(const PathParts& p) {
  return std::string(p.drive) + "|" + p.folder.Text() + "|" + p.name.Text() + "|" + p.extension.Text();
}

// A file of `size` bytes, taking no room on the disk, written at `writeTime` (seconds since 1970).
void PlaceFile(const std::string& path, int64_t size = 0, int64_t writeTime = 0) {
  Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  LARGE_INTEGER end;
  end.QuadPart = size;
  EXPECT_TRUE(SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(file.Get()));
  const uint64_t ticks = writeTime * 10000000 + 116444736000000000;  // from 1601
  FILETIME time = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  if (writeTime) SetFileTime(file.Get(), nullptr, nullptr, &time);
}

// Blocks in use on a heap: a block left by a call, or a search kept (Wine counts no handles).
size_t BusyBlocks(HANDLE heap) {
  size_t blocks = 0;
  PROCESS_HEAP_ENTRY entry = {};
  HeapLock(heap);
  while (HeapWalk(heap, &entry)) blocks += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0;
  HeapUnlock(heap);
  return blocks;
}

const char kHostile[] = "http://a.example/?q=x\" -evil \"y z";
const char kHostileOnCommandLine[] = "http://a.example/?q=x%22 -evil %22y z";

std::string Lower(std::string text) { return CharLowerA(&text[0]); }

}  // namespace

TEST(FileStreamMode, FirstOfALetterAndItsPartnerDecidesAndErrorTextsAndPositionMessagesAreFixed) {
  const char* cases[][2] = {{"", "rb"}, {"R", "rb"}, {"W", "r+b"}, {"RW", "r+b"}, {"WC", "ab"}, {"RWC", "a+b"},
                            {"WIC", "wb"}, {"RWIC", "w+b"}, {"T", "rt"}, {"CIWT", "wt"}, {"WCA", "ab"},
                            {"CIRWMlB", "w+b"}, {"RrWC", "a+b"}, {"rRWC", "ab"}, {"RWICT", "w+t"}, {nullptr, "rb"}};
  for (auto& c : cases) EXPECT_STREQ(c[1], FileStreamMode(c[0])) << "mode " << c[0];
  for (const char* none : {"RWI", "WI", "I", "C", "RC"})
    EXPECT_EQ("..\\gen\\File.cpp:57", FiredCheck([&] { FileStreamMode(none); })) << none;
  std::string texts;
  for (int kind = 0; kind <= kFileErrorKindCount + 1; ++kind)
    texts += std::string(FileErrorText(FileErrorKind(kind)) ?: "-") + "|";
  EXPECT_EQ("-|File is too short|File is too long|Disk full on file write|File seek error|"
            "Can't create file|Bad file name|File not found|File is invalid|File damaged|"
            "File is empty|File format is not supported|Cannot delete file|Cannot flush file|"
            "Cannot close file|-|", texts);
  const struct { const char* name; int line, column; const char* message; } positions[] = {
      {nullptr, -1, -1, "X"}, {"", -1, 4, "Column 4: X"}, {"", 3, -1, "Line 3: X"}, {"", 3, 0, "Line 3/0: X"},
      {"a.ini", -1, -1, "a.ini: X"}, {"a.ini", -1, 7, "a.ini (column 7): X"}, {"a.ini", 12, -1, "a.ini (12): X"},
      {"a.ini", 0, 7, "a.ini (0/7): X"}};
  for (const auto& c : positions) EXPECT_STREQ(c.message, PositionMessage("X", c.name, c.line, c.column).Text());
}

// Readers share a file, a writer has it alone; bytes still in the stream's
// buffer fail when they are written out, at the latest on destruction.
TEST_F(FileTest, AnUnheldErrorReachesTheCatchNamingFileLineAndColumnAndLetsGoOfTheFile) {
  std::string a = Make("a.ini", "1234"), missing = Path("missing.ini"), nowhere = Path("no\\new");
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { File one(a.c_str(), "R"), two(a.c_str(), "R"); two.Raise(FileErrorKind::kDamaged); }, a + ": File damaged"},
      {[&] { File reader(a.c_str(), "R"); File(a.c_str(), "W"); }, a + ": File not found"},
      {[&] { File writer(a.c_str(), "W"); File(a.c_str(), "R"); }, a + ": File not found"},
      {[&] { File(kFull.c_str(), "W").WriteText(std::string(4096, 'x').c_str()); }, kFull + ": Disk full on file write"},
      {[&] { File(kFull.c_str(), "W").WriteText("x"); }, kFull + ": Cannot close file"},
      {[&] { File(missing.c_str(), "R"); }, missing + ": File not found"},
      {[&] { File(missing.c_str(), "W"); }, missing + ": File not found"},
      {[&] { File(nowhere.c_str(), "WC"); }, nowhere + ": Can't create file"},
      {[&] { File f(a.c_str(), "R"); f.SetLine(2); f.SetColumn(5); f.Read(8); }, a + " (2/5): File is too short"},
      {[&] { File(a.c_str(), "W").Seek(-1, SEEK_SET); }, a + ": File seek error"},
      {[&] { FileReadAll(a.c_str(), 0, 4); }, a + ": File is too long"},
      {[&] { File(a.c_str(), "RX").ReadRest(5, 100); }, a + ": File is too short"},
      {[&] { File f(kFull.c_str(), "W"); f.WriteText("x"); f.Close(); }, kFull + ": Cannot close file"}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.second, Failure(c.first));
    EXPECT_TRUE(NobodyHolds(a));
  }
}

TEST_F(FileTest, HeldErrorsWaitUntilTakenReleasedOrTheNextOperationAndMisuseFailsTheChecks) {
  std::string missing = Path("missing.ini"), four = Make("four", "1234");
  File held(missing.c_str(), "X");  // taken: its destruction raises nothing
  EXPECT_FALSE(held.TakeHeldError(FileErrorKind::kTooShort));
  EXPECT_TRUE(held.TakeHeldError(FileErrorKind::kNotFound));
  EXPECT_EQ(four + ": File is too short", Failure([&] {
    File file(four.c_str(), "X");
    file.Read(8);
    file.Position();
    ADD_FAILURE() << "went on past a held error";
  }));
  File file(four.c_str(), "R");
  file.HoldErrors();
  file.HoldErrors();
  EXPECT_FALSE(file.ReadRest(5, 100).IsHeld());
  file.ReleaseErrors();
  EXPECT_EQ(four + ": File is too short", Failure([&] { file.ReleaseErrors(); }));
  const std::pair<int, std::function<void()>> misuses[] = {
      {35, [&] { File(four.c_str(), "R").Open(four.c_str(), "R"); }}, {283, [&] { File().Position(); }},
      {123, [&] { File(four.c_str(), "R").Read(nullptr, 1); }}, {172, [&] { File(four.c_str(), "R").Truncate(); }},
      {253, [&] { File(missing.c_str(), "X").Raise(FileErrorKind::kDamaged); }},
      {286, [&] { File(missing.c_str(), "X").HoldErrors(); }}, {291, [&] { File(four.c_str(), "R").ReleaseErrors(); }}};
  for (const auto& c : misuses) EXPECT_EQ("..\\gen\\File.cpp:" + std::to_string(c.first), FiredCheck(c.second));
}

TEST_F(FileTest, ReadsWritesSeeksAndCutsWithinOneFileWholeFilesBelowTheMaximumAndCopies) {
  File file(Path("data").c_str(), "CIRW");
  file.Write("0123456789", 10);
  std::ostringstream seen;  // the first size leaves out what the stream still buffers
  seen << file.WriteText("abc") << file.Print("%d-%c", 42, 'x') << " " << file.Position() << "/" << file.Size();
  file.Flush();
  seen << "/" << file.Size();
  file.Seek(2, SEEK_SET);
  seen << " " << Bytes(file.Read(3)) << " " << file.Remaining();
  file.Seek(-2, SEEK_END);
  seen << " " << Bytes(file.Read(2)) << " " << file.AtEnd();
  file.Seek(5, SEEK_CUR);
  seen << " " << file.Remaining();
  file.Seek(4, SEEK_SET);
  file.Truncate();
  seen << " " << file.Size();
  file.Close();
  EXPECT_EQ("34 17/0/17 234 12 -x 1 0 4", seen.str());
  EXPECT_EQ("0123", ReadFileBytes(Path("data")).value_or("?"));
  std::string ten = Make("ten", "0123456789"), empty = Make("empty", "");
  EXPECT_EQ("0123456789!", Bytes(FileReadAll(ten.c_str(), 10, 11, "!")));  // both limits at edge
  EXPECT_EQ(ten + ": File is too short", Failure([&] { FileReadText(ten.c_str(), 11, 20); }));
  EXPECT_STREQ("0123456789\n", FileReadText(ten.c_str(), 0, 100, "\n").Text());
  EXPECT_TRUE(FileReadText(empty.c_str(), 0, 100, "").IsSharedEmpty());
  File append(ten.c_str(), "WC");
  append.Seek(0, SEEK_SET);
  append.WriteText("ab");
  append.Close();
  EXPECT_EQ("0123456789ab", ReadFileBytes(ten).value_or("?"));
  File(ten.c_str(), "RD").Close();
  FileDelete(empty.c_str());
  EXPECT_FALSE(FileExists(ten.c_str()) || FileExists(empty.c_str()));
  EXPECT_EQ(ten + ": Cannot delete file", Failure([&] { FileDelete(ten.c_str()); }));
  std::string bytes(100000, '\0');
  std::mt19937 random(7);
  for (char& byte : bytes) byte = static_cast<char>(random());
  std::string from = Make("from", bytes), to = Path("to");
  // Copies: start, minimum, maximum, bytes copied; nothing copied: too short.
  const uint32_t cases[][4] = {{0, 0, ~0u, 100000}, {1000, 99000, ~0u, 99000}, {10, 0, 5, 5}, {0, 100001, ~0u, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(c[3] ? "" : from + ": File is too short", Failure([&] {
      File source(from.c_str(), "R"), destination(to.c_str(), "CIW");
      source.Seek(c[0], SEEK_SET);
      FileCopyPart(destination, source, c[1], c[2]);
    }));
    EXPECT_EQ(bytes.substr(c[0], c[3]), ReadFileBytes(to).value_or("?"));
  }
}

TEST_F(FileTest, FilesOf2GiBOrMoreAreRefusedNeverWrapped) {
  std::string huge = Path("huge"), edge = Path("edge"), appended = Path("append");
  PlaceFile(huge, kFileSizeLimit + 1);
  EXPECT_EQ(huge + ": File is too long", Failure([&] { File(huge.c_str(), "RD"); }));
  EXPECT_TRUE(FileExists(huge.c_str()) && NobodyHolds(huge));
  const int32_t nearly = static_cast<int32_t>(kFileSizeLimit - 15);
  PlaceFile(edge, nearly);
  PlaceFile(appended, nearly);
  File file(edge.c_str(), "W");
  file.Write("<", 1);  // leaves room for a long way from the start
  file.Seek(0, SEEK_END);
  EXPECT_EQ(edge + ": File seek error", Failure([&] { file.Seek(16, SEEK_CUR); }));
  EXPECT_EQ(nearly, file.Position());
  EXPECT_EQ(edge + ": File is too long", Failure([&] { file.Write("0123456789abcdef", 16); }));
  file.Write("0123456789abcde", 15);
  file.Close();
  // An append stream writes behind what it still buffers.
  File append(appended.c_str(), "WC");
  append.Write("0123456789abcde", 15);
  EXPECT_EQ(appended + ": File is too long", Failure([&] { append.Write("f", 1); }));
}

// zlib's CRC is the same checksum with start and result complemented.
TEST(Crc32, MatchesZlibFromTheCallersStartAtEveryAlignmentAndLength) {
  std::mt19937 random(1);
  std::basic_string<unsigned char> data(1 << 20, 0);
  for (unsigned char& byte : data) byte = static_cast<unsigned char>(random());
  auto check = [&](size_t offset, size_t size) {
    const unsigned char* begin = &data[offset];
    uint32_t start = random();
    ASSERT_EQ(~crc32(~start, begin, size) & 0xFFFFFFFF, Crc32(begin, begin + size, start)) << offset << "+" << size;
  };
  for (size_t offset = 0; offset < 8; ++offset)
    for (size_t size = 0; size <= 200; ++size) check(offset, size);
  for (size_t size : {12287, 12288, 12295, 40000, 1000000}) check(5, size);  // about three lanes and past
}

TEST(PathSplit, TakesPathsApartKeepingTwoByteCharactersWholeAndComposeRestoresThem) {
  const char* cases[][2] = {  // path, drive|folder|name|extension
      {"C:\\Data\\Scan.tif", "C:|\\Data\\|Scan|.tif"}, {"archive.tar.gz", "||archive.tar|.gz"},
      {".profile", "|||.profile"}, {"C:file.txt", "C:||file|.txt"}, {"", "|||"}, {"a/b.c\\d", "|a/b.c\\|d|"},
      {"\\\\server\\share\\", "|\\\\server\\share\\||"}, {"..", "||.|."}, {"|.|", "||||.|"}, {"|/", "||/||"}};
  for (const auto& c : cases) {
    EXPECT_EQ(c[1], Shown(PathSplit(c[0]))) << c[0];
    EXPECT_STREQ(c[0], PathCompose(PathSplit(c[0])));
  }
  // In code page 932 the second byte of many characters is 0x5C, "\".
  const std::string table = "\x95\x5C";
  const int saved = _getmbcp();
  _setmbcp(932);
  std::string seen = Shown(PathSplit(("C:\\" + table + "\\" + table + ".txt").c_str())) + " " +
                     WithSeparator(table.c_str()).Text() + " " + WithoutSeparator(table.c_str()).Text();
  _setmbcp(saved);
  EXPECT_EQ("C:|\\" + table + "\\|" + table + "|.txt " + table + "\\ " + table, seen);
}

TEST(PathOverrideAndFillMissing, FollowDriveWithFolderAndClearMarkersAppendRelativeAndSeparatorsOnce) {
  const char* cases[][4] = {  // path, other, overridden, filled in
      {"C:\\Users\\Ann\\", "NARV.INI", "C:\\Users\\Ann\\NARV.INI", "C:\\Users\\Ann\\NARV.INI"},
      {"C:\\Prog\\run.exe", "readme", "C:\\Prog\\readme.exe", "C:\\Prog\\run.exe"},
      {"C:\\Prog\\run.exe", "sub\\a.txt", "sub\\a.txt", "C:\\Prog\\run.exe"},
      {"C:\\Prog\\run.exe", "D:", "D:run.exe", "C:\\Prog\\run.exe"},
      {"C:\\Prog\\run.exe", "|.|", "C:\\Prog\\", "C:\\Prog\\run.exe"},
      {"C:\\Prog\\run.exe", "|/", "run.exe", "C:\\Prog\\run.exe"},
      {"report", "D:\\Out\\x.txt", "D:\\Out\\x.txt", "D:\\Out\\report.txt"},
      {"\\a\\b", "D:\\Out\\x.txt", "D:\\Out\\x.txt", "\\a\\b.txt"},  // still no drive
      {"b", "D:\\Out\\|.|", "D:\\Out\\", "D:\\Out\\b"}};
  for (const auto& c : cases) {
    EXPECT_STREQ(c[2], PathOverride(c[0], c[1])) << c[0] << " by " << c[1];
    EXPECT_STREQ(c[3], PathFillMissing(c[0], c[1])) << c[0] << " with " << c[1];
  }
  PathParts base = PathSplit("C:\\a\\old.txt");
  EXPECT_STREQ("C:\\a\\b\\new.dat", PathCompose(base.AppendRelative(PathSplit("b\\new.dat"))));
  EXPECT_STREQ("C:\\a\\b\\", PathCompose(base.AppendRelative(PathSplit(""))));
  for (const char* rooted : {"D:x.txt", "\\x.txt", "/x.txt"})
    EXPECT_EQ("..\\gen\\Path.cpp:47", FiredCheck([&] { base.AppendRelative(PathSplit(rooted)); }));
  const char* separators[][3] = {{"", "", ""}, {"C:\\a", "C:\\a\\", "C:\\a"}, {"C:\\a/", "C:\\a/", "C:\\a"},
                                 {"a\\\\", "a\\\\", "a\\"}};  // path, with, without
  for (const auto& c : separators)
    EXPECT_EQ(std::string(c[1]) + " " + c[2], std::string(WithSeparator(c[0])) + " " + WithoutSeparator(c[0]).Text());
}

// 511 characters per component and 519 per path fit; one more is an invalid parameter, never cut.
TEST(PathLimits, OneCharacterTooManyEndsAsInvalidParameter) {
  std::string f(510, 'f'), n(511, 'n'), e(510, 'e');
  EXPECT_EQ("C:|" + f + "\\|" + n + "|." + e, Shown(PathSplit(("C:" + f + "\\" + n + "." + e).c_str())));
  PathParts composed;
  composed.folder = std::string(298, 'f').c_str();  // and the separator added
  composed.name = std::string(220, 'n').c_str();
  EXPECT_EQ(519u, PathCompose(composed).Length());
  for (const char* action : {"split", "compose"}) {
    ProbeResult result = RunProbe("path_probe.exe", action);
    EXPECT_EQ(0u, WithoutCr(result.err).find("\nProduct 0.01 exception: Datatype misalignment\n"))
        << action << " ended with " << result.exitCode << ": " << result.err;
  }
}

TEST(WellKnownFolders, AreWhatWindowsGivesWithOneSeparatorAndDataFoldersTheVariablesProductFolders) {
  char windows[MAX_PATH], system[MAX_PATH], temp[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  GetSystemDirectoryA(system, MAX_PATH);
  GetTempPathA(MAX_PATH, temp);  // already ends in one
  EXPECT_EQ(std::string(windows) + "\\ " + system + "\\ " + temp + " " + BinFolder() + " " + BinFolder() +
                "File_test.exe File_test.exe",
            std::string(WindowsFolder()) + " " + SystemFolder().Text() + " " + TempFolder().Text() + " " +
                CurrentFolder().Text() + " " + ModuleFileName().Text() + " " + ModuleBaseName().Text());
  HMODULE saved = std::exchange(moduleHandle, nullptr);
  EXPECT_EQ(kPathw32 + "35", FiredCheck([] { ModuleFileName(); }));
  moduleHandle = saved;
  // Without a usable variable: the temporary folder, not "", "\NARV\" or a folder cut short.
  const std::string longest = "C:\\" + std::string(4087, 'v'), longer = longest + "v";  // 4095 with "\NARV"
  const std::pair<const char*, std::string> cases[] = {
      {"C:\\Users\\Ann\\AppData", "C:\\Users\\Ann\\AppData\\NARV\\"}, {"D:\\", "D:\\NARV\\"},
      {longest.c_str(), longest + "\\NARV\\"}, {longer.c_str(), TempFolder().Text()}, {nullptr, TempFolder().Text()}};
  for (auto f : {std::make_pair("AppData", UserDataFolder), std::make_pair("AllUsersProfile", CommonDataFolder)})
    for (const auto& c : cases) {
      SetEnvironmentVariableA(f.first, c.first);  // each test is a process of its own
      EXPECT_EQ(c.second, f.second().Text()) << f.first << "=" << (c.first ? c.first : "(unset)");
    }
}

// A folder of that name is no data file.
TEST(FindDataFile, TakesTheFirstPlaceInTheFixedOrderElseTheUserDataPlace) {
  Scratch current, user, common;
  SetEnvironmentVariableA("AppData", user.Path().c_str());
  SetEnvironmentVariableA("AllUsersProfile", common.Path().c_str());
  ASSERT_TRUE(CreateFolders(user.Path() + "\\NARV") && CreateFolders(common.Path() + "\\NARV"));
  ASSERT_NE(0, SetCurrentFolder(current.Path().c_str()));
  const std::string name = "pathw32_" + std::to_string(GetCurrentProcessId()) + ".dat";
  const std::string places[] = {current.Path() + "\\" + name, BinFolder() + name,
                                user.Path() + "\\NARV\\" + name, common.Path() + "\\NARV\\" + name};
  for (int first = 0; first <= 4; ++first) {  // files from the first place on
    for (int place = 0; place < 4; ++place)
      place >= first ? PlaceFile(places[place]) : void(DeleteFileA(places[place].c_str()));
    EXPECT_EQ(places[first < 4 ? first : 2], FindDataFile(name.c_str()).Text());
  }
  CreateDirectoryA(places[0].c_str(), nullptr);
  PlaceFile(places[3]);
  EXPECT_EQ(places[3], FindDataFile(name.c_str()).Text());
  // Beside the executable a name without extension takes the executable's.
  EXPECT_EQ(std::string(WindowsFolder()) + "win.ini " + BinFolder() + "File_test.exe " + current.Path() + "\\x.dat",
            std::string(FindDataFile("win.ini")) + " " + FindDataFile("File_test").Text() + " " +
                FindDataFile((current.Path() + "\\x.dat").c_str()).Text());
  SetCurrentFolder(BinFolder().c_str());  // lets the scratch folder go
}

// Folders, "." and ".." included, are never current, nor the first match.
TEST(FileFind, ListsTheFilesWithSizeAndWriteTimeAndGivesItsSearchBack) {
  Scratch folder;
  const std::string base = folder.Path() + "\\";
  PlaceFile(base + "a.txt", 3, 1000000000);
  PlaceFile(base + "b.dat", 0, 4102444800);  // 2100: past 32-bit seconds
  ASSERT_TRUE(CreateFolders(base + "sub\\deeper"));
  for (const char* pattern : {"*", "*t"}) {
    std::vector<std::string> found;
    for (FileFind file((base + pattern).c_str()); file.More(); file.Next())
      found.push_back(std::string(file.Name()) + " " + std::to_string(file.Size()) + " " +
                      std::to_string(file.WriteTime()));
    std::sort(found.begin(), found.end());
    EXPECT_EQ((std::vector<std::string>{"a.txt 3 1000000000", "b.dat 0 4102444800"}), found) << pattern;
  }
  for (const std::string& pattern : {base + "sub\\*", base + "*.none", base + "missing\\*"}) {
    FileFind find(pattern.c_str());
    EXPECT_EQ("0 '' " + kPathw32 + "68 " + kPathw32 + "72", std::to_string(find.More()) + " '" +
              find.CurrentName().Text() + "' " + FiredCheck([&] { find.Name(); }) + " " +
              FiredCheck([&] { find.Next(); })) << pattern;
  }
  // No wildcards in folders.
  EXPECT_EQ(kPathw32 + "63", FiredCheck([&] { FileFind find((base + "s*\\*").c_str()); }));
  const auto before = BusyBlocks(GetProcessHeap());
  {
    FileFind exhausted((base + "*").c_str());
    EXPECT_NE(before, BusyBlocks(GetProcessHeap()));  // the measure sees a running search
    while (exhausted.More()) exhausted.Next();
    EXPECT_EQ(before, BusyBlocks(GetProcessHeap()));
  }
  { FileFind abandoned((base + "*").c_str()); }
  EXPECT_EQ(before, BusyBlocks(GetProcessHeap()));
}

TEST(BuildUrlCommand, TheAddressIsOneQuotedArgumentAndARegisteredCommandIsLowerCasedWithArgumentsReplaced) {
  const std::string nt = "C:\\windows\\system32\\rundll32 url.dll,FileProtocolHandler \"";
  const std::string start = "start rundll32 url.dll,FileProtocolHandler \"", longer(980, 'x');
  const struct { std::string address; bool notNT; std::string command; } cases[] = {
      {kHostile, false, nt + kHostileOnCommandLine + "\""}, {kHostile, true, start + kHostileOnCommandLine + "\""},
      {longer, true, start + longer.substr(0, 400) + "\""},
      {std::string(399, 'q') + "\"x\"", true, start + std::string(399, 'q') + "%22\""}};  // cut, then encoded
  for (const auto& c : cases)
    EXPECT_EQ(c.command, std::string(BuildUrlCommand(c.address.c_str(), c.notNT, "C:\\windows\\system32\\")));
  // The beginning taken first is kept: a browser registered later is not run.
  auto upperWithArguments = [](const std::string& path) { return path.substr(0, path.size() - 4) + ".EXE -x %1"; };
  SchemeStandIn browser("http", upperWithArguments);
  ASSERT_TRUE(browser.Ready());
  Browse(kHostile);
  EXPECT_EQ(Lower(browser.Path()) + " \"" + kHostileOnCommandLine + "\"", browser.CommandLine());
  DeleteFileA((browser.Path() + ".started").c_str());
  SchemeStandIn later("http", upperWithArguments);
  ASSERT_TRUE(later.Ready());
  BrowseWeb("b.example/p");
  EXPECT_EQ(Lower(browser.Path()) + " \"b.example/p\"", browser.CommandLine());
  EXPECT_EQ(std::nullopt, later.CommandLine(500));
}

// A browser whose program is not followed by ".exe " gets the address behind its command, as
// one argument whose closing quote no backslash escapes. The URL handler, called in this
// process, gets it as built, line feeds escaped; files always go to it. No way leaves a block.
TEST(Browse, TheBrowserGetsTheAddressAsOneArgumentElseTheUrlHandlerGetsItAsBuilt) {
  const struct { bool browser; void (*action)(); bool viaBrowser; const char* received; } cases[] = {
      {true, [] { Browse(kHostile); }, true, kHostileOnCommandLine},
      {true, [] { Browse("file://C:\\a \\b\\\\"); }, true, "file://C:\\a \\b\\\\\\\\"},
      {true, [] { BrowseWeb("www.example.com/p"); }, true, "www.example.com/p"},
      {true, [] { BrowseFile("C:\\scans\\page 1.tif"); }, false, "file://C:\\scans\\page 1.tif"},
      {false, [] { BrowseWeb("www.example.com/p"); }, false, "http://www.example.com/p"},
      {false, [] { Browse(kHostile); }, false, kHostile},
      {false, [] { OpenUrl("%s%s&c=%s", "http://a.example/?a=one\ntwo", "&b=x", "3\n"); }, false,
       "http://a.example/?a=one%0D%0Atwo&b=x&c=3%0D%0A"}};
  RegistryScope noBrowser("Software\\Classes\\http");
  UrlModuleStandIn handler;
  ASSERT_TRUE(handler.Ready());
  Scratch folder;
  const std::string record = folder.Path() + "\\received";
  SetEnvironmentVariableA("URL_STANDIN_RECORD", record.c_str());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.received);
    std::optional<SchemeStandIn> browser;
    if (c.browser) browser.emplace("http");
    DeleteFileA(record.c_str());
    size_t blocks = BusyBlocks(guardState.privateHeap);
    c.action();
    EXPECT_EQ(blocks, BusyBlocks(guardState.privateHeap)) << "blocks left on the library's heap";
    EXPECT_EQ(c.viaBrowser ? "<nothing>" : c.received, ReadFileBytes(record).value_or("<nothing>"));
    if (browser)
      EXPECT_EQ(c.viaBrowser ? "\"" + Lower(browser->Path()) + "\" \"%1\" \"" + c.received + "\"" : "<none>",
                browser->CommandLine(c.viaBrowser ? 10000 : 500).value_or("<none>"));
  }
  EXPECT_EQ("..\\gen\\Inet.cpp:83", FiredCheck([] { OpenUrl("%s", nullptr, "", ""); }));
  EXPECT_EQ("..\\gen\\Inet.cpp:83", FiredCheck([] { OpenUrl("%s", "a", nullptr, ""); }));
}

// The mail program gets subject and body unencoded but for line feeds; the client, asked only
// where mailto: is not chosen, every field, and an end only to a session that was opened.
TEST(SendMail, DisabledWinsMailtoNeedsNoPermissionTheClientAndFormDoAndTheClientGetsEveryField) {
  const struct { int32_t flags; const char* permission; bool available; ULONG logon; const char* send; } cases[] = {
      {MAIL_DISABLED | MAIL_MAILTO, "1", false}, {MAIL_DISABLED | MAIL_MAPI, "1", false}, {MAIL_MAILTO, "0", true},
      {MAIL_MAILTO | MAIL_MAPI, nullptr, true}, {MAIL_MAPI, "0", false}, {MAIL_MAPI, nullptr, false},
      {MAIL_MAPI | MAIL_WEBFORM, "0", false}, {MAIL_WEBFORM | MAIL_DIALOG, "1", false}, {0, "1", false},
      {MAIL_MAPI, "1", true, 0, "0 0 0 0"}, {MAIL_MAPI | MAIL_DIALOG, "1", true, 0, "0 0 8 0"},
      {MAIL_MAPI, "1", true, 3, "0 0 1 0"}, {MAIL_MAPI | MAIL_DIALOG, "1", true, 3, "0 0 9 0"}};
  SchemeStandIn mailProgram("mailto");
  ASSERT_TRUE(mailProgram.Ready());
  for (const auto& c : cases) {  // WIN.INI's [MAIL] MAPI; the client's logon result; session window flags reserved
    SCOPED_TRACE(testing::Message() << c.flags << " " << (c.permission ? c.permission : "none") << " " << c.logon);
    MapiPermission permission(c.permission);
    MapiDouble client(c.logon);
    EXPECT_EQ(c.available, MailMethodAvailable(c.flags));
    SendMail(c.flags, "who@x.y", "Sub & #1", "line 1\nline 2", 2, "C:\\b.txt", "C:\\a.log");
    EXPECT_EQ(!c.send ? "" : std::string("logon 0 null null 0 0\n") + (c.logon ? "" : "logoff 77 0 0 0\n") +
                  "send " + c.send + "\nmessage 0 null null null 0\nsubject 'Sub & #1'\nbody 'line 1\\nline 2'\n"
                  "from 0 0 null null 0 null\nto 0 1 'who@x.y' 'SMTP:who@x.y' 0 null\n"
                  "file 0 0 4294967295 'C:\\b.txt' null null\nfile 0 0 4294967295 'C:\\a.log' null null\n",
              client.Calls());
    if (!c.available || !(c.flags & MAIL_MAILTO)) continue;
    EXPECT_EQ("mailto:who@x.y?subject=Sub & #1&body=line 1%0D%0Aline 2", mailProgram.Received().value_or("-"));
    DeleteFileA((mailProgram.Path() + ".started").c_str());
  }
  EXPECT_FALSE(mailProgram.Received(1500));
  MailTo("who@x.y", "a&b #c");
  EXPECT_EQ("mailto:who@x.y?subject=a&b #c", mailProgram.Received().value_or("-"));
}

// Read from outside; without the client's library (no double, the platform's disabled) none.
TEST(SendMail, ShowsTheClientsFailureInAnErrorBoxAndNothingWithoutItsLibrary) {
  auto run = [](const std::string& folder, const std::string* environment) {
    Process probe = Process::Start("\"" + folder + "mail_probe.exe\" 4", environment, folder);
    return RunToEnd(probe, 20000);
  };
  const std::pair<ULONG, const char*> cases[] = {
      {1, "The user canceled one of the dialog boxes.\nNo message was sent."},
      {2, "\nOne or more unspecified errors occurred while \nreading the message."},
      {21, "A recipient matched more than one of the \nrecipient descriptor structures and MAPI_DIALOG \nwas not "
           "set. No message was sent. "},
      {6, ""}};
  MapiPermission permission("1");
  for (const auto& c : cases) {
    MapiDouble client(0, c.first);
    Outcome outcome = run(BinFolder(), nullptr);
    ASSERT_EQ(1u, outcome.dialogs.size()) << c.first;
    EXPECT_TRUE(outcome.ended && outcome.exitCode == 0 && outcome.dialogs[0].icon) << c.first;
    EXPECT_EQ("Error: " + std::string(c.second), outcome.dialogs[0].caption + ": " + outcome.dialogs[0].text);
  }
  Scratch folder;
  ASSERT_TRUE(CopyFileA((BinFolder() + "mail_probe.exe").c_str(), (folder.Path() + "\\mail_probe.exe").c_str(), 0));
  MapiDouble client;
  std::string environment = EnvironmentBlock({{"WINEDLLOVERRIDES", "mapi32=d"}});
  Outcome outcome = run(folder.Path() + "\\", &environment);
  EXPECT_TRUE(outcome.ended && outcome.exitCode == 0 && outcome.dialogs.empty());
  EXPECT_TRUE(client.Calls().empty());
}

// A line longer than a piece is read as two, the marker in the second counting. The form shipped
// beside the programs is filled in and shown as a file; without one the sending fails naming it.
TEST(FillMailForm, FillsTwoValueFieldsAndTheFirstTextareaOfTheFormShownAsAFile) {
  const std::string name = "mailform_test.htm";
  std::ofstream(name) << "<p>value=\"></p>\n<b>plain</b> line\n<i value=\"> value=\"></i>\n"
                      << "<textarea rows=\"3\" value=\"\">x</textarea>\n<p value=\">\n"
                      << std::string(300, 'a') << "value=\"\n";
  Str copy = FillMailForm(name.c_str(), "who@x.y", "S", "B\nC");
  DeleteFileA(name.c_str());
  const std::string temp = TempFolder().Text();
  ASSERT_EQ(temp + name, copy.Text());
  EXPECT_EQ("<p>value=\"who@x.y\"></p>\n<b>plain</b> line\n<i value=\"S\"> value=\"></i>\n"
            "<textarea rows=\"3\" value=\"\">B\nCx</textarea>\n<p value=\"\">\n" + std::string(300, 'a') +
                "value=\"\"\n", WithoutCr(ReadFileBytes(copy.Text()).value_or("<none>")));
  DeleteFileA(copy);
  MapiPermission permission("1");
  UrlModuleStandIn urlModule;
  SchemeStandIn files("file");
  ASSERT_TRUE(urlModule.Ready() && files.Ready());
  SendMail(MAIL_MAPI | MAIL_WEBFORM, "who@x.y", "Sub", "Body text", 0);
  EXPECT_EQ("file://" + temp + "form.htm", files.Received().value_or("-"));
  std::string form = ReadFileBytes(temp + "form.htm").value_or("");
  DeleteFileA((temp + "form.htm").c_str());
  EXPECT_TRUE(std::regex_search(form, std::regex("value=\"who@x.y\">[\\s\\S]*value=\"Sub\">[\\s\\S]*>Body text<"))) << form;
  Scratch folder;
  SetCurrentDirectoryA(folder.Path().c_str());
  ErrFrame frame;
  EXPECT_TRUE(frame.Try([] { SendMail(MAIL_MAPI | MAIL_WEBFORM, "a", "b", "c", 0); }));
  EXPECT_STREQ("File 'form.htm' not found!", frame.Message());
  SetCurrentDirectoryA(BinFolder().c_str());
}

// Each entry with the subject and body the client gets without a setting, and the one it writes.
const struct { void (*send)(); const char *key, *subject, *body, *written; } kEntries[] = {
    {[] { MailAssertReport("a.cpp", 12, " x", "more"); }, "Assert", "'Asserted at a.cpp 12 x'",
     "'Assertion failed at 'a.cpp' line 12\\r\\nmore'", "Asserted at %s %d%s"},
    {[] { MailSignalReport("SIGABRT", " x", "more"); }, "Signal", "'Signalled SIGABRT x'",
     "'Aborted by signal 'SIGABRT'\\r\\nmore'", "Signalled %s%s"},
    {[] { MailGpfReport("Access violation", 0xBEEF, " x", "more"); }, "GPF",
     "'Gpfed Access violation 0x0000BEEF x'",
     "'General Protection Fault 'Access violation' occured at 0x0000BEEF'\\r\\nmore'", "Gpfed %s 0x%08lX%s"}};

// The client's dialog is asked for after the probe found a default logon; without the client the
// mail program gets recipient and subject only. A subject setting converting more or other
// arguments (a row without subject) is left as it is, the default goes out, and a check fires.
TEST(ReportMailTest, EachEntryMailsItsSubjectAndBodyWithASubjectSettingThatFitsItsArguments) {
  Scratch folder;
  const std::string ini = folder.Path() + "\\narv.ini";
  DefaultTemplate = ("|" + ini + "|%s").c_str();
  auto setting = [&](const char* section, const char* key) {
    char value[512];
    return std::string(value, GetPrivateProfileStringA(section, key, "<missing>", value, sizeof value, ini.c_str()));
  };
  MapiPermission permission("1");
  for (const auto& e : kEntries) {
    MapiDouble client;
    EXPECT_EQ("", FiredCheck(e.send));
    EXPECT_EQ(std::string(e.subject) + " " + e.body + " 0 0 8 0 <none> " + e.written,
              client.Call("subject") + " " + client.Call("body") + " " + client.Call("send") + " " +
                  client.Call("file") + " " + setting("Report", e.key));
  }
  EXPECT_EQ("<missing>", setting("Internet", "MAutomated"));  // the store's text for a missing one goes out
  {
    MapiPermission noClient("0");
    SchemeStandIn mailProgram("mailto");
    ASSERT_TRUE(mailProgram.Ready());
    MapiDouble client;
    MailGpfReport("Access violation", 0x1234ABCD, "", "body");
    EXPECT_EQ("mailto:?subject=Gpfed Access violation 0x1234ABCD", mailProgram.Received().value_or("-"));
    EXPECT_EQ("", setting("Internet", "MAutomated"));
    EXPECT_TRUE(client.Calls().empty());
  }
  {
    MapiDouble client;
    WritePrivateProfileStringA("Internet", "MAutomated", "reports@x.y", ini.c_str());
    MailAssertReport("a.cpp", 12, std::string(200, 'y').c_str(), "");  // cut to 127 characters
    EXPECT_EQ("'Asserted at a.cpp 12" + std::string(107, 'y') + "' 0 1 'reports@x.y' 'SMTP:reports@x.y' 0 null",
              client.Call("subject") + " " + client.Call("to"));
  }

  struct Row { int entry; const char *setting, *subject; };
  std::vector<Row> rows = {{0, "At %s:%d%s!", "'At a.cpp:12 x!'"}, {0, "%-8.3s %5i%% %.20s", "'a.c         12%  x'"},
                           {0, "Crash in %s", "'Crash in a.cpp'"}, {0, "Crashed", "'Crashed'"},
                           {2, "%s at %lX", "'Access violation at BEEF'"}, {1, "%s%s%s"}, {2, "%s %s"}};
  for (const char* bad : {"%n", "%d", "%s %*d%s", "%s %d%s %", "%ls", "%hs", "%ws", "%S", "%s %C"})
    rows.push_back({0, bad, nullptr});
  for (const Row& row : rows) {
    const auto& e = kEntries[row.entry];
    SCOPED_TRACE(row.setting);
    WritePrivateProfileStringA("Report", e.key, row.setting, ini.c_str());
    MapiDouble client;
    EXPECT_EQ(row.subject ? "" : "..\\gen\\err\\ReportMail.cpp:40", FiredCheck(e.send));
    EXPECT_EQ(row.subject ? row.subject : e.subject, client.Call("subject"));
    EXPECT_EQ(row.setting, setting("Report", e.key)) << "left as it was";
  }
  ResetSettings();
}
