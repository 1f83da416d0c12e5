// The stream listing line: every column and setting over fixed times, and
// the UTF-8 conversion.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "framework/environment.h"
#include "framework/settings.h"
#include "framework/stream_listing.h"
#include "framework/streams.h"
#include "support/test_support.h"
#include "unit/stream_listing_checks.h"

namespace {

using stream_listing_checks::blanks;
using stream_listing_checks::kSize26;
using stream_listing_checks::listing_defaults;


file_times fixed_times() {
  file_times t{};
  t.last_write = {7, 12, 2026, 14, 5, 9, 0};
  t.last_access = {1, 2, 2025, 3, 4, 5, 0};
  t.creation = {12, 31, 1999, 23, 59, 59, 0};
  return t;
}


class ListingLineTest : public testing::Test {
 protected:
  void SetUp() override {
    test::reset_all_state();
    listing_defaults();
  }
  std::string line(const std::u16string& object = u"dir1",
                   const std::u16string& stream = u":Zone.Identifier", uint64_t size = 26) {
    return stream_line(object, stream, size, fixed_times());
  }
};

TEST_F(ListingLineTest, DefaultLayout) {
  EXPECT_EQ(line(), "dir1:Zone.Identifier" + blanks(20) + " " + kSize26 +
                        " 07/12/2026 14:05w EST Dadata \n");
}

TEST_F(ListingLineTest, EveryColumnIsFollowedByTheDelimiter) {
  delim_char = '|';
  g_options.opt_8 = 1;
  g_options.comment = 1;
  comment_text = u"PC1";
  EXPECT_EQ(line(), "PC1|dir1:Zone.Identifier" + blanks(20) + "|" + kSize26 +
                        "|07/12/2026|14:05w|EST|Dadata|" + blanks(16) + "|\n");
}

TEST_F(ListingLineTest, EachTimeKindShowsItsOwnTime) {
  const std::string name = "dir1:Zone.Identifier" + blanks(20) + " " + kSize26 + " ";
  const struct {
    char kind;
    std::string columns;
  } cases[] = {
      {'w', "07/12/2026 14:05w EST "},
      {'m', "07/12/2026 14:05w EST "},
      {'a', "01/02/2025 03:04a EST "},
      {'c', "12/31/1999 23:59w EST "},  // creation carries "w" too
      {'3', blanks(56) + " " + blanks(3) + " EST "},
      {'x', "EST "},  // an unknown letter: no time, the zone still
      {'0', ""},      // neither time nor zone
  };
  for (const auto& c : cases) {
    g_options.time_kind = c.kind;
    EXPECT_EQ(line(), name + c.columns + "Dadata \n") << "time_kind " << c.kind;
  }
}

TEST_F(ListingLineTest, WithoutShowTimeOnlyTheZoneRemains) {
  g_options.show_time = 0;
  EXPECT_EQ(line(), "dir1:Zone.Identifier" + blanks(20) + " " + kSize26 + " EST Dadata \n");
  g_options.time_kind = '0';
  EXPECT_EQ(line(), "dir1:Zone.Identifier" + blanks(20) + " " + kSize26 + " Dadata \n");
}

TEST_F(ListingLineTest, ZoneColumn) {
  g_options.zulu = 1;
  EXPECT_NE(line().find(" 14:05w GMT Dadata"), std::string::npos);
  g_options.zulu = 0;
  std::strcpy(g_zone_abbrev, "TZ");  // right-aligned in three
  EXPECT_NE(line().find(" 14:05w  TZ Dadata"), std::string::npos);
  std::strcpy(g_zone_abbrev, "ABCDE");  // cut to three
  EXPECT_NE(line().find(" 14:05w ABC Dadata"), std::string::npos);
}

TEST_F(ListingLineTest, ZeroFieldsShowAsTheYear1980Date) {
  file_times t{};
  t.last_write = {0, 0, 1980, 0, 0, 0, 0};
  EXPECT_NE(stream_line(u"a", u":s", 1, t).find(" 00/00/1980 00:00w EST "), std::string::npos);
}

TEST_F(ListingLineTest, SizeColumn) {
  const auto size_part = [&](uint64_t size) {
    g_options.width = 0;
    g_options.time_kind = '0';
    const std::string l = line(u"d", u":s", size);
    return l.substr(0, l.size() - std::string(" Dadata \n").size());
  };
  EXPECT_EQ(size_part(0), blanks(20) + "0");
  EXPECT_EQ(size_part(5), blanks(20) + "5");
  EXPECT_EQ(size_part(5000000000ULL), blanks(11) + "5000000000");
  EXPECT_EQ(size_part(9223372036854775807ULL), "  9223372036854775807");
  EXPECT_EQ(size_part(18446744073709551615ULL), "  18446744073709551615");
}

TEST_F(ListingLineTest, PathOnlyEndsAfterTheNameColumn) {
  g_options.path_only = 1;
  EXPECT_EQ(line(), "dir1:Zone.Identifier" + blanks(20) + " \n");
}

TEST_F(ListingLineTest, NameColumnIsPaddedOrCutToWidth) {
  g_options.width = 8;
  EXPECT_EQ(line().substr(0, 9), "dir1:Zon ");
  g_options.width = 0;  // no name column at all
  EXPECT_EQ(line(), kSize26 + " 07/12/2026 14:05w EST Dadata \n");
}

TEST_F(ListingLineTest, VariableLengthNameIsNotPadded) {
  g_options.var_len = 1;
  delim_char = '|';
  EXPECT_EQ(line().substr(0, 21), "dir1:Zone.Identifier|");
}

TEST_F(ListingLineTest, NameOnlyUsesItsOwnWidth) {
  g_options.name_only = 1;
  g_options.name_width = 6;
  EXPECT_EQ(line().substr(0, 7 + kSize26.size()), "dir1:Z " + kSize26);
  g_options.name_width = 25;
  EXPECT_EQ(line().substr(0, 26), "dir1:Zone.Identifier" + blanks(5) + " ");
  g_options.width = 0;  // the name column goes with width, not name_width
  EXPECT_EQ(line().substr(0, kSize26.size()), kSize26);
}

TEST_F(ListingLineTest, NameOnlyWithVariableLengthHasNoDelimiter) {
  g_options.name_only = 1;
  g_options.var_len = 1;
  delim_char = '|';
  EXPECT_EQ(line(), "dir1:Zone.Identifier" + kSize26 + "|07/12/2026|14:05w|EST|Dadata|\n");
}

TEST_F(ListingLineTest, UnitsAboveAsciiBecomeTheLeadByteOfTheirUtf8) {
  g_options.var_len = 1;
  // e-acute (2 bytes in UTF-8), the euro sign (3), and a surrogate pair.
  const std::string l = line(u"caf\u00e9", u":\u20ac\U0001F600", 1);
  EXPECT_EQ(l.substr(0, 9), "caf\xC3:\xE2\xED\xED ");
  // Padding and cutting count units, one byte each.
  g_options.var_len = 0;
  g_options.width = 6;
  EXPECT_EQ(line(u"\u00e9\u00e9", u":s", 1).substr(0, 7), "\xC3\xC3:s   ");
}

TEST_F(ListingLineTest, NameOnlyKeepsUnitsThatFitInAByte) {
  g_options.name_only = 1;
  g_options.var_len = 1;
  // Latin-1 as it is; a unit beyond a byte cannot be written and shows '?'.
  EXPECT_EQ(line(u"caf\u00e9", u":\u20ac", 1).substr(0, 7), "caf\xE9:? ");
}

TEST_F(ListingLineTest, Utf8NameColumn) {
  g_options.utf8 = 1;
  g_options.width = 12;
  EXPECT_EQ(line(u"caf\u00e9", u":\U0001F600", 1).substr(0, 13),
            "caf\xC3\xA9:\xF0\x9F\x98\x80   ");  // 10 bytes padded to 12
}

TEST_F(ListingLineTest, Utf8CutNeverSplitsACharacter) {
  g_options.utf8 = 1;
  g_options.width = 6;
  // "abcde" fills 5 bytes; the 2-byte e-acute does not fit in the sixth.
  EXPECT_EQ(line(u"abcde\u00e9", u":s", 1).substr(0, 7), "abcde  ");
  g_options.width = 7;
  EXPECT_EQ(line(u"abcde\u00e9", u":s", 1).substr(0, 8), "abcde\xC3\xA9 ");
  g_options.width = 3;
  EXPECT_EQ(line(u"\U0001F600", u":s", 1).substr(0, 4), "    ");
}

TEST_F(ListingLineTest, CommentColumnNeedsSettingAndText) {
  comment_text = u"HOST";
  EXPECT_EQ(line().substr(0, 4), "dir1");  // comment off
  g_options.comment = 1;
  EXPECT_EQ(line().substr(0, 9), "HOST dir1");
  comment_text.clear();
  EXPECT_EQ(line().substr(0, 4), "dir1");
}

TEST(Utf16ToUtf8Test, CodePointsAndSurrogates) {
  const struct {
    std::u16string in;
    std::string out;
  } cases[] = {
      {u"abc", "abc"},
      {u"\u00e9", "\xC3\xA9"},
      {u"\u07ff\u0800", "\xDF\xBF\xE0\xA0\x80"},
      {u"\uffff", "\xEF\xBF\xBF"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
      {std::u16string(1, char16_t(0xD800)) + u"a", "\xED\xA0\x80" "a"},  // lone high
      {std::u16string(1, char16_t(0xDC80)), "\xED\xB2\x80"},             // lone low
      {std::u16string{char16_t(0xDC00), char16_t(0xD800)}, "\xED\xB0\x80\xED\xA0\x80"},
  };
  for (const auto& c : cases) {
    utf16_to_utf8(c.in);
    EXPECT_EQ(std::string(g_utf8_buf.c_str()), c.out);
  }
}

TEST(Utf16ToUtf8Test, StopsBeforeACharacterThatPassesTheLimit) {
  utf16_to_utf8(std::u16string(40000, u'a'));
  EXPECT_EQ(std::strlen(g_utf8_buf.c_str()), kUtf8ConvertBytes - 1);  // and its terminator
  // A three-byte character that would straddle the limit is left out whole.
  utf16_to_utf8(std::u16string(kUtf8ConvertBytes - 3, u'a') + u"\u20ac");
  EXPECT_EQ(std::strlen(g_utf8_buf.c_str()), kUtf8ConvertBytes - 3);
  utf16_to_utf8(std::u16string(kUtf8ConvertBytes - 4, u'a') + u"\u20ac");
  EXPECT_EQ(std::strlen(g_utf8_buf.c_str()), kUtf8ConvertBytes - 1);
}

}  // namespace
