#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "gen/Str.h"
#include "gen/StrBuilder.h"
#include "gen/err/errgpfse.h"
#include "toolkit/FiredCheck.h"

namespace {

std::string Text(StrView view) { return std::string(view.text, view.Length()); }

size_t BlockSize(const void* block) { return HeapSize(guardState.privateHeap, 0, block); }

// Every occurrence, left to right, never searching the replacements:
// "aaa" with "aa" as "b" is "ba", "aa" with "a" as "aa" is "aaaa".
std::string ReferenceReplace(std::string text, const std::string& searched,
                             const std::string& replacement) {
  for (size_t at = text.find(searched); at != std::string::npos;
       at = text.find(searched, at + replacement.size())) {
    text.replace(at, searched.size(), replacement);
  }
  return text;
}

}  // namespace

// An empty result is the shared empty text. Mid and the range view cut the
// end to the length first, then the start to the end.
TEST(StrOps, CutsCountFromEitherEndAndClampsRanges) {
  const struct {
    Str result;
    const char* expected;
  } cases[] = {
      {Left("abc", 2), "ab"},      {Left("abc", 7), "abc"},      {Left("abc", 0), ""},
      {Right("abc", 2), "bc"},     {Right("abc", 9), "abc"},     {Right("abc", 0), ""},
      {Right("", 3), ""},          {Left(Str(), 3), ""},         {Mid("abcdef", 2, 4), "cd"},
      {Mid("abcdef", 4, 99), "ef"}, {Mid("abcdef", 5, 3), ""},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(c.expected, c.result.Text());
    EXPECT_EQ(!*c.expected, c.result.IsSharedEmpty()) << c.expected;
  }
  EXPECT_EQ("ef", Text(RangeView("abcdef", 4, 99)));
  EXPECT_EQ("", Text(RangeView("abcdef", 9, 12)));
  EXPECT_EQ("", Text(RangeView("abcdef", 3, 1)));
}

TEST(StrOps, ConcatAndCharacterEdits) {
  Str joined = Concat("ab", StrView("cdXX", 2));
  EXPECT_STREQ("abcd", joined.Text());
  EXPECT_EQ(5u, BlockSize(joined.Text()));
  EXPECT_TRUE(Concat("", StrView()).IsSharedEmpty());

  Str text("A/B/c\xC4");
  char* before = text.Text();
  ReplaceChar(text, '/', '\\');
  EXPECT_EQ(&text, &ToLower(text));
  EXPECT_EQ(before, text.Text());
  EXPECT_STREQ("a\\b\\c\xC4", text.Text());  // the runtime's mapping: ASCII only
}

TEST(StrOps, ReplaceWithoutOccurrenceKeepsThePointer) {
  // The terminator is no part of the text: "c\0" does not occur in "cc".
  for (StrView searched : {StrView("ab"), StrView(""), StrView("c\0", 2)}) {
    Str text("cc");
    char* before = text.Text();
    Replace(text, searched, "x");
    EXPECT_EQ(before, text.Text()) << searched.text;
    EXPECT_STREQ("cc", text.Text());
  }
  Str text("one two");
  Replace(text, "two", StrView(text.Text(), 3));  // replacement taken from the text itself
  EXPECT_STREQ("one one", text.Text());
}

// Overlapping, repeated, shrinking, growing and emptying replacements all
// come up on a three-letter alphabet, long and short pieces too; the
// result takes exactly its bytes.
TEST(StrOps, ReplaceMatchesAReferenceOnRandomTexts) {
  std::mt19937 random(31337);
  auto word = [&](size_t minLength, size_t maxLength) {
    std::string text(minLength + random() % (maxLength - minLength + 1), ' ');
    for (char& c : text) c = "abc"[random() % 3];
    return text;
  };
  for (int round = 0; round < 2000; ++round) {
    // Every hundredth round, a long text whose result could grow far:
    // the size is then counted first rather than bounded.
    bool longRound = round % 100 == 0;
    std::string text = longRound ? word(5000, 6000) : word(0, round % 10 ? 40 : 300);
    std::string searched = word(1, longRound ? 1 : 3), replacement = word(longRound ? 4 : 0, 4);
    Str s(text.c_str());
    Replace(s, searched.c_str(), replacement.c_str());
    std::string expected = ReferenceReplace(text, searched, replacement);
    ASSERT_EQ(expected, s.Text()) << text << " / " << searched << " / " << replacement;
    ASSERT_EQ(expected.empty() ? 0 : expected.size() + 1,
              s.IsSharedEmpty() ? 0 : BlockSize(s.Text())) << text << " / " << searched;
  }
}

TEST(StrOps, TrimBlanksAndEquals) {
  EXPECT_STREQ("a b", TrimBlanks("  a b  ").Text());
  EXPECT_TRUE(TrimBlanks("    ").IsSharedEmpty());
  EXPECT_STREQ("\ta \t", TrimBlanks(" \ta \t ").Text());

  const struct {
    StrView a, b;
    bool equal;
  } cases[] = {
      {"abc", "abc", true}, {"abc", "abd", false}, {"ab", "abc", false}, {StrView(), "", true},
      {StrView(nullptr, 4), StrView("xy", 0), true},
      {StrView("a\0x", 3), StrView("a\0y", 3), true},  // the comparison ends at a zero byte
  };
  for (const auto& c : cases) EXPECT_EQ(c.equal, Equals(c.a, c.b)) << Text(c.a) << "|" << Text(c.b);
}

TEST(StrOps, FindByKeyComparesKeysExactly) {
  struct Entry {
    const char* name;
    int value;
  };
  const Entry table[] = {{"alpha", 1}, {nullptr, 2}, {"Beta", 3}, {"beta", 4}};
  auto name = [](const Entry& e) { return e.name; };
  EXPECT_EQ(4, FindByKey(table, table + 4, name, "beta")->value);
  EXPECT_EQ(nullptr, FindByKey(table, table + 4, name, "BETA"));
  EXPECT_EQ(nullptr, FindByKey(table, table + 4, name, nullptr));
  EXPECT_EQ(1, RequireByKey(table, table + 4, name, "alpha")->value);
}

TEST(StrOps, EveryCheckReportsItsLine) {
  static const char text[] = "abcdef";
  static const StrView whole(text, 6), inner(text + 2, 2);
  static const char* const keys[] = {"x"};
  const struct {
    int line;
    std::function<void()> misuse;
  } cases[] = {
      {121, [] { StrBuilder().AppendText("x"); }}, {128, [] { StrBuilder().Init(kArrayLimit); }},
      {181, [] { RequireNonEmpty(Str()); }},       {181, [] { RequireNonEmpty(Str("")); }},
      {185, [] { RequireText(static_cast<const char*>(nullptr)); }},
      {189, [] { char empty[1] = ""; RequireText(empty); }},
      {201, [] { RequireByKey(keys, keys + 1, [](const char* key) { return key; }, "y"); }},
      {224, [] { HeadUpTo(inner, text + 5); }},    {224, [] { HeadUpTo(inner, text + 1); }},
      {230, [] { TailAfter(inner, whole); }},      {230, [] { TailAfter(StrView(text, 3), inner); }},
      {235, [] { RestAfter(text + 3, inner); }},
  };
  for (const auto& c : cases)
    EXPECT_EQ("..\\gen\\Str.cpp:" + std::to_string(c.line), FiredCheck(c.misuse));

  EXPECT_EQ("", FiredCheck([&] {
              EXPECT_EQ(text, RequireText(static_cast<const char*>(text)));
              EXPECT_EQ("abcdef|ef|e", Text(HeadUpTo(whole, text + 6)) + "|" +
                                          Text(TailAfter(whole, inner)) + "|" +
                                          Text(RestAfter(text + 5, inner)));
            }));
}

// Empty tokens (first, last, the whole text) and every reserve size come
// up; the block takes exactly its views.
TEST(Split, KeepsEmptyTokensAndJoinsBackToTheText) {
  std::mt19937 random(99);
  for (int round = 0; round < 1000; ++round) {
    std::string text(random() % 30, ' ');
    for (char& c : text) c = "ab;;"[random() % 4];
    ViewBlock tokens = Split(text.c_str(), ';', random() % 4);
    std::string joined;
    for (uint32_t i = 0; i < tokens.Count(); ++i) joined += (i ? ";" : "") + Text(tokens[i]);
    ASSERT_EQ(text, joined);
    ASSERT_EQ(std::count(text.begin(), text.end(), ';') + 1u, tokens.Count()) << text;
    ASSERT_EQ(tokens.Count() * sizeof(StrView), BlockSize(tokens.begin())) << text;
  }
}

// Zero bytes survive a growth, and a builder may append its own text.
TEST(StrBuilder, GrowsToHalfAgainOfWhatIsNeeded) {
  StrBuilder exact;
  exact.Init(3);
  exact.Append("012", 3);  // fills the block, terminator included
  EXPECT_EQ(4u, exact.Capacity());
  exact.Append("3", 1);
  EXPECT_EQ(7u, exact.Capacity());

  StrBuilder builder;
  builder.Init(3);
  builder.Append("0123456789", 10);
  EXPECT_EQ(16u, builder.Capacity());
  builder.AppendText(nullptr);
  builder.AppendFormat("-%d-%s", 42, "x");
  builder.Append(builder.Text(), builder.Length());  // from itself, while growing
  EXPECT_EQ("0123456789-42-x0123456789-42-x", Text(builder.View()));
  StrBuilder zero;
  zero.Init(1);
  zero.Append("a\0b", 3);
  zero.AppendText("cdefgh");
  EXPECT_EQ(std::string("a\0bcdefgh", 9), Text(zero.View()));
}

TEST(ScratchBuffer, LendsARoomAndCopiesWhatWasWritten) {
  EXPECT_TRUE(ScratchText().IsSharedEmpty());
  char* room = ScratchBuffer(10);
  EXPECT_STREQ("", room);
  strcpy(room, "written");
  EXPECT_STREQ("written", ScratchText().Text());
  EXPECT_STREQ("", ScratchBuffer(2));
}
