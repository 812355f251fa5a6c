#include <gtest/gtest.h>

#include "gen/Str.h"

TEST(Str, Smoke) {
  Str s("abc");
  EXPECT_STREQ("abc", s.Text());
}
