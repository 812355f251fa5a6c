#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mania/Bounded.h"

namespace {

typedef BoundedResult (*Routine)(char*, uint32_t, const char*);

BoundedResult Format(char* dest, uint32_t capacity, const char* text) {
  return BoundedFormat(dest, capacity, "%s", text);
}

// The bytes of a 64-byte buffer outside `capacity` bytes from offset 8: all
// '#' as long as nothing was written outside.
std::string Outside(const std::string& buffer, uint32_t capacity) {
  return buffer.substr(0, 8) + buffer.substr(8 + capacity);
}

}  // namespace

TEST(Bounded, CapacityMinusOneFitsMoreIsCutAndStillTerminated) {
  const BoundedResult kOk = kBoundedOk, kCut = kBoundedTruncated;
  struct {
    Routine routine;
    uint32_t capacity;
    const char *start, *source;
    BoundedResult result;
    const char* text;
  } const rows[] = {
      {Format, 5, "", "abcd", kOk, "abcd"},           {Format, 5, "", "abcde", kCut, "abcd"},
      {Format, 5, "", "12", kOk, "12"},               {Format, 1, "", "x", kCut, ""},
      {BoundedCopy, 4, "", "abc", kOk, "abc"},        {BoundedCopy, 4, "", "abcd", kCut, "abc"},
      {BoundedCopy, 1, "", "", kOk, ""},              {BoundedAppend, 6, "ab", "cde", kOk, "abcde"},
      {BoundedAppend, 6, "ab", "cdef", kCut, "abcde"}, {BoundedAppend, 6, "abcde", "", kOk, "abcde"},
  };
  for (const auto& row : rows) {
    std::string buffer(64, '#');
    strcpy(&buffer[8], row.start);
    EXPECT_EQ(row.result, row.routine(&buffer[8], row.capacity, row.source)) << row.source;
    EXPECT_STREQ(row.text, &buffer[8]) << row.source;
    EXPECT_EQ(std::string(64 - row.capacity, '#'), Outside(buffer, row.capacity)) << row.source;
  }
}

TEST(Bounded, InvalidCapacityOrUnterminatedTextWritesNothing) {
  for (Routine routine : {Format, BoundedCopy, BoundedAppend}) {
    for (uint32_t capacity : {0u, 0x80000000u, 0xFFFFFFFFu, routine == BoundedAppend ? 4u : 0u}) {
      std::string buffer(64, '#');  // no terminator anywhere
      EXPECT_EQ(kBoundedInvalid, routine(&buffer[8], capacity, "abc")) << capacity;
      EXPECT_EQ(std::string(64, '#'), buffer) << capacity;
    }
  }
  struct {
    uint32_t capacity;
    BoundedResult result;
    uint32_t length;
  } const lengths[] = {{3, kBoundedInvalid, 0}, {0, kBoundedInvalid, 0},
                       {0x80000000u, kBoundedInvalid, 0}, {0x7FFFFFFF, kBoundedOk, 3}};
  for (const auto& row : lengths) {
    uint32_t length = 99;
    EXPECT_EQ(row.result, BoundedLength("abc", row.capacity, &length)) << row.capacity;
    EXPECT_EQ(row.length, length) << row.capacity;
  }
  EXPECT_EQ(kBoundedOk, BoundedLength("", 1, nullptr));
}
