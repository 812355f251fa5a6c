#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "gen/Array.h"
#include "gen/Str.h"
#include "gen/err/errgpfse.h"
#include "toolkit/FiredCheck.h"
#include "toolkit/Probe.h"

namespace {

// Blocks in use on the private heap: shows what an owner failed to free.
size_t LiveBlocks() {
  PROCESS_HEAP_ENTRY entry = {};
  size_t count = 0;
  while (HeapWalk(guardState.privateHeap, &entry))
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++count;
  return count;
}

size_t HeapBlockSize(const void* block) { return HeapSize(guardState.privateHeap, 0, block); }

ByteBlock Held(uint32_t size) {
  ByteBlock block;
  block.Allocate(size);
  return block;
}

}  // namespace

// The module and line each misuse reports.
TEST(Array, EveryMisuseReportsItsCheck) {
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"Array.cpp:51", [] { ByteBlock().Allocate(kArrayLimit + 1); }},
      {"Array.cpp:57", [] { char *begin = nullptr, *end = nullptr; Held(1).TakeOver(begin, end); }},
      {"Array.cpp:74", [] { ByteBlock().ReleaseHeld(); }},
      {"Array.cpp:77", [] { Held(2).CopyBytesFrom(Held(3)); }},
      {"Array.cpp:82", [] { Held(4).At(4); }},
      {"Array.cpp:82", [] { Held(8).At(2, 4); }},
      {"Array.cpp:82", [] { Held(8).At(0x40000000, 4); }},  // would wrap to offset 0
      {"Array.cpp:82", [] { TypedArray<int> a; a.Push(1); a[1]; }},
      {"Array.cpp:82", [] { int v[] = {0, 2}; BucketSort(v, v + 2, 2, [](int k) { return k + 0u; }); }},
      {"Array.cpp:101", [] { char b[10]; BucketSort(b, b + 10, 4, 1, [](const void*, void*) { return 0u; }, nullptr); }},
      {"Array.cpp:108", [] { DynArray().Reserve(kArrayLimit + 1); }},
      {"Array.cpp:122", [] { DynArray().Resize(kArrayLimit + 1, 1); }},
      {"Array.cpp:122", [] { DynArray a; a.Push(4); a.Grow(0xFFFFFFFF, 1); }},
      {"Array.cpp:149", [] { DynArray a; a.Push(4); ByteBlock held = Held(1); a.ToBlock(held); }},
      {"array.inl:307", [] { DynArray a; a.Push(4); a.PushBytes(-5); }},
      {"array.inl:307", [] { TypedArray<Str>().Pop(); }},
  };
  for (const auto& [site, misuse] : cases)
    EXPECT_EQ(std::string("..\\gen\\") + site, FiredCheck(misuse));
}

TEST(ByteBlock, CopiesOwnTheirBytesAndTakeOverClearsTheSource) {
  ByteBlock a = Held(3), b;
  memcpy(a.Begin(), "xyz", 3);
  b.CopyFrom(a);
  EXPECT_NE(a.Begin(), b.Begin());
  EXPECT_EQ("xyz", std::string(b.Begin(), b.Size()));
  EXPECT_TRUE(a.Release());
  EXPECT_FALSE(a.Release());
  char* begin = static_cast<char*>(MemAlloc(5));
  char* end = begin + 5;
  a.TakeOver(begin, end);
  EXPECT_TRUE(!begin && !end && a.Size() == 5);
}

TEST(DynArray, GrowsByFiveThirdsToWholeElementsKeepingThem) {
  TypedArray<uint32_t> numbers;
  std::vector<uint32_t> capacities;
  for (uint32_t i = 0; i < 12; ++i) {
    numbers.Push(i);
    capacities.push_back(numbers.Bytes().Capacity());
  }
  EXPECT_EQ((std::vector<uint32_t>{4, 12, 12, 24, 24, 24, 44, 44, 44, 44, 44, 80}), capacities);
  EXPECT_EQ(80u, HeapBlockSize(numbers.begin()));
  for (uint32_t i = 0; i < 12; ++i) EXPECT_EQ(i, numbers[i]);
  DynArray records, partial;  // 12-byte elements: 20 bytes round down to 12, 40 to 36
  records.Push(12);
  records.Push(12);
  partial.Resize(1, 4);  // less than one element still gets its bytes
  EXPECT_EQ(36u, records.Capacity());
  EXPECT_EQ(1u, partial.Capacity());
}

TEST(DynArray, ReserveAndPushBytesKeepTheUsedBytes) {
  DynArray array;
  memcpy(array.PushBytes(5), "hello", 5);
  memcpy(array.PushBytes(3), "abc", 3);
  array.Reserve(100);
  array.Reserve(4);  // below the used size: fitted to it
  EXPECT_EQ("helloabc", std::string(array.Begin(), array.Capacity()));
  EXPECT_EQ(array.Begin() + 6, array.PushBytes(-2));
  array.PushBytes(-6);
  array.Reserve(0);
  EXPECT_EQ(nullptr, array.Begin());
}

TEST(DynArray, ToBlockMovesAFullArrayAndCopiesAnyOther) {
  DynArray full, spare;
  full.Reserve(12);
  full.Resize(12, 4);
  char* block = full.Begin();
  ByteBlock moved, copy = Held(1);  // a held target is replaced by the copy
  full.ToBlock(moved);
  EXPECT_TRUE(moved.Begin() == block && moved.Size() == 12 && !full.Begin());
  memcpy(spare.PushBytes(5), "12345", 5);
  spare.ToBlock(copy);
  EXPECT_EQ("12345", std::string(copy.Begin(), HeapBlockSize(copy.Begin())));
  EXPECT_EQ(nullptr, spare.Begin());
}

TEST(TypedArray, ReleasesWhatItsElementsOwn) {
  size_t before = LiveBlocks();
  {
    StrArray texts;
    texts.Push(Str("first"));
    for (int i = 0; i < 20; ++i) texts.Push(texts[0]);  // an element of itself while growing
    texts.Pop();
    EXPECT_EQ(20u, texts.Count());
    EXPECT_STREQ("first", texts.Last().Text());
    ArrayArray nested;
    nested.Push(DynArray());
    nested[0].Push(4);
    TypedArray<StrArray> lists;
    lists.Push(StrArray());
    lists[0].Push(Str("inner"));
  }
  EXPECT_EQ(before, LiveBlocks());
}

// Three-byte elements, an empty bucket between full ones.
TEST(BucketSort, DistributesByKeyKeepingTheOrderOfEqualKeys) {
  char items[][3] = {"3a", "0b", "1c", "0d", "3e", "1f"};
  BucketSort(items, items + 6, 4, [](const char(&item)[3]) { return item[0] - '0' + 0u; });
  std::string sorted;
  for (const char* item : items) sorted += item;
  EXPECT_EQ("0b0d1c1f3a3e", sorted);
}

TEST(Runs, EndAtTheFirstBoundary) {
  int values[] = {1, 1, 2, 2, 2, 3};
  Range<int> rest{values, values + 6};
  EXPECT_EQ(6u, PeekRun(rest, [](int, int) { return false; }).Count());
  std::vector<uint32_t> lengths;
  while (rest.begin != rest.end) lengths.push_back(TakeRun(rest, std::not_equal_to<int>()).Count());
  EXPECT_EQ((std::vector<uint32_t>{2, 3, 1}), lengths);
  EXPECT_EQ(values + 6, TakeRun(rest, std::not_equal_to<int>()).begin);  // empty: unchanged
}

// Outside a test's catch a check ends the process with a crash report
// whose first frame is the one that checked.
TEST(Array, AFailedCheckEndsTheProcessWithAReportNamingTheCheckingFrame) {
  for (auto [action, file, function] :
       {std::tuple{"block-at-end", "gen\\Array.cpp: (", ") [ByteBlock::At]"},
        std::tuple{"pop-empty", "gen\\array.inl: (", ") [DynArray::PushBytes]"},
        std::tuple{"head-outside", "gen\\Str.cpp: (", ") [HeadUpTo]"}}) {
    ProbeResult result = RunProbe("array_probe.exe", action);
    std::string err = WithoutCr(result.err), first = FirstFrameLine(err);
    EXPECT_TRUE(result.ended && result.exitCode == 0xFFFFFFFF && result.out.empty()) << action;
    EXPECT_EQ(0u, err.find("\nProduct 0.01 exception: Asserted\n")) << err;
    EXPECT_EQ(0u, first.find(file)) << err;
    EXPECT_EQ(first.size() - strlen(function), first.rfind(function)) << err;
  }
}
