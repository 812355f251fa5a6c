#include <gtest/gtest.h>

#include "gen/Memwing.h"
#include "toolkit/Raised.h"

TEST(Memwing, FailuresRaiseOutOfMemoryOrTheNullCheck) {
  void* block = nullptr;
  Raised raised = CatchRaised([&] { block = MemAlloc(0x7FFFFFF0); });
  EXPECT_EQ(9998u, raised.code);
  EXPECT_EQ(nullptr, block);
  // 0x40000001 four-byte elements would wrap to a 4-byte block.
  uint32_t* elements = nullptr;
  raised = CatchRaised([&] { elements = MemAllocArray<uint32_t>(0x40000001); });
  EXPECT_EQ(9998u, raised.code);
  EXPECT_EQ(nullptr, elements);

  void* small = MemAlloc(16);
  raised = CatchRaised([&] { small = MemRealloc(small, 0x7FFFFFF0) ?: small; });
  EXPECT_EQ(9998u, raised.code);
  EXPECT_NE(0, MemFree(small));

  raised = CatchRaised([] { MemFreeIfAny(nullptr); });
  EXPECT_EQ(0, raised.count);
  raised = CatchRaised([] { MemFree(nullptr); });
  EXPECT_EQ(101u, raised.code);
  EXPECT_EQ("Asserted", raised.text);
}
