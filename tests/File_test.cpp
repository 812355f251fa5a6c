#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "gen/File.h"
#include "toolkit/FiredCheck.h"
#include "toolkit/WinTest.h"

namespace {

// A target whose writes really fail: the system's always-full device.
const std::string kFull = "Z:\\dev\\full";

typedef std::function<void()> Action;

// The message of the error an action raised, "" when none; marked when the
// error does not carry a file error kind's own text as its identity.
std::string Failure(const Action& action) {
  ErrFrame frame;
  if (!frame.Try(action)) return "";
  bool kind = false;
  for (int k = 1; k <= kFileErrorKindCount; ++k)
    kind |= frame.Code() == FileErrorText(FileErrorKind(k));
  return (kind ? "" : "not a file error: ") + std::string(frame.Message().Text());
}

// A handle left open anywhere keeps others from opening the file alone.
bool NobodyHolds(const std::string& path) {
  return static_cast<bool>(Handle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                              nullptr, OPEN_EXISTING, 0, nullptr)));
}

std::string Bytes(const ByteBlock& block) { return std::string(block.Begin(), block.Size()); }

class FileTest : public testing::Test {
 protected:
  std::string Path(const char* name) const { return folder_.Path() + "\\" + name; }
  std::string Make(const char* name, const std::string& bytes) {
    FileWriteAll(Path(name).c_str(), bytes.data(), bytes.size());
    return Path(name);
  }
  // A file of `size` bytes that takes no room on the disk.
  std::string MakeSparse(const char* name, int64_t size) {
    std::string path = Path(name);
    Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    LARGE_INTEGER end;
    end.QuadPart = size;
    EXPECT_TRUE(SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(file.Get()));
    return path;
  }
  TempFolder folder_;
};

}  // namespace

TEST(FileStreamMode, TheFirstOfALetterAndItsPartnerDecidesAndAppendChangesNothing) {
  const char* cases[][2] = {{"", "rb"},     {"R", "rb"},       {"W", "r+b"},     {"RW", "r+b"},
                            {"WC", "ab"},   {"RWC", "a+b"},    {"WIC", "wb"},    {"RWIC", "w+b"},
                            {"T", "rt"},    {"CIWT", "wt"},    {"WCA", "ab"},    {"CIRWMlB", "w+b"},
                            {"RrWC", "a+b"}, {"rRWC", "ab"},   {"RWICT", "w+t"}, {nullptr, "rb"}};
  for (auto& c : cases) EXPECT_STREQ(c[1], FileStreamMode(c[0])) << "mode " << c[0];
  for (const char* none : {"RWI", "WI", "I", "C", "RC"})
    EXPECT_EQ("..\\gen\\File.cpp:57", FiredCheck([&] { FileStreamMode(none); })) << none;
}

TEST(FileErrorText, FourteenKindsInTheirFixedOrder) {
  std::string texts;
  for (int kind = 0; kind <= kFileErrorKindCount + 1; ++kind)
    texts += std::string(FileErrorText(FileErrorKind(kind)) ?: "-") + "|";
  EXPECT_EQ("-|File is too short|File is too long|Disk full on file write|File seek error|"
            "Can't create file|Bad file name|File not found|File is invalid|File damaged|"
            "File is empty|File format is not supported|Cannot delete file|Cannot flush file|"
            "Cannot close file|-|", texts);
}

TEST(PositionMessage, LeavesOutWhatIsMissingInEightForms) {
  const struct {
    const char* name;
    int line, column;
    const char* message;
  } cases[] = {{nullptr, -1, -1, "X"}, {"", -1, 4, "Column 4: X"}, {"", 3, -1, "Line 3: X"},
               {"", 3, 0, "Line 3/0: X"}, {"a.ini", -1, -1, "a.ini: X"},
               {"a.ini", -1, 7, "a.ini (column 7): X"}, {"a.ini", 12, -1, "a.ini (12): X"},
               {"a.ini", 0, 7, "a.ini (0/7): X"}};
  for (const auto& c : cases)
    EXPECT_STREQ(c.message, PositionMessage("X", c.name, c.line, c.column).Text());
}

// Readers share a file, a writer has it alone; bytes still in the stream's
// buffer fail when they are written out, at the latest on destruction.
TEST_F(FileTest, AnUnheldErrorReachesTheCatchNamingFileLineAndColumnAndLetsGoOfTheFile) {
  std::string a = Make("a.ini", "1234"), missing = Path("missing.ini"), nowhere = Path("no\\new");
  const std::pair<Action, std::string> cases[] = {
      {[&] { File one(a.c_str(), "R"), two(a.c_str(), "R"); two.Raise(FileErrorKind::kDamaged); },
       a + ": File damaged"},
      {[&] { File reader(a.c_str(), "R"); File(a.c_str(), "W"); }, a + ": File not found"},
      {[&] { File writer(a.c_str(), "W"); File(a.c_str(), "R"); }, a + ": File not found"},
      {[&] { File(kFull.c_str(), "W").WriteText(std::string(4096, 'x').c_str()); },
       kFull + ": Disk full on file write"},
      {[&] { File(kFull.c_str(), "W").WriteText("x"); }, kFull + ": Cannot close file"},
      {[&] { File(missing.c_str(), "R"); }, missing + ": File not found"},
      {[&] { File(missing.c_str(), "W"); }, missing + ": File not found"},
      {[&] { File(nowhere.c_str(), "WC"); }, nowhere + ": Can't create file"},
      {[&] { File f(a.c_str(), "R"); f.SetLine(2); f.SetColumn(5); f.Read(8); },
       a + " (2/5): File is too short"},
      {[&] { File(a.c_str(), "W").Seek(-1, SEEK_SET); }, a + ": File seek error"},
      {[&] { FileReadAll(a.c_str(), 0, 4); }, a + ": File is too long"},
      {[&] { File(a.c_str(), "RX").ReadRest(5, 100); }, a + ": File is too short"}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.second, Failure(c.first));
    EXPECT_TRUE(NobodyHolds(a));
  }
  File buffered(kFull.c_str(), "W");
  buffered.WriteText("x");
  EXPECT_EQ(kFull + ": Cannot close file", Failure([&] { buffered.Close(); }));
  EXPECT_FALSE(buffered.IsOpen());
}

TEST_F(FileTest, HeldErrorsWaitUntilTakenReleasedOrTheNextOperation) {
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
}

TEST_F(FileTest, MisuseFailsTheChecksOfTheModule) {
  std::string four = Make("four", "1234"), missing = Path("missing");
  const std::pair<int, Action> cases[] = {
      {35, [&] { File(four.c_str(), "R").Open(four.c_str(), "R"); }},
      {123, [&] { File(four.c_str(), "R").Read(nullptr, 1); }},
      {172, [&] { File(four.c_str(), "R").Truncate(); }},
      {253, [&] { File(missing.c_str(), "X").Raise(FileErrorKind::kDamaged); }},
      {283, [&] { File().Position(); }},
      {286, [&] { File(missing.c_str(), "X").HoldErrors(); }},
      {291, [&] { File(four.c_str(), "R").ReleaseErrors(); }}};
  for (const auto& c : cases)
    EXPECT_EQ("..\\gen\\File.cpp:" + std::to_string(c.first), FiredCheck(c.second));
}

TEST_F(FileTest, ReadsWritesSeeksAndCutsWithinOneFile) {
  File file(Path("data").c_str(), "CIRW");
  file.Write("0123456789", 10);
  std::ostringstream seen;  // the first size leaves out what the stream still buffers
  seen << file.WriteText("abc") << file.Print("%d-%c", 42, 'x') << " " << file.Position() << "/"
       << file.Size();
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
}

TEST_F(FileTest, WholeFileReadsTakeTheRestBelowTheMaximumAndAddTheTail) {
  std::string ten = Make("ten", "0123456789"), empty = Make("empty", "");
  EXPECT_EQ("0123456789!", Bytes(FileReadAll(ten.c_str(), 10, 11, "!")));  // both limits at edge
  EXPECT_EQ(ten + ": File is too short", Failure([&] { FileReadText(ten.c_str(), 11, 20); }));
  EXPECT_STREQ("0123456789\n", FileReadText(ten.c_str(), 0, 100, "\n").Text());
  EXPECT_TRUE(FileReadText(empty.c_str(), 0, 100, "").IsSharedEmpty());
}

TEST_F(FileTest, AppendsAtTheEndDeletesOnCloseOrRaisesWithTheName) {
  std::string path = Make("log", "abc");
  {
    File append(path.c_str(), "WC");
    append.Seek(0, SEEK_SET);
    append.WriteText("de");
  }
  EXPECT_EQ("abcde", ReadFileBytes(path).value_or("?"));
  File(path.c_str(), "RD").Close();
  EXPECT_FALSE(FileExists(path.c_str()));
  EXPECT_EQ(path + ": Cannot delete file", Failure([&] { FileDelete(path.c_str()); }));
  FileDelete(Make("gone", "x").c_str());
  EXPECT_FALSE(FileExists(Path("gone").c_str()));
}

TEST_F(FileTest, FilesOf2GiBOrMoreAreRefusedNeverWrapped) {
  std::string huge = MakeSparse("huge", kFileSizeLimit + 1);
  EXPECT_EQ(huge + ": File is too long", Failure([&] { File(huge.c_str(), "RD"); }));
  EXPECT_TRUE(FileExists(huge.c_str()) && NobodyHolds(huge));

  const int32_t nearly = static_cast<int32_t>(kFileSizeLimit - 15);
  std::string edge = MakeSparse("edge", nearly), appended = MakeSparse("append", nearly);
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

TEST_F(FileTest, CopyPartCopiesFromThePositionUpToTheMaximum) {
  std::string bytes(100000, '\0');
  std::mt19937 random(7);
  for (char& byte : bytes) byte = static_cast<char>(random());
  std::string from = Make("from", bytes), to = Path("to");
  // start, minimum, maximum, bytes copied; nothing copied: too short.
  const uint32_t cases[][4] = {{0, 0, ~0u, 100000},  // 61440 and 38560 bytes
                               {1000, 99000, ~0u, 99000}, {10, 0, 5, 5}, {0, 100001, ~0u, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(c[3] ? "" : from + ": File is too short", Failure([&] {
      File source(from.c_str(), "R"), destination(to.c_str(), "CIW");
      source.Seek(c[0], SEEK_SET);
      FileCopyPart(destination, source, c[1], c[2]);
    }));
    EXPECT_EQ(bytes.substr(c[0], c[3]), ReadFileBytes(to).value_or("?"));
  }
}

// zlib's CRC is the same checksum with the start and the result complemented.
TEST(Crc32, MatchesZlibFromTheCallersStartAtEveryAlignmentAndLength) {
  const char abc[] = "abc";
  EXPECT_EQ(0xCADBBE3Du, Crc32(abc, abc + 3, 0xFFFFFFFF));
  std::mt19937 random(1);
  std::vector<unsigned char> data(1 << 20);
  for (unsigned char& byte : data) byte = static_cast<unsigned char>(random());
  auto check = [&](size_t offset, size_t size) {
    const unsigned char* begin = &data[offset];
    uint32_t start = random();
    ASSERT_EQ(~crc32(~start, begin, size) & 0xFFFFFFFF, Crc32(begin, begin + size, start))
        << offset << "+" << size;
  };
  for (size_t offset = 0; offset < 8; ++offset)
    for (size_t size = 0; size <= 200; ++size) check(offset, size);
  // Around and well past three lanes of 4096 bytes, joined after each three.
  for (size_t size : {12287, 12288, 12295, 40000, 1000000}) check(5, size);
}
