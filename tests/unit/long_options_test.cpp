// Long options: name matching, value kinds and the effect of every row.
#include "framework/acct.h"
#include "framework/long_options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "framework/options.h"
#include "framework/search_lists.h"
#include "framework/settings.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

using Field = int32_t option_rec::*;

class LongOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override { test::reset_all_state(); }
  void TearDown() override {
    if (memo_file) std::fclose(memo_file);
    memo_file = nullptr;
  }

  static int apply(const std::u16string& text) { return parse_long_option(text, g_options); }
};

struct FieldCase {
  const char16_t* text;
  Field field;
  int32_t before;
  int32_t after;
};

TEST_F(LongOptionsTest, RowsSetTheirFields) {
  const FieldCase cases[] = {
      {u"APP", &option_rec::append, 0, 1},
      {u"append", &option_rec::append, 0, 1},
      {u"APPLE", &option_rec::append, 0, 1},  // only the first three count
      {u"APP=OFF", &option_rec::append, 0, 1},  // a value is ignored
      {u"CRC", &option_rec::crc, 0, 1},
      {u"CRC", &option_rec::sha1, 1, 0},
      {u"CRC", &option_rec::hash, 1, 0},
      {u"CREATE", &option_rec::create, 0, 1},
      {u"create", &option_rec::crc, 0, 0},  // CRE is not CRC
      {u"EXT", &option_rec::ext_mode, 0, 1},
      {u"EXT", &option_rec::name_format, 0, 2},
      {u"IM", &option_rec::immediate, 0, 1},
      {u"immediate", &option_rec::immediate, 0, 1},
      {u"PAUSE", &option_rec::pause, 0, 1},
      {u"REC=off", &option_rec::recurse, 1, 0},
      {u"REC=ON", &option_rec::recurse, 0, 1},
      {u"REC", &option_rec::recurse, 0, 1},
      {u"REC=", &option_rec::recurse, 0, 1},
      {u"RECURSE=OFF", &option_rec::recurse, 1, 0},
      {u"RES=ON", &option_rec::reset_access, 0, 1},
      {u"RESET=off", &option_rec::reset_access, 1, 0},
      {u"REVERSE", &option_rec::reverse, 0, 1},
      {u"reverse", &option_rec::reverse, 0, 1},
      {u"SHA", &option_rec::sha1, 0, 1},
      {u"SHA1", &option_rec::sha1, 0, 1},
      {u"SHA256", &option_rec::sha2, 0, 1},
      {u"SHA3", &option_rec::sha3, 0, 1},
      {u"SHA512", &option_rec::sha5, 0, 1},
      {u"STR=OFF", &option_rec::streams, 1, 0},
      {u"STREAMS", &option_rec::streams, 0, 1},
      {u"UTF8", &option_rec::utf8, 0, 1},
      {u"VAR", &option_rec::var_len, 0, 1},
      {u"WID=60", &option_rec::width, 40, 60},
      {u"WIDTH= 75x", &option_rec::width, 40, 75},
      {u"VER", &option_rec::quiet, 1, 0},  // verbose on sight, as in the INI file
      {u"VERBOSE", &option_rec::quiet, 1, 0},
      {u"VER=ON", &option_rec::quiet, 1, 0},
      {u"VER=OFF", &option_rec::quiet, 0, 1},
      {u"LINE", &option_rec::line_length, 0, 80},
      {u"LINE=132", &option_rec::line_length, 0, 132},
      {u"LINE=", &option_rec::line_length, 0, 80},
  };
  for (const FieldCase& c : cases) {
    test::reset_all_state();
    g_options.*c.field = c.before;
    EXPECT_EQ(apply(c.text), 0) << test::u8(c.text);
    EXPECT_EQ(g_options.*c.field, c.after) << test::u8(c.text);
    EXPECT_EQ(test::pauses_taken(), 0) << test::u8(c.text);
  }
}

TEST_F(LongOptionsTest, IllegalValuesReturnOneAndSetNothing) {
  const FieldCase cases[] = {
      {u"REC=NO", &option_rec::recurse, 0, 0},
      {u"REC=ONN", &option_rec::recurse, 0, 0},
      {u"STR=1", &option_rec::streams, 0, 0},
      {u"VER=YES", &option_rec::quiet, 0, 0},
      {u"RES=OF", &option_rec::reset_access, 0, 0},
      {u"ACC", &option_rec::accounting, 0, 0},
      {u"LOG=", &option_rec::accounting, 0, 0},
      {u"COM", &option_rec::comment, 0, 0},
      {u"EXC=", &option_rec::exclude, 0, 0},
      {u"GRE", &option_rec::size_greater, 0, 0},
      {u"LES=", &option_rec::size_less, 0, 0},
      {u"NEW", &option_rec::newer, 0, 0},
      {u"NEW=", &option_rec::date_filter, 0, 0},
      {u"OLD", &option_rec::older, 0, 0},
      {u"OUT=", &option_rec::output, 0, 0},
      {u"WID", &option_rec::width, 40, 40},
  };
  for (const FieldCase& c : cases) {
    test::reset_all_state();
    g_options.*c.field = c.before;
    EXPECT_EQ(apply(c.text), 1) << test::u8(c.text);
    EXPECT_EQ(g_options.*c.field, c.after) << test::u8(c.text);
  }
  for (const char16_t* text : {u"DEL", u"DEL=", u"FILE", u"PATH="}) {
    test::reset_all_state();
    EXPECT_EQ(apply(text), 1) << test::u8(text);
    EXPECT_TRUE(type_list.empty());
    EXPECT_TRUE(search_dirs.empty());
    EXPECT_EQ(delim_char, ' ');
  }
}

TEST_F(LongOptionsTest, UnknownNamesAreIgnoredWithAMessageAndAWait) {
  struct Case {
    const char16_t* text;
    const char* shown;
  } cases[] = {
      {u"ZZZ", "ZZZ"},
      {u"", ""},
      {u"REVERSE=ON", "REVERSE=ON"},  // whole names take no value
      {u"SHA1X", "SHA1X"},
      {u"SHA=1", "SHA=1"},
      {u"CRE", "CRE"},
      {u"I", "I"},
  };
  for (const Case& c : cases) {
    test::reset_all_state();
    testing::internal::CaptureStdout();
    EXPECT_EQ(apply(c.text), 0) << c.shown;
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string("\nIllegal or incomplete minusminus option of \"--") + c.shown +
                  "\" IGNORED\nPlease check the option compatability and rerun if necessary\n");
    EXPECT_EQ(test::pauses_taken(), 1);
    EXPECT_EQ(test::seconds_paused(), 3);
    EXPECT_EQ(g_options.reverse, 0);
    EXPECT_EQ(g_options.sha1, 0);
    EXPECT_EQ(g_options.create, 0);
  }
}

TEST_F(LongOptionsTest, AccountingFileNameAndSwitchNote) {
  test::TempDir dir;
  test::ScopedCwd cwd(dir.path());
  EXPECT_EQ(apply(u"ACC=Logs/Acct.txt"), 0);
  EXPECT_EQ(g_options.accounting, 1);
  EXPECT_EQ(acct_path, test::full_path(u"Logs/Acct.txt"));

  const std::filesystem::path old_log = dir.path() / "old.txt";
  acct_file = std::fopen(old_log.string().c_str(), "w");
  ASSERT_NE(acct_file, nullptr);
  EXPECT_EQ(apply(u"LOGFILE=new.txt"), 0);
  EXPECT_EQ(acct_file, nullptr);
  EXPECT_EQ(acct_path, test::full_path(u"new.txt"));
  EXPECT_EQ(test::read_file(old_log),
            "Previous log closed, and new.txt opened" + std::string(plat::line_end()));
}

TEST_F(LongOptionsTest, CommentKeepsItsCase) {
  EXPECT_EQ(apply(u"COM=Night Run"), 0);
  EXPECT_EQ(g_options.comment, 1);
  EXPECT_EQ(comment_text, u"Night Run");
  EXPECT_EQ(apply(u"COMMENT=a=b"), 0);  // the value runs from the first '='
  EXPECT_EQ(comment_text, u"a=b");
}

TEST_F(LongOptionsTest, DelimiterCharacterCodeOrPipe) {
  struct Case {
    const char16_t* text;
    char expected;
  } cases[] = {
      {u"DEL=;", ';'}, {u"DEL=pipe", '|'}, {u"DEL=PIPE", '\0'}, {u"DEL=9", '9'},
      {u"DEL=09", '\t'}, {u"DEL=44", ','}, {u"DELIM=300", static_cast<char>(300 & 0xFF)},
  };
  for (const Case& c : cases) {
    test::reset_all_state();
    EXPECT_EQ(apply(c.text), 0) << test::u8(c.text);
    EXPECT_EQ(delim_char, c.expected) << test::u8(c.text);
    EXPECT_EQ(g_options.delim, 0) << test::u8(c.text);
  }
}

TEST_F(LongOptionsTest, ExcludeAndFileAndPathFillTheirLists) {
  test::TempDir dir;
  test::ScopedCwd cwd(dir.path());
  EXPECT_EQ(apply(u"EXC=*.bak"), 0);
  EXPECT_EQ(g_options.exclude, 1);
  ASSERT_EQ(exclude_list.size(), 1u);
  EXPECT_EQ(exclude_list[0], u"*.BAK");
  EXPECT_EQ(exclude_count, 1);

  EXPECT_EQ(apply(u"FILE=*.TXT"), 0);
  EXPECT_EQ(apply(u"file=*.csv"), 0);
  ASSERT_EQ(type_list.size(), 2u);
  EXPECT_EQ(type_list[0], u"*.TXT");
  EXPECT_EQ(type_list[1], u"*.csv");

  EXPECT_EQ(apply(u"PATH=Data"), 0);
  ASSERT_EQ(search_dirs.size(), 1u);
  EXPECT_EQ(search_dirs[0], plat::long_path_prefix() + test::full_path(u"Data"));
}

TEST_F(LongOptionsTest, SizesAre64Bit) {
  EXPECT_EQ(apply(u"GRE=5000000000"), 0);
  EXPECT_EQ(g_options.size_greater, 1);
  EXPECT_EQ(size_greater_than, 5000000000LL);
  EXPECT_EQ(apply(u"LESS=12k"), 0);
  EXPECT_EQ(g_options.size_less, 1);
  EXPECT_EQ(size_less_than, 12);
}

TEST_F(LongOptionsTest, MemoWithANameOpensItForAppending) {
  test::TempDir dir;
  test::ScopedCwd cwd(dir.path());
  EXPECT_EQ(apply(u"MEMO=Memo.txt"), 0);
  EXPECT_EQ(g_options.memo, 1);
  ASSERT_NE(memo_file, nullptr);
  std::fputs("note\n", memo_file);
  std::fclose(memo_file);
  memo_file = nullptr;
  EXPECT_EQ(test::read_file(dir.path() / "Memo.txt"), "note" + std::string(plat::line_end()));
}

TEST_F(LongOptionsTest, NameAfterWidthWithOrWithoutEquals) {
  EXPECT_EQ(apply(u"NAMEAFTER"), 0);
  EXPECT_EQ(g_options.name_after, 1);
  EXPECT_EQ(g_options.name_after_set, 1);
  EXPECT_EQ(name_after_width, -1);
  EXPECT_EQ(apply(u"NAMEAFTER=30"), 0);
  EXPECT_EQ(name_after_width, 30);
  EXPECT_EQ(apply(u"nameafter45"), 0);
  EXPECT_EQ(name_after_width, 45);
  EXPECT_EQ(apply(u"NAMEAFTERX"), 0);
  EXPECT_EQ(name_after_width, 45);
}

TEST_F(LongOptionsTest, NewerAndOlderTakeDayCountsOrDates) {
  EXPECT_EQ(apply(u"NEW=30"), 0);
  EXPECT_EQ(g_options.date_filter, 1);
  EXPECT_EQ(g_options.newer, 1);
  EXPECT_EQ(newer_days, 30);
  EXPECT_EQ(newer_time, 0);

  EXPECT_EQ(apply(u"OLDER=01/15/2014"), 0);
  EXPECT_EQ(g_options.older, 1);
  const int64_t midnight = *plat::local_midnight(2014, 1, 15);
  EXPECT_EQ(older_time, (midnight + 11644473600LL) * 10000000LL);
  EXPECT_GT(older_days, 3000);
  EXPECT_EQ(apply(u"OLD=7"), 0);
  EXPECT_EQ(older_days, 7);
}

TEST_F(LongOptionsTest, OutputClearsAppend) {
  test::TempDir dir;
  test::ScopedCwd cwd(dir.path());
  g_options.append = 1;
  EXPECT_EQ(apply(u"OUT=Result.txt"), 0);
  EXPECT_EQ(g_options.output, 1);
  EXPECT_EQ(g_options.append, 0);
  EXPECT_EQ(output_path, test::full_path(u"Result.txt"));
}

TEST_F(LongOptionsTest, ShowSetsTheListingBundle) {
  g_options.recurse = 0;
  EXPECT_EQ(apply(u"SHOW=5"), 0);
  EXPECT_EQ(g_options.show, 1);
  EXPECT_EQ(g_options.recurse, 1);
  EXPECT_EQ(g_options.var_len, 1);
  EXPECT_EQ(g_options.delim, 1);
  EXPECT_EQ(delim_char, '|');
}

// The parser hands the rest of a group after a '-' letter to the long
// options, after the letters before it.
TEST_F(LongOptionsTest, LetterThenLongOptionInOneGroup) {
  test::TempDir dir;
  test::ScopedCwd cwd(dir.path());
  g_options.recurse = 1;
  parse_options({plat::program_path(), u"-.ini", u"-r-VAR"});
  EXPECT_EQ(g_options.recurse, 0);
  EXPECT_EQ(g_options.var_len, 1);
}

}  // namespace
