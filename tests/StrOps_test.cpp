#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "gen/Str.h"
#include "gen/StrBuilder.h"
#include "gen/err/errgpfse.h"
#include "toolkit/FiredCheck.h"

namespace {

const char kStr[] = "..\\gen\\Str.cpp:";

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

TEST(StrOps, CutsCountFromEitherEndAndClampsRanges) {
  const struct {
    const char* result;
    Str (*cut)(StrView, uint32_t);
    const char* text;
    uint32_t count;
  } cases[] = {
      {"ab", Left, "abc", 2},   {"abc", Left, "abc", 7},  {"", Left, "abc", 0},
      {"bc", Right, "abc", 2},  {"abc", Right, "abc", 9}, {"", Right, "abc", 0},
      {"", Right, "", 3},
  };
  for (const auto& c : cases) {
    Str result = c.cut(c.text, c.count);
    EXPECT_STREQ(c.result, result.Text()) << c.text << " " << c.count;
    if (!*c.result) {
      EXPECT_TRUE(result.IsSharedEmpty());
    }
  }
  EXPECT_STREQ("cd", Mid("abcdef", 2, 4).Text());
  EXPECT_STREQ("ef", Mid("abcdef", 4, 99).Text());
  EXPECT_TRUE(Mid("abcdef", 5, 3).IsSharedEmpty());  // start behind the end
  EXPECT_TRUE(Left(Str(), 3).IsSharedEmpty());
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
    std::string text = word(0, round % 10 ? 40 : 300);
    std::string searched = word(1, 3), replacement = word(0, 4);
    Str s(text.c_str());
    Replace(s, searched.c_str(), replacement.c_str());
    std::string expected = ReferenceReplace(text, searched, replacement);
    ASSERT_EQ(expected, s.Text()) << text << " / " << searched << " / " << replacement;
    if (expected.empty()) {
      ASSERT_TRUE(s.IsSharedEmpty()) << text << " / " << searched;
    } else {
      ASSERT_EQ(expected.size() + 1, BlockSize(s.Text())) << text << " / " << searched;
    }
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
      {"abc", "abc", true},
      {"abc", "abd", false},
      {"ab", "abc", false},
      {StrView(), "", true},
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
      {121, [] { StrBuilder().AppendText("x"); }},
      {128, [] { StrBuilder().Init(kArrayLimit); }},
      {181, [] { RequireNonEmpty(Str()); }},
      {181, [] { RequireNonEmpty(Str("")); }},
      {185, [] { RequireText(static_cast<const char*>(nullptr)); }},
      {189, [] { char empty[1] = ""; RequireText(empty); }},
      {201, [] { RequireByKey(keys, keys + 1, [](const char* key) { return key; }, "y"); }},
      {224, [] { HeadUpTo(inner, text + 5); }},
      {224, [] { HeadUpTo(inner, text + 1); }},
      {230, [] { TailAfter(inner, whole); }},
      {230, [] { TailAfter(StrView(text, 3), inner); }},
      {235, [] { RestAfter(text + 3, inner); }},
  };
  for (const auto& c : cases) EXPECT_EQ(kStr + std::to_string(c.line), FiredCheck(c.misuse));

  EXPECT_EQ("", FiredCheck([&] {
              EXPECT_EQ(text, RequireText(static_cast<const char*>(text)));
              EXPECT_EQ("abcdef", Text(HeadUpTo(whole, text + 6)));
              EXPECT_EQ("ef", Text(TailAfter(whole, inner)));
              EXPECT_EQ("e", Text(RestAfter(text + 5, inner)));
            }));
}

TEST(StrOps, RangeViewClampsStartThenEnd) {
  const struct {
    uint32_t start, end;
    const char* result;
  } cases[] = {{1, 3, "bc"}, {4, 99, "ef"}, {9, 12, ""}, {3, 1, ""}, {0, 6, "abcdef"}};
  for (const auto& c : cases)
    EXPECT_EQ(c.result, Text(RangeView("abcdef", c.start, c.end))) << c.start << "-" << c.end;
}

TEST(Split, KeepsEmptyTokens) {
  const struct {
    const char* text;
    std::vector<std::string> tokens;
  } cases[] = {
      {"a,b,", {"a", "b", ""}},
      {"", {""}},
      {",", {"", ""}},
      {"abc", {"abc"}},
      {",,x", {"", "", "x"}},
  };
  for (const auto& c : cases) {
    ViewBlock block = Split(c.text, ',', 2);
    std::vector<std::string> tokens;
    for (const StrView& token : block) tokens.push_back(Text(token));
    EXPECT_EQ(c.tokens, tokens) << c.text;
    EXPECT_EQ(block.Count() * sizeof(StrView), BlockSize(block.begin()));
  }
}

TEST(Split, ThenJoinGivesTheTextBack) {
  std::mt19937 random(99);
  for (int round = 0; round < 1000; ++round) {
    std::string text(random() % 30, ' ');
    for (char& c : text) c = "ab;;"[random() % 4];
    ViewBlock tokens = Split(text.c_str(), ';', random() % 4);
    std::string joined;
    for (uint32_t i = 0; i < tokens.Count(); ++i) joined += (i ? ";" : "") + Text(tokens[i]);
    ASSERT_EQ(text, joined);
  }
}

TEST(StrBuilder, GrowsToHalfAgainOfWhatIsNeeded) {
  StrBuilder exact;
  exact.Init(3);
  exact.Append("012", 3);  // fills the block, terminator included
  EXPECT_EQ(4u, exact.Capacity());
  exact.Append("3", 1);
  EXPECT_EQ(7u, exact.Capacity());

  StrBuilder builder;
  builder.Init(3);
  EXPECT_EQ(4u, builder.Capacity());
  builder.Append("0123456789", 10);
  EXPECT_EQ(16u, builder.Capacity());
  EXPECT_STREQ("0123456789", builder.Text());
  builder.AppendText(nullptr);
  builder.AppendFormat("-%d-%s", 42, "x");
  EXPECT_STREQ("0123456789-42-x", builder.Text());
  builder.Append(builder.Text(), builder.Length());  // from itself, while growing
  EXPECT_STREQ("0123456789-42-x0123456789-42-x", builder.Text());
  EXPECT_EQ(30u, builder.Length());
}

TEST(StrBuilder, ZeroBytesSurviveGrowth) {
  StrBuilder builder;
  builder.Init(1);
  builder.Append("a\0b", 3);
  builder.AppendText("cdefgh");
  EXPECT_EQ(9u, builder.Length());
  EXPECT_EQ(std::string("a\0bcdefgh", 9), Text(builder.View()));
}

TEST(ScratchBuffer, LendsARoomAndCopiesWhatWasWritten) {
  EXPECT_TRUE(ScratchText().IsSharedEmpty());
  char* room = ScratchBuffer(10);
  EXPECT_STREQ("", room);
  strcpy(room, "written");
  EXPECT_STREQ("written", ScratchText().Text());
  EXPECT_STREQ("", ScratchBuffer(2));
}
