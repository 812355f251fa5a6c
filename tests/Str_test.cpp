#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gen/Str.h"
#include "gen/err/errgpfse.h"
#include "toolkit/FiredCheck.h"

namespace {

// An owning text holds exactly its length + 1 bytes.
size_t BlockSize(const Str& s) { return HeapSize(guardState.privateHeap, 0, s.Text()); }

}  // namespace

TEST(Str, EmptyResultsShareOneTextAndOwnersHoldExactlyTheirBytes) {
  Str unset;
  EXPECT_EQ(nullptr, unset.Text());
  // Built in place, not copied: a copy would hide an allocated empty text.
  const Str empties[] = {Str(static_cast<const char*>(nullptr)), Str(""), Str(StrView("abc", 0)),
                         Str(StrView(nullptr, 5)), Str(unset), Str::Format("%s", "")};
  for (const Str& s : empties) EXPECT_EQ(Str::SharedEmpty(), s.Text());

  const char bytes[] = {'a', 0, 'b', 'c', 'd'};
  Str view(StrView(bytes, 4));
  EXPECT_EQ(0, memcmp(view.Text(), "a\0bc\0", 5));
  EXPECT_EQ(5u, BlockSize(view));
  Str formatted = Str::Format("%s-%d", "a", 12);
  EXPECT_STREQ("a-12", formatted.Text());
  EXPECT_EQ(5u, BlockSize(formatted));
}

TEST(Str, CopiesOwnTheirBlocksAndMayBeAssignedFromThemselves) {
  Str a("text");
  Str b(a);
  b.Text()[0] = 'n';
  EXPECT_STREQ("text", a.Text());
  a = b;
  EXPECT_NE(a.Text(), b.Text());
  EXPECT_STREQ("next", a.Text());

  Str s("hello world");
  s = *&s;
  EXPECT_STREQ("hello world", s.Text());
  s = s.Text() + 6;
  EXPECT_STREQ("world", s.Text());
  s = StrView(s.Text() + 1, 3);
  EXPECT_STREQ("orl", s.Text());
  EXPECT_EQ(4u, BlockSize(s));
}

TEST(FormatStatic, ChecksTextsNearTheBufferEnd) {
  std::string fits(199979, 'x'), tooLong(199980, 'y');
  EXPECT_EQ("", FiredCheck([&] { EXPECT_EQ(fits, Str::Format("%s", fits.c_str()).Text()); }));
  EXPECT_EQ("..\\gen\\Statbuf.cpp:14", FiredCheck([&] { Str::Format("%s", tooLong.c_str()); }));
}
