#include <gtest/gtest.h>

#include "gen/Memwing.h"
#include "toolkit/FiredCheck.h"

// A resumed out-of-memory raise leaves null; a failed resize keeps the block.
TEST(Memwing, FailedAllocationsRaiseOutOfMemory) {
  void* block = &block;
  EXPECT_EQ(9998u, CatchRaised([&] { block = MemAlloc(0x7FFFFFF0); }).code);
  EXPECT_EQ(nullptr, block);
  // 0x40000001 four-byte elements would wrap to a 4-byte block.
  uint32_t* elements = nullptr;
  EXPECT_EQ(9998u, CatchRaised([&] { elements = MemAllocArray<uint32_t>(0x40000001); }).code);
  EXPECT_EQ(nullptr, elements);
  void* small = MemAlloc(16);
  EXPECT_EQ(9998u, CatchRaised([&] { small = MemRealloc(small, 0x7FFFFFF0) ?: small; }).code);
  EXPECT_NE(0, MemFree(small));
}

TEST(Memwing, OnlyMemFreeChecksForNull) {
  EXPECT_EQ(0, CatchRaised([] { MemFreeIfAny(nullptr); }).count);
  EXPECT_EQ("..\\gen\\Memwing.cpp:36", FiredCheck([] { MemFree(nullptr); }));
}
