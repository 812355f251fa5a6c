#include <gtest/gtest.h>

#include <cstring>

#include "mania/Bounded.h"

TEST(BoundedFormat, Smoke) {
  char buf[8];
  EXPECT_EQ(kBoundedOk, BoundedFormat(buf, sizeof buf, "%d", 42));
  EXPECT_STREQ("42", buf);
}
