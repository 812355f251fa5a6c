#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gen/Memwing.h"
#include "gen/Statbuf.h"
#include "gen/Str.h"
#include "gen/err/errgpfse.h"
#include "toolkit/Raised.h"

namespace {

size_t BlockSize(const Str& s) {
  return HeapSize(guardState.privateHeap, 0, s.Text());
}

const char* Formatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const char* result = FormatStatic(format, args);
  va_end(args);
  return result;
}

}  // namespace

TEST(Str, ThreeStatesAndTheSharedEmptyText) {
  Str unset;
  EXPECT_TRUE(unset.IsUnset());
  EXPECT_EQ(nullptr, unset.Text());

  Str fromNull(static_cast<const char*>(nullptr));
  Str fromEmpty("");
  Str fromView(StrView("abc", 0));
  Str fromNullView(StrView(nullptr, 5));
  Str copyOfUnset(unset);
  for (const Str* s : {&fromNull, &fromEmpty, &fromView, &fromNullView, &copyOfUnset})
    EXPECT_EQ(Str::SharedEmpty(), s->Text());

  Str owning("abc");
  EXPECT_STREQ("abc", owning.Text());
  EXPECT_EQ(4u, BlockSize(owning));
}

TEST(Str, ViewCopiesExactlyItsBytesAndTerminates) {
  const char bytes[] = {'a', 0, 'b', 'c', 'd'};
  Str s(StrView(bytes, 4));
  EXPECT_EQ(0, memcmp(s.Text(), "a\0bc\0", 5));
  EXPECT_EQ(5u, BlockSize(s));
}

TEST(Str, CopiesOwnTheirBlocks) {
  Str a("text");
  Str b(a);
  EXPECT_NE(a.Text(), b.Text());
  b.Text()[0] = 'n';
  EXPECT_STREQ("text", a.Text());
  a = b;
  EXPECT_STREQ("next", a.Text());
  EXPECT_NE(a.Text(), b.Text());
}

TEST(Str, AssignmentFromItselfOrAPartOfItself) {
  Str s("hello world");
  s = s;
  EXPECT_STREQ("hello world", s.Text());
  s = s.Text() + 6;
  EXPECT_STREQ("world", s.Text());
  s = StrView(s.Text() + 1, 3);
  EXPECT_STREQ("orl", s.Text());
  EXPECT_EQ(4u, BlockSize(s));
  s = "";
  EXPECT_TRUE(s.IsSharedEmpty());
}

TEST(Str, FormattingCopiesTheStaticBuffer) {
  Str s = Str::Format("%s-%d", "a", 12);
  EXPECT_STREQ("a-12", s.Text());
  EXPECT_EQ(5u, BlockSize(s));
  Str empty = Str::Format("%s", "");
  EXPECT_TRUE(empty.IsSharedEmpty());
}

TEST(FormatStatic, ChecksTextsNearTheBufferEnd) {
  std::string fits(199979, 'x');
  Raised raised = CatchRaised([&] { EXPECT_EQ(fits, Formatted("%s", fits.c_str())); });
  EXPECT_EQ(0, raised.count);

  std::string tooLong(199980, 'y');
  raised = CatchRaised([&] { Formatted("%s", tooLong.c_str()); });
  EXPECT_EQ(101u, raised.code);
  EXPECT_EQ("Asserted", raised.text);
}
