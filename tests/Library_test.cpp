// Bounded buffers, texts, arrays, memory and the Windows description; from
// outside, a probe's crash report on the Windows Wine pretends for it.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "gen/Array.h"
#include "gen/StrBuilder.h"
#include "gen/err/errgpfse.h"
#include "mania/Bounded.h"
#include "mania/Winver.h"
#include "toolkit/FiredCheck.h"
#include "toolkit/Probe.h"

namespace {

std::string Text(StrView view) { return std::string(view.text, view.Length()); }

size_t BlockSize(const void* block) { return HeapSize(guardState.privateHeap, 0, block); }

typedef BoundedResult (*Routine)(char*, uint32_t, const char*);
BoundedResult Format(char* dest, uint32_t capacity, const char* text) {
  return BoundedFormat(dest, capacity, "%s", text);
}

ByteBlock Held(uint32_t size) {
  ByteBlock block;
  block.Allocate(size);
  return block;
}

typedef std::pair<const char*, std::function<void()>> Misuse;

// Every occurrence, left to right, never searching the replacements.
std::string ReferenceReplace(std::string text, const std::string& searched,
                             const std::string& replacement) {
  for (size_t at = text.find(searched); at != std::string::npos;
       at = text.find(searched, at + replacement.size()))
    text.replace(at, searched.size(), replacement);
  return text;
}

const WORD kIntel = 0, kItanium = 6, kAmd64 = 9, kArm = 5;
const BYTE kWorkstation = 1, kController = 2, kServer = 3;

WindowsFacts Nt(DWORD major, DWORD minor, const char* servicePack, WORD suite, BYTE productType,
                WORD architecture, DWORD edition = 0, bool r2 = false, DWORD build = 1234) {
  return {2, major, minor, build, servicePack, suite, productType, architecture, edition, r2};
}

std::string Release(const std::string& release) { return "Microsoft Windows " + release + " (build 1234)"; }

// The long text, or "-" when there is none; the buffer must then be
// untouched, and what follows it always is.
std::string Described(const WindowsFacts& facts) {
  struct { char buffer[kWindowsDescriptionSize], after[16]; } out;
  memset(&out, '#', sizeof out);
  bool composed = ComposeWindowsDescription(facts, out.buffer);
  std::string kept(composed ? out.after : out.buffer, composed ? sizeof out.after : sizeof out);
  EXPECT_EQ(std::string(kept.size(), '#'), kept);
  return composed ? std::string(out.buffer, strnlen(out.buffer, sizeof out.buffer)) : "-";
}

std::string Field(const std::string& out, const std::string& name) {
  size_t start = out.find(name + "=") + name.size() + 1;
  return out.substr(start, out.find('\n', start) - start);
}

}  // namespace

// Written at offset 8 of a 64-byte buffer (no terminator if no `start`): only
// the text and its terminator change; nothing if there is no `text`.
TEST(Bounded, CapacityMinusOneFitsMoreIsCutAndStillTerminated) {
  const BoundedResult kOk = kBoundedOk, kCut = kBoundedTruncated, kInvalid = kBoundedInvalid;
  const struct { Routine routine; uint32_t capacity; const char *start, *source; BoundedResult result;
                 const char* text; } rows[] = {
      {Format, 5, "", "abcd", kOk, "abcd"},           {Format, 5, "", "abcde", kCut, "abcd"},
      {Format, 5, "", "12", kOk, "12"},               {Format, 1, "", "x", kCut, ""},
      {BoundedCopy, 4, "", "abc", kOk, "abc"},        {BoundedCopy, 4, "", "abcd", kCut, "abc"},
      {BoundedCopy, 1, "", "", kOk, ""},              {BoundedAppend, 6, "ab", "cde", kOk, "abcde"},
      {BoundedAppend, 6, "ab", "cdef", kCut, "abcde"}, {BoundedAppend, 6, "abcde", "", kOk, "abcde"},
      {Format, 0, nullptr, "x", kInvalid},        {Format, 0x80000000, nullptr, "x", kInvalid},
      {BoundedCopy, 0, nullptr, "x", kInvalid},   {BoundedAppend, 0x80000000, nullptr, "x", kInvalid},
      {BoundedAppend, 0, nullptr, "x", kInvalid}, {BoundedAppend, 4, nullptr, "x", kInvalid},
  };
  for (const auto& row : rows) {
    std::string buffer(64, '#'), expected = row.text ? std::string(8, '#') + row.text + '\0' : "";
    if (row.start) strcpy(&buffer[8], row.start);
    EXPECT_EQ(row.result, row.routine(&buffer[8], row.capacity, row.source)) << row.source;
    expected.resize(64, '#');
    EXPECT_EQ(expected, buffer) << row.source;
  }
  uint32_t length = 99;
  EXPECT_EQ(kBoundedInvalid, BoundedLength("abc", 3, &length));
  EXPECT_EQ(0u, length);
  EXPECT_EQ(kBoundedOk, BoundedLength("abc", kBoundedMaxCapacity, &length));
  EXPECT_EQ(3u, length);
  EXPECT_EQ(kBoundedOk, BoundedLength("", 1, nullptr));
}

// An owner holds exactly its length + 1 bytes, and may take a part of itself.
TEST(Str, EmptiesShareOneTextOwnersHoldTheirOwnBytes) {
  Str unset, view(StrView("a\0bcd", 4)), formatted = Str::Format("%s-%d", "a", 12);
  Str a("text"), b(a), s("hello world");
  EXPECT_EQ(nullptr, unset.Text());
  // Built in place, not copied: a copy would hide an allocated empty text.
  const Str empties[] = {Str(static_cast<const char*>(nullptr)), Str(""), Str(StrView("abc", 0)),
                         Str(StrView(nullptr, 5)), Str(unset), Str::Format("%s", "")};
  for (const Str& empty : empties) EXPECT_EQ(Str::SharedEmpty(), empty.Text());
  EXPECT_EQ(std::string("a\0bc\0a-12\0", 10), std::string(view.Text(), 5) + formatted.Text() + '\0');
  EXPECT_EQ(10u, BlockSize(view.Text()) + BlockSize(formatted.Text()));
  b.Text()[0] = 'n';
  EXPECT_STREQ("text", a.Text());
  a = b;
  EXPECT_NE(a.Text(), b.Text());
  EXPECT_STREQ("next", a.Text());
  s = *&s;
  s = s.Text() + 4;
  s = StrView(s.Text() + 1, 4);
  EXPECT_STREQ(" wor", s.Text());
  EXPECT_EQ(5u, BlockSize(s.Text()));
}

TEST(FormatStatic, ChecksTextsNearTheBufferEnd) {
  std::string fits(199979, 'x'), tooLong(199980, 'y');
  EXPECT_EQ("", FiredCheck([&] { EXPECT_EQ(fits, Str::Format("%s", fits.c_str()).Text()); }));
  EXPECT_EQ("..\\gen\\Statbuf.cpp:14", FiredCheck([&] { Str::Format("%s", tooLong.c_str()); }));
}

// An empty result is the shared empty text. Mid and the range view cut the
// end to the length first, then the start to the end.
TEST(StrOps, CutsClampsJoinsAndEditsCharacters) {
  const struct { Str result; const char* expected; } cases[] = {
      {Left("abc", 2), "ab"},       {Left("abc", 7), "abc"},  {Left("abc", 0), ""},
      {Right("abc", 2), "bc"},      {Right("abc", 9), "abc"}, {Right("abc", 0), ""},
      {Right("", 3), ""},           {Left(Str(), 3), ""},     {Mid("abcdef", 2, 4), "cd"},
      {Mid("abcdef", 4, 99), "ef"}, {Mid("abcdef", 5, 3), ""}, {Str(RangeView("abcdef", 4, 99)), "ef"},
      {Str(RangeView("abcdef", 9, 12)), ""}, {Str(RangeView("abcdef", 3, 1)), ""},
      {Concat("ab", StrView("cdXX", 2)), "abcd"}, {Concat("", StrView()), ""},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(c.expected, c.result.Text());
    EXPECT_EQ(*c.expected ? strlen(c.expected) + 1 : 0,
              c.result.IsSharedEmpty() ? 0 : BlockSize(c.result.Text())) << c.expected;
  }
  Str text("A/B/c\xC4");
  char* before = text.Text();
  ReplaceChar(text, '/', '\\');
  EXPECT_EQ(&text, &ToLower(text));
  EXPECT_EQ(before, text.Text());
  EXPECT_STREQ("a\\b\\c\xC4", text.Text());  // the runtime's mapping: ASCII only
}

// Overlapping, repeated, shrinking, growing and emptying replacements, long
// and short pieces, on a three-letter alphabet; no occurrence: same block.
TEST(StrOps, ReplaceMatchesAReference) {
  Str own("one two");
  Replace(own, "two", StrView(own.Text(), 3));  // replacement taken from the text itself
  Replace(own, "", "x");
  Replace(own, StrView("e\0", 2), "x");  // the terminator is no part of the text
  EXPECT_STREQ("one one", own.Text());
  std::mt19937 random(31337);
  auto word = [&](size_t minLength, size_t maxLength) {
    std::string text(minLength + random() % (maxLength - minLength + 1), ' ');
    for (char& c : text) c = "abc"[random() % 3];
    return text;
  };
  for (int round = 0; round < 2000; ++round) {
    // Every hundredth round, a result that could grow far: counted first.
    bool longRound = round % 100 == 0;
    std::string text = longRound ? word(5000, 6000) : word(0, round % 10 ? 40 : 300);
    std::string searched = word(1, longRound ? 1 : 3), replacement = word(longRound ? 4 : 0, 4);
    Str s(text.c_str());
    char* before = s.Text();
    Replace(s, searched.c_str(), replacement.c_str());
    if (text.find(searched) == std::string::npos) ASSERT_EQ(before, s.Text()) << text;
    std::string expected = ReferenceReplace(text, searched, replacement);
    ASSERT_EQ(expected, s.Text()) << text << " / " << searched << " / " << replacement;
    ASSERT_EQ(expected.empty() ? 0 : expected.size() + 1,
              s.IsSharedEmpty() ? 0 : BlockSize(s.Text())) << text << " / " << searched;
  }
}

TEST(StrOps, TrimBlanksEqualsAndFindByKey) {
  EXPECT_EQ("a b|\ta \t", std::string(TrimBlanks("  a b  ")) + "|" + TrimBlanks(" \ta \t ").Text());
  EXPECT_TRUE(TrimBlanks("    ").IsSharedEmpty());
  const struct { StrView a, b; bool equal; } cases[] = {
      {"abc", "abc", true}, {"abc", "abd", false}, {"ab", "abc", false}, {StrView(), "", true},
      {StrView(nullptr, 4), StrView("xy", 0), true},
      {StrView("a\0x", 3), StrView("a\0y", 3), true},  // the comparison ends at a zero byte
  };
  for (const auto& c : cases) EXPECT_EQ(c.equal, Equals(c.a, c.b)) << Text(c.a) << "|" << Text(c.b);
  const std::pair<const char*, int> table[] = {{"alpha", 1}, {nullptr, 2}, {"Beta", 3}, {"beta", 4}};
  auto name = [](const std::pair<const char*, int>& entry) { return entry.first; };
  EXPECT_EQ(4, FindByKey(table, table + 4, name, "beta")->second);
  EXPECT_EQ(nullptr, FindByKey(table, table + 4, name, "BETA"));
  EXPECT_EQ(nullptr, FindByKey(table, table + 4, name, nullptr));
  EXPECT_EQ(1, RequireByKey(table, table + 4, name, "alpha")->second);
}

TEST(StrOps, EveryCheckReportsItsLine) {
  static const char text[] = "abcdef";
  static const StrView whole(text, 6), inner(text + 2, 2);
  static const char* const keys[] = {"x"};
  const Misuse misuses[] = {
      {"Str.cpp:121", [] { StrBuilder().AppendText("x"); }}, {"Str.cpp:181", [] { RequireNonEmpty(Str("")); }},
      {"Str.cpp:128", [] { StrBuilder().Init(kArrayLimit); }}, {"Str.cpp:181", [] { RequireNonEmpty(Str()); }},
      {"Str.cpp:185", [] { RequireText(static_cast<const char*>(nullptr)); }},
      {"Str.cpp:189", [] { char empty[1] = ""; RequireText(empty); }},
      {"Str.cpp:201", [] { RequireByKey(keys, keys + 1, [](const char* key) { return key; }, "y"); }},
      {"Str.cpp:224", [] { HeadUpTo(inner, text + 5); }}, {"Str.cpp:224", [] { HeadUpTo(inner, text + 1); }},
      {"Str.cpp:230", [] { TailAfter(inner, whole); }},  {"Str.cpp:235", [] { RestAfter(text + 3, inner); }},
      {"Str.cpp:230", [] { TailAfter(StrView(text, 3), inner); }},
  };
  for (const auto& [site, misuse] : misuses) EXPECT_EQ(std::string("..\\gen\\") + site, FiredCheck(misuse));
  EXPECT_EQ("", FiredCheck([&] {  // views may end where the outer one ends
    EXPECT_EQ("abcdef|ef|e", Text(HeadUpTo(whole, text + 6)) + "|" + Text(TailAfter(whole, inner)) +
                                 "|" + Text(RestAfter(text + 5, inner)));
  }));
}

// However many tokens were expected, the block takes exactly its views.
TEST(Split, KeepsEmptyTokensInABlockOfExactlyItsViews) {
  for (uint32_t expected : {0u, 1u, 5u}) {
    ViewBlock tokens = Split(";a;;bc;", ';', expected);
    std::string joined;
    for (const StrView& token : tokens) joined += Text(token) + "|";
    EXPECT_EQ("|a||bc||", joined);
    EXPECT_EQ(5 * sizeof(StrView), BlockSize(tokens.begin()));
  }
}

// Zero bytes survive a growth, and a builder may append its own text.
TEST(StrBuilder, GrowsToHalfAgainOfWhatIsNeeded) {
  StrBuilder builder;
  builder.Init(3);
  builder.Append("a\0b", 3);  // fills the block, terminator included
  std::string capacities = std::to_string(builder.Capacity());
  builder.Append("c", 1);
  capacities += " " + std::to_string(builder.Capacity());
  builder.Append("0123456", 7);
  capacities += " " + std::to_string(builder.Capacity());
  builder.AppendText(nullptr);
  builder.AppendFormat("-%d-", 42);
  builder.Append(builder.Text(), builder.Length());  // from itself, while growing
  EXPECT_EQ("4 7 18", capacities);
  EXPECT_EQ(std::string("a\0bc0123456-42-a\0bc0123456-42-", 30), Text(builder.View()));
  // The scratch builder lends a room and copies what was written into it.
  EXPECT_TRUE(ScratchText().IsSharedEmpty());
  strcpy(ScratchBuffer(10), "written");
  EXPECT_STREQ("written", ScratchText().Text());
  EXPECT_STREQ("", ScratchBuffer(2));
}

// A resumed out-of-memory raise leaves null, a failed resize the block.
TEST(Memwing, FailedAllocationsRaiseOutOfMemoryOnlyMemFreeChecksForNull) {
  void *block = &block, *elements = &block, *small = MemAlloc(16);
  EXPECT_EQ(9998u, CatchRaised([&] { block = MemAlloc(0x7FFFFFF0); }).code);
  // 0x40000001 four-byte elements would wrap to a 4-byte block.
  EXPECT_EQ(9998u, CatchRaised([&] { elements = MemAllocArray<uint32_t>(0x40000001); }).code);
  EXPECT_EQ(9998u, CatchRaised([&] { small = MemRealloc(small, 0x7FFFFFF0) ?: small; }).code);
  EXPECT_TRUE(!block && !elements);
  EXPECT_NE(0, MemFree(small));
  EXPECT_EQ(0, CatchRaised([] { MemFreeIfAny(nullptr); }).count);
  EXPECT_EQ("..\\gen\\Memwing.cpp:36", FiredCheck([] { MemFree(nullptr); }));
}

TEST(Array, EveryMisuseReportsItsCheck) {
  const Misuse misuses[] = {
      {"Array.cpp:51", [] { ByteBlock().Allocate(kArrayLimit + 1); }},
      {"Array.cpp:57", [] { char *begin = nullptr, *end = nullptr; Held(1).TakeOver(begin, end); }},
      {"Array.cpp:74", [] { ByteBlock().ReleaseHeld(); }},
      {"Array.cpp:77", [] { Held(2).CopyBytesFrom(Held(3)); }},
      {"Array.cpp:82", [] { Held(4).At(4); }},             {"Array.cpp:82", [] { Held(8).At(2, 4); }},
      {"Array.cpp:82", [] { Held(8).At(0x40000000, 4); }},  // would wrap to offset 0
      {"Array.cpp:82", [] { TypedArray<int> a; a.Push(1); a[1]; }},
      {"Array.cpp:82", [] { int v[] = {0, 2}; BucketSort(v, v + 2, 2, [](int k) { return k + 0u; }); }},
      {"Array.cpp:101",
       [] { char b[10]; BucketSort(b, b + 10, 4, 1, [](const void*, void*) { return 0u; }, nullptr); }},
      {"Array.cpp:108", [] { DynArray().Reserve(kArrayLimit + 1); }},
      {"Array.cpp:122", [] { DynArray().Resize(kArrayLimit + 1, 1); }},
      {"Array.cpp:122", [] { DynArray a; a.Push(4); a.Grow(0xFFFFFFFF, 1); }},
      {"Array.cpp:149", [] { DynArray a; a.Push(4); ByteBlock held = Held(1); a.ToBlock(held); }},
      {"array.inl:307", [] { DynArray a; a.Push(4); a.PushBytes(-5); }},
      {"array.inl:307", [] { TypedArray<Str>().Pop(); }},
  };
  for (const auto& [site, misuse] : misuses) EXPECT_EQ(std::string("..\\gen\\") + site, FiredCheck(misuse));
}

TEST(ByteBlock, CopiesOwnTheirBytesAndReleaseSaysWhetherOneWasHeld) {
  ByteBlock a = Held(3), b;
  memcpy(a.Begin(), "xyz", 3);
  b.CopyFrom(a);
  EXPECT_TRUE(a.Begin() != b.Begin() && std::string(b.Begin(), b.Size()) == "xyz");
  EXPECT_EQ("10", std::to_string(a.Release()) + std::to_string(a.Release()));
}

TEST(DynArray, GrowsByFiveThirdsToWholeElementsKeepingThem) {
  TypedArray<uint32_t> numbers;
  std::vector<uint32_t> capacities;
  for (uint32_t i = 0; i < 12; ++i) {
    numbers.Push(i);
    capacities.push_back(numbers.Bytes().Capacity());
  }
  EXPECT_EQ((std::vector<uint32_t>{4, 12, 12, 24, 24, 24, 44, 44, 44, 44, 44, 80}), capacities);
  EXPECT_EQ(80u, BlockSize(numbers.begin()));
  DynArray records, partial;  // 12-byte elements: 20 bytes round down to 12, 40 to 36
  records.Push(12);
  records.Push(12);
  partial.Resize(1, 4);  // less than one element still gets its bytes
  EXPECT_EQ("36 1", std::to_string(records.Capacity()) + " " + std::to_string(partial.Capacity()));
}

// A full array hands its block over, any other is copied to its used size.
TEST(DynArray, ReserveAndPushBytesKeepTheUsedBytesToBlockMovesAFullArray) {
  DynArray array, full;
  memcpy(array.PushBytes(8), "helloabc", 8);
  array.Reserve(100);
  array.Reserve(4);
  EXPECT_EQ("helloabc", std::string(array.Begin(), array.Capacity()));
  EXPECT_EQ(array.Begin() + 6, array.PushBytes(-2));
  ByteBlock moved, copy = Held(1);  // a held target is replaced by the copy
  array.ToBlock(copy);
  EXPECT_EQ("helloa", std::string(copy.Begin(), BlockSize(copy.Begin())));
  EXPECT_EQ(nullptr, array.Begin());
  full.Reserve(12);
  full.Resize(12, 4);
  char* block = full.Begin();
  full.ToBlock(moved);
  EXPECT_TRUE(moved.Begin() == block && moved.Size() == 12 && !full.Begin());
  full.Reserve(4);
  full.Reserve(0);
  EXPECT_EQ(nullptr, full.Begin());
}

// Blocks in use on the private heap show what an owner failed to free.
TEST(TypedArray, ReleasesWhatItsElementsOwn) {
  auto liveBlocks = [] {
    size_t count = 0;
    for (PROCESS_HEAP_ENTRY entry = {}; HeapWalk(guardState.privateHeap, &entry);)
      count += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0;
    return count;
  };
  size_t before = liveBlocks();
  {
    StrArray texts;
    texts.Push(Str("first"));
    for (int i = 0; i < 20; ++i) texts.Push(texts[0]);  // an element of itself while growing
    texts.Pop();
    EXPECT_EQ("20 first", std::to_string(texts.Count()) + " " + texts.Last().Text());
  }
  EXPECT_EQ(before, liveBlocks());
}

// Three-byte elements, an empty bucket between full ones.
TEST(BucketSort, DistributesByKeyKeepingTheOrderOfEqualKeys) {
  char items[][3] = {"3a", "0b", "1c", "0d", "3e", "1f"};
  BucketSort(items, items + 6, 4, [](const char(&item)[3]) { return item[0] - '0' + 0u; });
  EXPECT_EQ("0b0d1c1f3a3e", std::string(items[0]) + items[1] + items[2] + items[3] + items[4] + items[5]);
}

TEST(Array, RunsEndAtTheFirstBoundary) {
  int values[] = {1, 1, 2, 2, 2, 3};
  Range<int> rest{values, values + 6};
  EXPECT_EQ(6u, PeekRun(rest, [](int, int) { return false; }).Count());
  std::vector<uint32_t> lengths;
  while (rest.begin != rest.end) lengths.push_back(TakeRun(rest, std::not_equal_to<int>()).Count());
  EXPECT_EQ((std::vector<uint32_t>{2, 3, 1}), lengths);
  EXPECT_EQ(values + 6, TakeRun(rest, std::not_equal_to<int>()).begin);  // empty: unchanged
}

TEST(WinverShort, NamesTheReleaseAndFormatsTheRecord) {
  const struct { DWORD platform, major, minor, build; const char *servicePack, *expected; } rows[] = {
      {1, 4, 0, 0x040003B6, "", "Win95 4.00 build 950 "}, {2, 7, 0, 1, "", "Win8 7.00 build 1 "},
      {1, 4, 10, 0x040A08AE, " A", "Win98 4.10 build 2222  A"}, {2, 6, 2, 9200, "", "Win7 6.02 build 9200 "},
      {2, 10, 0, 0x12345, "", "WinNT 10.00 build 9029 "}, {0, 3, 10, 0, "Win32s", "Win??? 3.10 build 0 Win32s"},
      {2, 5, 2, 3790, "SP2", "WinXP 5.02 build 3790 SP2"},
  };
  for (const auto& row : rows) {
    OSVERSIONINFOA record = {sizeof record, row.major, row.minor, row.build, row.platform, {}};
    strcpy(record.szCSDVersion, row.servicePack);
    EXPECT_EQ(row.platform == 2, WinVersionInfo(record).IsNT()) << row.expected;
    EXPECT_STREQ(row.expected, DescribeWindowsShort(WinVersionInfo(record)).Text());
  }
}

// Server 2003's editions go by processor before suite, for any server.
TEST(WinverLong, ReleaseEditionWidthAndServicePackBeforeTheBuildCutTo255) {
  const std::string longest(127, 's'), tooLong(300, 's');
  const struct { WindowsFacts facts; std::string expected; } rows[] = {
      {Nt(6, 1, "SP1", 0x100, kWorkstation, kAmd64, 1), Release("7 Ultimate Edition, 64-bit SP1")},
      {Nt(6, 0, "", 0x300, kWorkstation, kIntel, 3), Release("Vista Home Premium Edition, 32-bit")},
      {Nt(6, 0, "", 0x80, kServer, kItanium, 12), Release("Server 2008 Datacenter Edition (core installation)")},
      {Nt(6, 0, "", 0, kServer, kArm, 25), Release("Server 2008 Small Business Server Premium Edition")},
      {Nt(6, 2, "", 0x100, kWorkstation, kAmd64, 0x30), Release("8 , 64-bit")},
      {Nt(6, 3, "", 0x100, kWorkstation, kAmd64, 1), "Microsoft  (build 1234)"},
      {Nt(10, 0, "SP1", 0, kServer, kIntel, 7), "Microsoft  SP1 (build 1234)"},
      {Nt(5, 2, "", 0x2000, kServer, kIntel, 0, true), Release("Server 2003 R2, Standard Edition")},
      {Nt(5, 2, "", 0x2000, kServer, kIntel), Release("Storage Server 2003Standard Edition")},
      {Nt(5, 2, "", 0x100, kWorkstation, kAmd64), Release("XP Professional x64 Edition")},
      {Nt(5, 1, "SP3", 0x300, kWorkstation, kAmd64), Release("XP Home Edition SP3")},
      {Nt(5, 1, "", 0x100, kWorkstation, kIntel), Release("XP Professional")},
      {Nt(5, 0, "", 0x80, kWorkstation, kIntel), Release("2000 Professional")},
      {Nt(5, 0, "", 0x82, kServer, kIntel), Release("2000 Datacenter Server")},
      {Nt(5, 0, "", 0x2, kController, kIntel), Release("2000 Advanced Server")},
      {Nt(5, 0, "", 0x400, kServer, kIntel), Release("2000 Server")},
      {Nt(4, 0, "SP6", 0, kWorkstation, kIntel), "-"},
      {{0, 5, 1, 2600, "", 0, 0, kIntel, 0, false}, "-"},
      // The longest text a real system gives fits; a longer one is cut.
      {Nt(6, 0, longest.c_str(), 0, kServer, kAmd64, 15, false, 0x80000000),
       "Microsoft Windows Server 2008 Enterprise Edition for Itanium-based Systems, 64-bit " +
           longest + " (build -2147483648)"},
      {Nt(6, 1, tooLong.c_str(), 0, kWorkstation, kAmd64, 1),
       ("Microsoft Windows 7 Ultimate Edition, 64-bit " + tooLong).substr(0, 255)},
  };
  for (const auto& row : rows) EXPECT_EQ(row.expected, Described(row.facts));
  const struct { WORD architecture, suite; const char* edition; } editions[] = {
      {kItanium, 0x82, "Datacenter Edition for Itanium-based Systems"}, {kItanium, 0x4400, ""},
      {kItanium, 0x402, "Enterprise Edition for Itanium-based Systems"},
      {kAmd64, 0x4082, "Datacenter x64 Edition"}, {kAmd64, 0x4002, "Enterprise x64 Edition"},
      {kAmd64, 0x4400, "Standard x64 Edition"},   {kIntel, 0x4082, "Compute Cluster Edition"},
      {kIntel, 0x482, "Datacenter Edition"},      {kIntel, 0x402, "Enterprise Edition"},
      {kArm, 0x400, "Web Edition"},               {kIntel, 0x110, "Standard Edition"},
  };
  for (const auto& row : editions)
    for (BYTE productType : {kController, kServer})
      EXPECT_EQ(Release(std::string("Server 2003, ") + row.edition),
                Described(Nt(5, 2, "", row.suite, productType, row.architecture)))
          << row.architecture << " " << row.suite;
}

// The whole output, both texts of one build and service pack; then an array
// check fails outside a test's catch: the crash report names the checking
// frame first, and on its OS line the long text, else the short one.
TEST(WinverEndToEnd, DescribesTheVersionWinePretendsAlsoInTheCrashReport) {
  const char kAppKey[] = "Software\\Wine\\AppDefaults\\winver_probe.exe";
  SYSTEM_INFO native;
  GetNativeSystemInfo(&native);
  const std::string width = native.wProcessorArchitecture == kAmd64 ? ", 64-bit" : ", 32-bit";
  // Without a long start, the sentence instead; Vista to 8 name the width.
  const struct { const char *version, *nt, *shortStart, *longStart; bool width; } rows[] = {
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
    RegistryScope scope(kAppKey);  // Wine pretends the version for the probe alone
    ASSERT_EQ(ERROR_SUCCESS, SetRegValue(HKEY_CURRENT_USER, RegView::k64, kAppKey, "Version",
                                         REG_SZ, RegSz(row.version)));
    ProbeResult result = RunProbe("winver_probe.exe", "", "n");
    std::string out = WithoutCr(result.out), shortText = Field(out, "short");
    std::string longText = row.longStart ? Field(out, "long") : "";
    std::string unsupported = row.longStart ? "" : kUnsupportedWindows;
    EXPECT_EQ("short=" + shortText + "\nnt=" + row.nt + "\n" + unsupported + "result=" +
                  (row.longStart ? "1" : "0") + "\nlong=" + longText + "\n" + unsupported +
                  "str=" + longText + "\n",
              out);
    std::string err = WithoutCr(result.err), first = FirstFrameLine(err);
    EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
    EXPECT_EQ(0u, err.find("\nProduct 0.01 exception: Asserted\n")) << err;
    EXPECT_NE(std::string::npos, err.find("\nOS: " + (row.longStart ? longText : shortText) + "\n-"));
    EXPECT_EQ(0u, first.find("gen\\array.inl: (")) << err;
    EXPECT_EQ(first.size() - 23, first.rfind(") [DynArray::PushBytes]")) << err;
    ASSERT_EQ(0u, shortText.find(row.shortStart)) << shortText;
    if (!row.longStart) continue;
    std::string rest = shortText.substr(strlen(row.shortStart));
    std::string build = rest.substr(0, rest.find(' ')), servicePack = rest.substr(build.size() + 1);
    std::string end = (servicePack.empty() ? "" : " " + servicePack) + " (build " + build + ")";
    EXPECT_EQ(0u, longText.find(row.longStart)) << longText;
    EXPECT_EQ(longText.size() - end.size(), longText.rfind(end)) << longText;
    if (row.width) EXPECT_NE(std::string::npos, longText.find(width)) << longText;
  }
}
