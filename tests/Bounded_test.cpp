#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mania/Bounded.h"

namespace {

// A buffer with guard bytes on both sides, to prove nothing is written
// outside the capacity.
struct Guarded {
  char bytes[64];
  Guarded() { memset(bytes, '#', sizeof bytes); }
  char* At() { return bytes + 8; }
  bool GuardsIntact(uint32_t capacity) const {
    for (int i = 0; i < 8; ++i)
      if (bytes[i] != '#') return false;
    for (uint32_t i = 8 + capacity; i < sizeof bytes; ++i)
      if (bytes[i] != '#') return false;
    return true;
  }
};

}  // namespace

TEST(BoundedFormat, FitsExactlyOrIsCutToCapacityMinusOne) {
  Guarded out;
  EXPECT_EQ(kBoundedOk, BoundedFormat(out.At(), 5, "%s", "abcd"));
  EXPECT_STREQ("abcd", out.At());
  EXPECT_EQ(kBoundedTruncated, BoundedFormat(out.At(), 5, "%s%d", "abcd", 7));
  EXPECT_STREQ("abcd", out.At());
  EXPECT_EQ(kBoundedOk, BoundedFormat(out.At(), 5, "%d", 12));
  EXPECT_STREQ("12", out.At());
  EXPECT_EQ(kBoundedTruncated, BoundedFormat(out.At(), 1, "x"));
  EXPECT_STREQ("", out.At());
  EXPECT_TRUE(out.GuardsIntact(5));
}

TEST(BoundedRoutines, InvalidCapacityWritesNothing) {
  for (uint32_t capacity : {0u, 0x80000000u, 0xFFFFFFFFu}) {
    Guarded out;
    EXPECT_EQ(kBoundedInvalid, BoundedFormat(out.At(), capacity, "abc"));
    EXPECT_EQ(kBoundedInvalid, BoundedCopy(out.At(), capacity, "abc"));
    EXPECT_EQ(kBoundedInvalid, BoundedAppend(out.At(), capacity, "abc"));
    uint32_t length = 99;
    EXPECT_EQ(kBoundedInvalid, BoundedLength("abc", capacity, &length));
    EXPECT_EQ(0u, length);
    EXPECT_TRUE(out.GuardsIntact(0));
  }
}

TEST(BoundedCopy, SourceOfCapacityMinusOneFitsLongerIsCut) {
  Guarded out;
  EXPECT_EQ(kBoundedOk, BoundedCopy(out.At(), 4, "abc"));
  EXPECT_STREQ("abc", out.At());
  EXPECT_EQ(kBoundedTruncated, BoundedCopy(out.At(), 4, "abcd"));
  EXPECT_STREQ("abc", out.At());
  EXPECT_EQ(kBoundedOk, BoundedCopy(out.At(), 1, ""));
  EXPECT_TRUE(out.GuardsIntact(4));
}

TEST(BoundedAppend, AppendsCutsAndRefusesUnterminatedDestination) {
  Guarded out;
  BoundedCopy(out.At(), 6, "ab");
  EXPECT_EQ(kBoundedOk, BoundedAppend(out.At(), 6, "cde"));
  EXPECT_STREQ("abcde", out.At());
  EXPECT_EQ(kBoundedTruncated, BoundedAppend(out.At(), 6, "f"));
  EXPECT_STREQ("abcde", out.At());
  EXPECT_EQ(kBoundedOk, BoundedAppend(out.At(), 6, ""));
  EXPECT_TRUE(out.GuardsIntact(6));

  char full[4] = {'w', 'x', 'y', 'z'};
  EXPECT_EQ(kBoundedInvalid, BoundedAppend(full, 4, "q"));
  EXPECT_EQ(0, memcmp(full, "wxyz", 4));
}

TEST(BoundedLength, CountsWithinCapacityOnly) {
  uint32_t length = 0;
  EXPECT_EQ(kBoundedOk, BoundedLength("abc", 4, &length));
  EXPECT_EQ(3u, length);
  EXPECT_EQ(kBoundedInvalid, BoundedLength("abc", 3, &length));
  EXPECT_EQ(0u, length);
  EXPECT_EQ(kBoundedOk, BoundedLength("", 1, nullptr));
}
