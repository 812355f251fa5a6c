#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "gen/File.h"
#include "toolkit/FiredCheck.h"
#include "toolkit/WinTest.h"

namespace {

// A target whose writes really fail: the system's always-full device.
const char kFullDevice[] = "Z:\\dev\\full";

typedef std::function<void()> Action;

// The error an action raised to the program's catch; no code when none.
struct Caught {
  ErrTemplate code = nullptr;
  std::string message;
};

Caught CatchError(const Action& action) {
  ErrFrame frame;
  Caught caught;
  if (frame.Try(action)) caught = {frame.Code(), frame.Message().Text()};
  return caught;
}

ErrTemplate Kind(FileErrorKind kind) { return FileErrorText(kind); }

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
    std::string path = Path(name);
    FileWriteAll(path.c_str(), bytes.data(), bytes.size());
    return path;
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
  const char* cases[][2] = {{"", "rb"},       {"R", "rb"},        {"W", "r+b"},       {"RW", "r+b"},
                            {"WC", "ab"},     {"RWC", "a+b"},     {"WIC", "wb"},      {"RWIC", "w+b"},
                            {"T", "rt"},      {"WCA", "ab"},      {"CIRWMlB", "w+b"}, {"RWICT", "w+t"},
                            {"RrWC", "a+b"},  {"rRWC", "ab"},     {nullptr, "rb"}};
  for (auto& c : cases) EXPECT_STREQ(c[1], FileStreamMode(c[0])) << "mode " << c[0];
  for (const char* none : {"RWI", "WI", "I", "C", "RC"})
    EXPECT_EQ("..\\gen\\File.cpp:57", FiredCheck([&] { FileStreamMode(none); })) << none;
}

TEST(PositionMessage, LeavesOutWhatIsMissingInEightForms) {
  struct Case {
    const char* name;
    int line, column;
    const char* message;
  } cases[] = {{nullptr, -1, -1, "File damaged"},
               {"", -1, 4, "Column 4: File damaged"},
               {"", 3, -1, "Line 3: File damaged"},
               {"", 3, 0, "Line 3/0: File damaged"},
               {"a.ini", -1, -1, "a.ini: File damaged"},
               {"a.ini", -1, 7, "a.ini (column 7): File damaged"},
               {"a.ini", 12, -1, "a.ini (12): File damaged"},
               {"a.ini", 0, 7, "a.ini (0/7): File damaged"}};
  for (const Case& c : cases)
    EXPECT_STREQ(c.message, PositionMessage("File damaged", c.name, c.line, c.column).Text());
}

TEST_F(FileTest, AnUnheldErrorReachesTheCatchNamingFileLineAndColumn) {
  std::string a = Make("a.ini", "1234"), missing = Path("missing.ini"), nowhere = Path("no\\new");
  struct Case {
    Action action;
    FileErrorKind kind;
    std::string message;
  } cases[] = {
      {[&] { File(missing.c_str(), "R"); }, FileErrorKind::kNotFound, missing + ": File not found"},
      {[&] { File(missing.c_str(), "W"); }, FileErrorKind::kNotFound, missing + ": File not found"},
      {[&] { File(nowhere.c_str(), "WC"); }, FileErrorKind::kCantCreate,
       nowhere + ": Can't create file"},
      {[&] {
         File file(a.c_str(), "R");
         file.SetLine(12);
         file.Raise(FileErrorKind::kDamaged);
       },
       FileErrorKind::kDamaged, a + " (12): File damaged"},
      {[&] {
         File file(a.c_str(), "R");
         file.SetLine(2);
         file.SetColumn(5);
         file.Read(8);
       },
       FileErrorKind::kTooShort, a + " (2/5): File is too short"},
      {[&] { File(a.c_str(), "R").Seek(-1, SEEK_SET); }, FileErrorKind::kSeekError,
       a + ": File seek error"},
  };
  for (const Case& c : cases) {
    Caught caught = CatchError(c.action);
    EXPECT_EQ(Kind(c.kind), caught.code);
    EXPECT_EQ(c.message, caught.message);
  }
}

TEST_F(FileTest, HeldErrorsWaitUntilTakenReleasedOrTheNextOperation) {
  std::string missing = Path("missing.ini"), four = Make("four", "1234");
  Caught taken = CatchError([&] {
    File file(missing.c_str(), "X");
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.TakeHeldError(FileErrorKind::kTooShort));
    EXPECT_TRUE(file.TakeHeldError(FileErrorKind::kNotFound));
  });
  EXPECT_EQ(nullptr, taken.code);
  EXPECT_EQ(missing + ": File not found", CatchError([&] { File(missing.c_str(), "RX"); }).message);
  Caught next = CatchError([&] {
    File file(four.c_str(), "X");
    file.Read(8);
    EXPECT_EQ(FileErrorKind::kTooShort, file.HeldError());
    file.Position();
    ADD_FAILURE() << "went on past a held error";
  });
  EXPECT_EQ(Kind(FileErrorKind::kTooShort), next.code);
  File file(four.c_str(), "R");
  file.HoldErrors();
  file.HoldErrors();
  EXPECT_FALSE(file.ReadRest(5, 100).IsHeld());
  EXPECT_EQ(nullptr, CatchError([&] { file.ReleaseErrors(); }).code);
  EXPECT_EQ(Kind(FileErrorKind::kTooShort), CatchError([&] { file.ReleaseErrors(); }).code);
  EXPECT_TRUE(file.IsOpen());
}

TEST_F(FileTest, MisuseFailsTheChecksOfTheModule) {
  std::string four = Make("four", "1234"), missing = Path("missing");
  struct Case {
    int line;
    Action action;
  } cases[] = {
      {35, [&] { File(four.c_str(), "R").Open(four.c_str(), "R"); }},
      {123, [&] { File(four.c_str(), "R").Read(nullptr, 1); }},
      {172, [&] { File(four.c_str(), "R").Truncate(); }},
      {253, [&] { File(missing.c_str(), "X").Raise(FileErrorKind::kDamaged); }},
      {283, [&] { File().Position(); }},
      {286, [&] { File(missing.c_str(), "X").HoldErrors(); }},
      {291, [&] { File(four.c_str(), "R").ReleaseErrors(); }},
  };
  for (const Case& c : cases)
    EXPECT_EQ("..\\gen\\File.cpp:" + std::to_string(c.line), FiredCheck(c.action));
}

TEST_F(FileTest, ReadsWritesSeeksAndCutsWithinOneFile) {
  std::string path = Path("data");
  File file(path.c_str(), "CIRW");
  file.Write("0123456789", 10);
  EXPECT_EQ(3u, file.WriteText("abc"));
  EXPECT_EQ(4u, file.Print("%d-%c", 42, 'x'));
  EXPECT_EQ(17, file.Position());
  EXPECT_EQ(0, file.Size());  // still in the stream's buffer
  file.Flush();
  EXPECT_EQ(17, file.Size());
  file.Seek(2, SEEK_SET);
  EXPECT_EQ("234", Bytes(file.Read(3)));
  EXPECT_EQ(12u, file.Remaining());
  file.Seek(-2, SEEK_END);
  ByteBlock last;
  last.Allocate(2);
  file.ReadInto(last);
  EXPECT_EQ("-x", Bytes(last));
  EXPECT_TRUE(file.AtEnd());
  file.Seek(5, SEEK_CUR);
  EXPECT_EQ(0u, file.Remaining());
  file.Seek(4, SEEK_SET);
  file.Truncate();
  EXPECT_EQ(4, file.Size());
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ("0123", ReadFileBytes(path).value_or("?"));
}

TEST_F(FileTest, WholeFileReadsTakeTheRestBelowTheMaximumAndAddTheTail) {
  std::string ten = Make("ten", "0123456789"), empty = Make("empty", "");
  struct Case {
    uint32_t minimum, maximum;
    FileErrorKind kind;
  } cases[] = {{0, 11, FileErrorKind::kNone},
               {10, 11, FileErrorKind::kNone},
               {11, 20, FileErrorKind::kTooShort},
               {0, 10, FileErrorKind::kTooLong},
               {0, 0xFFFFFFFF, FileErrorKind::kNone}};
  for (const Case& c : cases) {
    ByteBlock content;
    Caught caught =
        CatchError([&] { content = FileReadAll(ten.c_str(), c.minimum, c.maximum, "!"); });
    EXPECT_EQ(Kind(c.kind), caught.code) << c.minimum << ".." << c.maximum;
    EXPECT_EQ(caught.code ? "" : "0123456789!", Bytes(content));
  }
  EXPECT_STREQ("0123456789\n", FileReadText(ten.c_str(), 0, 100, "\n").Text());
  EXPECT_TRUE(FileReadText(empty.c_str(), 0, 100, "").IsSharedEmpty());
}

TEST_F(FileTest, ModeLettersAppendTranslateEmptyAndDelete) {
  std::string path = Make("log", "abc");
  {
    File append(path.c_str(), "WC");
    append.Seek(0, SEEK_SET);
    append.WriteText("de");
  }
  EXPECT_EQ("abcde", ReadFileBytes(path).value_or("?"));
  File(path.c_str(), "CIWT").WriteText("a\nb");
  EXPECT_EQ("a\r\nb", ReadFileBytes(path).value_or("?"));
  File(path.c_str(), "RD").Close();
  EXPECT_FALSE(FileExists(path.c_str()));
  File(path.c_str(), "WIC");
  EXPECT_EQ("", ReadFileBytes(path).value_or("?"));
}

TEST_F(FileTest, ReadersShareAFileAWriterHasItAlone) {
  std::string path = Make("shared", "abc");
  {
    File first(path.c_str(), "R"), second(path.c_str(), "R");
    EXPECT_TRUE(first.IsOpen() && second.IsOpen());
    EXPECT_EQ(Kind(FileErrorKind::kNotFound), CatchError([&] { File(path.c_str(), "W"); }).code);
  }
  File writer(path.c_str(), "W");
  EXPECT_EQ(Kind(FileErrorKind::kCantCreate), CatchError([&] { File(path.c_str(), "WC"); }).code);
  EXPECT_EQ(Kind(FileErrorKind::kNotFound), CatchError([&] { File(path.c_str(), "R"); }).code);
}

TEST_F(FileTest, FailedWritesAndClosesAreNeverSilent) {
  std::string big(4096, 'x');
  EXPECT_EQ(std::string(kFullDevice) + ": Disk full on file write",
            CatchError([&] { File(kFullDevice, "W").WriteText(big.c_str()); }).message);
  EXPECT_EQ(Kind(FileErrorKind::kDiskFull),
            CatchError([&] { FileWriteAll(kFullDevice, big.data(), big.size()); }).code);
  // Bytes that fit the stream's buffer fail when it is written out.
  File buffered(kFullDevice, "W");
  buffered.WriteText("fits the buffer");
  EXPECT_EQ(Kind(FileErrorKind::kCannotClose), CatchError([&] { buffered.Close(); }).code);
  EXPECT_FALSE(buffered.IsOpen());
  EXPECT_EQ(Kind(FileErrorKind::kCannotClose),
            CatchError([&] { File(kFullDevice, "W").WriteText("at destruction"); }).code);
}

TEST_F(FileTest, EveryFailureLetsGoOfTheFile) {
  std::string ten = Make("ten", "0123456789");
  Action failures[] = {
      [&] { FileReadAll(ten.c_str(), 0, 5); },
      [&] { FileReadText(ten.c_str(), 11, 100); },
      [&] { File(ten.c_str(), "RX").ReadRest(0, 5); },
      [&] { File(ten.c_str(), "W").Seek(-1, SEEK_SET); },
  };
  for (auto& failure : failures) {
    EXPECT_NE(nullptr, CatchError(failure).code);
    EXPECT_TRUE(NobodyHolds(ten));
  }
}

TEST_F(FileTest, FilesOf2GiBOrMoreAreRefusedNeverWrapped) {
  std::string huge = MakeSparse("huge", kFileSizeLimit + 1);
  EXPECT_EQ(huge + ": File is too long", CatchError([&] { File(huge.c_str(), "RD"); }).message);
  EXPECT_TRUE(FileExists(huge.c_str()));
  EXPECT_TRUE(NobodyHolds(huge));

  const int32_t nearly = static_cast<int32_t>(kFileSizeLimit - 15);
  File file(MakeSparse("edge", nearly).c_str(), "W");
  file.Write("<", 1);  // leaves room for a long way from the start
  file.Seek(0, SEEK_END);
  EXPECT_EQ(Kind(FileErrorKind::kSeekError), CatchError([&] { file.Seek(16, SEEK_CUR); }).code);
  EXPECT_EQ(nearly, file.Position());
  EXPECT_EQ(Kind(FileErrorKind::kTooLong),
            CatchError([&] { file.Write("0123456789abcdef", 16); }).code);
  file.Write("0123456789abcde", 15);
  file.Close();

  // An append stream writes behind what it still buffers.
  File append(MakeSparse("append", nearly).c_str(), "WC");
  append.Write("0123456789abcde", 15);
  EXPECT_EQ(Kind(FileErrorKind::kTooLong), CatchError([&] { append.Write("f", 1); }).code);
}

TEST_F(FileTest, CopyPartCopiesFromThePositionUpToTheMaximum) {
  std::string bytes(100000, '\0');
  std::mt19937 random(7);
  for (char& byte : bytes) byte = static_cast<char>(random());
  std::string from = Make("from", bytes), to = Path("to");
  std::string tooShort = from + ": File is too short";
  struct Case {
    int32_t start;
    uint32_t minimum, maximum, copied;
    std::string message;
  } cases[] = {{0, 0, 0xFFFFFFFF, 100000, ""},
               {1000, 99000, 0xFFFFFFFF, 99000, ""},
               {10, 0, 5, 5, ""},
               {0, 100001, 0xFFFFFFFF, 0, tooShort}};
  for (const Case& c : cases) {
    Caught caught = CatchError([&] {
      File source(from.c_str(), "R"), destination(to.c_str(), "CIW");
      source.Seek(c.start, SEEK_SET);
      FileCopyPart(destination, source, c.minimum, c.maximum);
    });
    EXPECT_EQ(c.message, caught.message);
    EXPECT_EQ(bytes.substr(c.start, c.copied), ReadFileBytes(to).value_or("?"));
  }
}

TEST_F(FileTest, DeleteRaisesWithTheNameWhenTheFileCannotGo) {
  std::string path = Make("gone", "x");
  FileDelete(path.c_str());
  EXPECT_FALSE(FileExists(path.c_str()));
  Caught caught = CatchError([&] { FileDelete(path.c_str()); });
  EXPECT_EQ(Kind(FileErrorKind::kCannotDelete), caught.code);
  EXPECT_EQ(path + ": Cannot delete file", caught.message);
}

namespace {

// zlib's CRC is the same checksum with the start and result complemented.
uint32_t ZlibCrc(const unsigned char* data, size_t size, uint32_t start) {
  return ~crc32(~start, data, size) & 0xFFFFFFFF;
}

}  // namespace

TEST(Crc32, KnownValuesFromTheCallersStart) {
  struct Case {
    const char* text;
    uint32_t start, crc;
  } cases[] = {{"", 0x12345678, 0x12345678},
               {"abc", 0xFFFFFFFF, 0xCADBBE3D},
               {"123456789", 0xFFFFFFFF, 0x340BC6D9},
               {"123456789", 0x12345678, 0xE7FD94D5}};
  for (const Case& c : cases)
    EXPECT_EQ(c.crc, Crc32(c.text, c.text + strlen(c.text), c.start)) << c.text;
}

TEST(Crc32, MatchesZlibAtEveryAlignmentAndLengthAndChainsOverPieces) {
  std::mt19937 random(1);
  std::vector<unsigned char> data(1 << 20);
  for (unsigned char& byte : data) byte = static_cast<unsigned char>(random());
  auto check = [&](size_t offset, size_t size) {
    const unsigned char* begin = &data[offset];
    uint32_t start = random();
    uint32_t whole = Crc32(begin, begin + size, start);
    ASSERT_EQ(ZlibCrc(begin, size, start), whole) << offset << "+" << size;
    size_t split = random() % (size + 1);
    ASSERT_EQ(whole, Crc32(begin + split, begin + size, Crc32(begin, begin + split, start)))
        << offset << "+" << split << "+" << size - split;
  };
  for (size_t offset = 0; offset < 8; ++offset)
    for (size_t size = 0; size <= 200; ++size) check(offset, size);
  for (int round = 0; round < 40; ++round) {
    size_t offset = random() % 64;
    check(offset, random() % (data.size() - offset));
  }
}
