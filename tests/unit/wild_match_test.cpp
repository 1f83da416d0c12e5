// The exclusion matcher: stars, sets, escapes.
#include <gtest/gtest.h>

#include "framework/wild_match.h"

namespace {
bool matches(const char16_t* pattern, const char16_t* text) {
  return wild_match(pattern, text) == 0;
}
}  // namespace

TEST(WildMatch, StarsAndQuestionMarks) {
  EXPECT_TRUE(matches(u"*", u""));
  EXPECT_TRUE(matches(u"**", u"abc"));
  EXPECT_FALSE(matches(u"A*?", u"A"));
  EXPECT_TRUE(matches(u"A*?", u"AB"));
  EXPECT_TRUE(matches(u"*.TMP", u"README.TMP"));
  EXPECT_FALSE(matches(u"*.TMP", u"README.TMPX"));
  EXPECT_TRUE(matches(u"*/*", u"a/b"));
  EXPECT_TRUE(matches(u"*X*Y", u"aXbXcY"));
  EXPECT_FALSE(matches(u"?", u""));
  EXPECT_TRUE(matches(u"??", u"ab"));
  EXPECT_FALSE(matches(u"a", u"A"));  // no case folding
}

TEST(WildMatch, Sets) {
  EXPECT_FALSE(matches(u"[!AB]*", u"BX"));
  EXPECT_TRUE(matches(u"[!AB]*", u"CX"));
  EXPECT_TRUE(matches(u"[^AB]", u"C"));
  EXPECT_TRUE(matches(u"[]]", u"]"));
  EXPECT_TRUE(matches(u"[A-]", u"-"));
  EXPECT_TRUE(matches(u"[A-C]", u"B"));
  EXPECT_FALSE(matches(u"[A-C]", u"D"));
  EXPECT_FALSE(matches(u"[A", u"A"));
  EXPECT_FALSE(matches(u"[A]", u""));
  EXPECT_TRUE(matches(u"[\\]]", u"]"));
  EXPECT_TRUE(matches(u"[A-\\]]", u"\\"));
  EXPECT_TRUE(matches(u"*[0-9]", u"file7"));
  EXPECT_FALSE(matches(u"*[0-9]", u"file"));
}

TEST(WildMatch, Escapes) {
  EXPECT_TRUE(matches(u"A\\*", u"A*"));
  EXPECT_FALSE(matches(u"A\\*", u"AB"));
  EXPECT_FALSE(matches(u"ABC\\", u"ABC\\"));
  EXPECT_FALSE(matches(u"ABC\\", u"ABC"));
  EXPECT_TRUE(matches(u"*\\*", u"x*"));
  EXPECT_FALSE(matches(u"*\\", u"x"));
}

TEST(WildMatch, PlainPatternMatchesOnlyItself) {
  for (const char16_t* text : {u"", u"a", u"abc", u"a.b.c", u"A B"}) {
    EXPECT_TRUE(matches(text, text));
    EXPECT_FALSE(matches(text, (std::u16string(text) + u"x").c_str()));
  }
}

TEST(WildMatch, QuestionMarkTakesOneCharacterAndStarsStayFast) {
  EXPECT_FALSE(matches(u"?", u"rr"));
  EXPECT_FALSE(matches(u"A?", u"ABC"));
  EXPECT_TRUE(matches(u"A?C", u"ABC"));
  EXPECT_TRUE(matches(u"?*", u"ABC"));
  // Many stars against a long name that almost matches: the time stays
  // linear in each length, not exponential in the stars.
  const std::u16string name(250, u'A');
  EXPECT_FALSE(matches(u"*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*B", name.c_str()));
  EXPECT_TRUE(matches(u"*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*", name.c_str()));
}
