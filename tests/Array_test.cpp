#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "gen/Array.h"
#include "gen/Memwing.h"
#include "gen/Str.h"
#include "gen/err/errgpfse.h"
#include "toolkit/FiredCheck.h"
#include "toolkit/Probe.h"

namespace {

const char kArray[] = "..\\gen\\Array.cpp:";
const char kInline[] = "..\\gen\\array.inl:";

// Blocks in use on the private heap: shows what an owner failed to free.
size_t LiveBlocks() {
  PROCESS_HEAP_ENTRY entry = {};
  size_t count = 0;
  HeapLock(guardState.privateHeap);
  while (HeapWalk(guardState.privateHeap, &entry))
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++count;
  HeapUnlock(guardState.privateHeap);
  return count;
}

size_t HeapBlockSize(const void* block) { return HeapSize(guardState.privateHeap, 0, block); }

ByteBlock Held(uint32_t size) {
  ByteBlock block;
  block.Allocate(size);
  return block;
}

void PushInts(DynArray& array, std::initializer_list<uint32_t> values) {
  for (uint32_t value : values) memcpy(array.Push(4), &value, 4);
}

}  // namespace

// The module and line each misuse reports.
TEST(Array, EveryMisuseReportsItsCheck) {
  const struct {
    const char* module;
    int line;
    std::function<void()> misuse;
  } cases[] = {
      {kArray, 51, [] { ByteBlock().Allocate(kArrayLimit + 1); }},
      {kArray, 57, [] { char *begin = nullptr, *end = nullptr; Held(1).TakeOver(begin, end); }},
      {kArray, 74, [] { ByteBlock().ReleaseHeld(); }},
      {kArray, 77, [] { Held(2).CopyBytesFrom(Held(3)); }},
      {kArray, 82, [] { Held(4).At(4); }},
      {kArray, 82, [] { Held(8).At(2, 4); }},
      {kArray, 82, [] { Held(8).At(0x40000000, 4); }},  // would wrap to offset 0
      {kArray, 82, [] { TypedArray<int> a; a.Push(1); a[1]; }},
      {kArray, 82, [] { int v[] = {0, 2}; BucketSort(v, v + 2, 2, [](int k) { return k + 0u; }); }},
      {kArray, 101, [] { char b[10]; BucketSort(b, b + 10, 4, 1, [](const void*, void*) { return 0u; }, nullptr); }},
      {kArray, 108, [] { DynArray().Reserve(kArrayLimit + 1); }},
      {kArray, 122, [] { DynArray().Resize(kArrayLimit + 1, 1); }},
      {kArray, 122, [] { DynArray a; a.Push(4); a.Grow(0xFFFFFFFF, 1); }},
      {kArray, 149, [] { DynArray a; a.Push(4); ByteBlock held = Held(1); a.ToBlock(held); }},
      {kInline, 307, [] { DynArray a; a.Push(4); a.PushBytes(-5); }},
      {kInline, 307, [] { TypedArray<Str>().Pop(); }},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.module + std::to_string(c.line), FiredCheck(c.misuse));
}

TEST(ByteBlock, CopiesOwnTheirBytesAndTakeOverClearsTheSource) {
  ByteBlock a = Held(3);
  memcpy(a.Begin(), "xyz", 3);
  ByteBlock b;
  b.CopyFrom(a);
  EXPECT_NE(a.Begin(), b.Begin());
  EXPECT_EQ(0, memcmp(b.Begin(), "xyz", 3));
  EXPECT_TRUE(a.Release());
  EXPECT_FALSE(a.Release());

  char* begin = static_cast<char*>(MemAlloc(5));
  char* end = begin + 5;
  a.TakeOver(begin, end);
  EXPECT_EQ(nullptr, begin);
  EXPECT_EQ(nullptr, end);
  EXPECT_EQ(5u, a.Size());
}

TEST(DynArray, GrowsByFiveThirdsToWholeElements) {
  DynArray array;
  std::vector<uint32_t> capacities;
  for (uint32_t i = 0; i < 12; ++i) {
    PushInts(array, {i});
    capacities.push_back(array.Capacity());
  }
  EXPECT_EQ((std::vector<uint32_t>{4, 12, 12, 24, 24, 24, 44, 44, 44, 44, 44, 80}), capacities);
  EXPECT_EQ(80u, HeapBlockSize(array.Begin()));

  DynArray records;  // 12-byte elements: 20 bytes round down to 12, 40 to 36
  records.Push(12);
  records.Push(12);
  EXPECT_EQ(36u, records.Capacity());
  DynArray partial;  // less than one element still gets its bytes
  partial.Resize(1, 4);
  EXPECT_EQ(1u, partial.Capacity());
}

TEST(DynArray, ReserveAndPushBytesKeepTheUsedBytes) {
  DynArray array;
  memcpy(array.PushBytes(5), "hello", 5);
  memcpy(array.PushBytes(3), "abc", 3);
  array.Reserve(100);
  array.Reserve(4);  // below the used size: fitted to it
  EXPECT_EQ(8u, array.Capacity());
  EXPECT_EQ(0, memcmp(array.Begin(), "helloabc", 8));
  EXPECT_EQ(array.Begin() + 6, array.PushBytes(-2));
  EXPECT_EQ(6u, array.UsedSize());
  array.PushBytes(-6);
  array.Reserve(0);
  EXPECT_EQ(nullptr, array.Begin());
}

TEST(DynArray, ToBlockMovesAFullArrayAndCopiesAnyOther) {
  DynArray full;
  full.Reserve(12);
  PushInts(full, {7, 8, 9});
  char* block = full.Begin();
  ByteBlock target;
  full.ToBlock(target);
  EXPECT_EQ(block, target.Begin());
  EXPECT_EQ(12u, target.Size());
  EXPECT_EQ(nullptr, full.Begin());

  DynArray spare;
  PushInts(spare, {1, 2, 3, 4, 5});
  ASSERT_EQ(24u, spare.Capacity());
  ByteBlock copy = Held(1);  // replaced when a copy is made
  spare.ToBlock(copy);
  EXPECT_EQ(20u, HeapBlockSize(copy.Begin()));
  EXPECT_EQ(5u, reinterpret_cast<uint32_t*>(copy.Begin())[4]);
  EXPECT_EQ(nullptr, spare.Begin());
}

TEST(TypedArray, ReleasesWhatItsElementsOwn) {
  size_t before = LiveBlocks();
  {
    StrArray texts;
    texts.Push(Str("first"));
    for (int i = 0; i < 20; ++i) texts.Push(texts[0]);  // an element of itself while growing
    EXPECT_STREQ("first", texts.Last().Text());
    texts.Pop();
    EXPECT_EQ(20u, texts.Count());
    ArrayArray nested;
    nested.Push(DynArray());
    nested[0].Push(4);
    TypedArray<StrArray> lists;
    lists.Push(StrArray());
    lists[0].Push(Str("inner"));
  }
  EXPECT_EQ(before, LiveBlocks());
}

// Random pushes, pops and reserves leave exactly what a vector holds.
TEST(TypedArray, MatchesAVectorAfterRandomPushAndPop) {
  std::mt19937 random(20240605);
  TypedArray<uint32_t> numbers;
  StrArray texts;
  std::vector<uint32_t> expectedNumbers;
  std::vector<std::string> expectedTexts;
  for (int step = 0; step < 20000; ++step) {
    uint32_t roll = random() % 10;
    if (roll < 6) {
      uint32_t value = random();
      numbers.Push(value);
      expectedNumbers.push_back(value);
      expectedTexts.emplace_back(random() % 4, static_cast<char>('a' + value % 26));
      texts.Push(Str(expectedTexts.back().c_str()));
    } else if (roll < 9 && !expectedNumbers.empty()) {
      numbers.Pop();
      expectedNumbers.pop_back();
      texts.Pop();
      expectedTexts.pop_back();
    } else {
      numbers.Reserve(random() % 64);
    }
  }
  ASSERT_EQ(expectedNumbers.size(), numbers.Count());
  EXPECT_TRUE(std::equal(numbers.begin(), numbers.end(), expectedNumbers.begin()));
  ASSERT_EQ(expectedTexts.size(), texts.Count());
  for (uint32_t i = 0; i < texts.Count(); ++i) ASSERT_EQ(expectedTexts[i], texts[i].Text());
}

TEST(BucketSort, EqualsAStableSortOnRandomInput) {
  struct Record {
    uint16_t key;
    uint32_t serial;
    char pad[5];
  };
  std::mt19937 random(7);
  for (uint32_t buckets : {1u, 3u, 50u, 1000u}) {
    std::vector<Record> records(3000);
    for (uint32_t i = 0; i < records.size(); ++i)
      records[i] = Record{static_cast<uint16_t>(random() % buckets), i, {}};
    std::vector<Record> expected = records;
    std::stable_sort(expected.begin(), expected.end(),
                     [](const Record& a, const Record& b) { return a.key < b.key; });
    BucketSort(records.data(), records.data() + records.size(), buckets,
               [](const Record& r) { return r.key; });
    for (uint32_t i = 0; i < records.size(); ++i)
      ASSERT_EQ(expected[i].serial, records[i].serial) << buckets << " buckets, " << i;
  }
}

TEST(Runs, EndAtTheFirstBoundary) {
  int values[] = {1, 1, 2, 2, 2, 3};
  auto differs = [](int previous, int current) { return previous != current; };
  Range<int> all{values, values + 6};
  EXPECT_EQ(6u, PeekRun(all, [](int, int) { return false; }).Count());

  std::vector<uint32_t> lengths;
  for (Range<int> rest = all; rest.begin != rest.end;)
    lengths.push_back(TakeRun(rest, differs).Count());
  EXPECT_EQ((std::vector<uint32_t>{2, 3, 1}), lengths);

  Range<int> empty{values + 6, values + 6};
  EXPECT_EQ(values + 6, TakeRun(empty, differs).begin);
}

// Outside a test's catch a check ends the process with a crash report
// whose first frame is the one that checked.
TEST(Array, AFailedCheckEndsTheProcessWithAReportNamingTheCheckingFrame) {
  const struct {
    const char* action;
    const char* frame;     // how the first frame line starts
    const char* function;  // and ends
  } cases[] = {
      {"block-at-end", "gen\\Array.cpp: (", ") [ByteBlock::At]"},
      {"pop-empty", "gen\\array.inl: (", ") [DynArray::PushBytes]"},
      {"head-outside", "gen\\Str.cpp: (", ") [HeadUpTo]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    ProbeResult result = RunProbe("array_probe.exe", c.action);
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
    EXPECT_EQ("", result.out);
    std::string err = WithoutCr(result.err);
    EXPECT_EQ(0u, err.find("\nProduct 0.01 exception: Asserted\n")) << err;
    std::string first = FirstFrameLine(err);
    ASSERT_NE("", first) << err;
    EXPECT_EQ(0u, first.find(c.frame)) << err;
    EXPECT_EQ(first.size() - strlen(c.function), first.rfind(c.function)) << err;
  }
}
