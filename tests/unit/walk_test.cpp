// The walk over real temporary trees: order, patterns, exclusion, counting.
#include <gtest/gtest.h>

#include <filesystem>

#include "framework/search_lists.h"
#include "framework/settings.h"
#include "framework/walk.h"
#include "support/test_support.h"
#include "unit/walk_fixture.h"

namespace fs = std::filesystem;

namespace {


TEST_F(WalkTest, SubDirectoriesComeFirstDepthFirst) {
  tmp.write("d.txt", "1\n");
  tmp.write("S/s.txt", "2\n");
  tmp.write("S/T/t.txt", "3\n");
  tmp.write("b/b.txt", "4\n");
  type_list = {u"*.txt"};
  EXPECT_EQ(walk(), (Names{"b/b.txt", "S/T/t.txt", "S/s.txt", "d.txt"}));
  EXPECT_TRUE(fs::exists(tmp.path() / "S/T/t.IP"));
}

TEST_F(WalkTest, WithoutRecursionOnlyTheGivenDirectory) {
  tmp.write("d.txt", "1\n");
  tmp.write("S/s.txt", "2\n");
  type_list = {u"*.txt"};
  g_options.recurse = 0;
  EXPECT_EQ(walk(), (Names{"d.txt"}));
}

TEST_F(WalkTest, EveryPatternInListOrderAndTwiceForTwoMatches) {
  tmp.write("a.txt", "1\n");
  tmp.write("b.csv", "2\n");
  type_list = {u"*.csv", u"*.txt", u"a*"};
  EXPECT_EQ(walk(), (Names{"b.csv", "a.txt", "a.txt"}));
}

TEST_F(WalkTest, DashPatternEndsTheList) {
  tmp.write("a.txt", "1\n");
  tmp.write("b.csv", "2\n");
  type_list = {u"*.csv", u"-x", u"*.txt"};
  EXPECT_EQ(walk(), (Names{"b.csv"}));
}

TEST_F(WalkTest, PatternsIgnoreCaseAndStarDotStarTakesNamesWithoutDot) {
  tmp.write("README", "1\n");
  tmp.write("Log.TXT", "2\n");
  type_list = {u"*.txt"};
  EXPECT_EQ(walk(), (Names{"Log.TXT"}));
  type_list = {u"*.*"};
  // Log.IP from the first walk is its own output: passed over with a note.
  EXPECT_EQ(walk(), (Names{"Log.TXT", "README"}));
  EXPECT_NE(stderr_text.find("Log.IP"), std::string::npos);
}

TEST_F(WalkTest, ExclusionListIgnoresCase) {
  tmp.write("keep.txt", "1\n");
  tmp.write("readme.tmp", "2\n");
  type_list = {u"*.*"};
  g_options.exclude = 1;
  add_exclude_pattern(u"*.TMP");
  EXPECT_EQ(is_excluded(u"readme.tmp"), 1);
  EXPECT_EQ(is_excluded(u"readme.txt"), 0);
  EXPECT_EQ(walk(), (Names{"keep.txt"}));
}

TEST_F(WalkTest, CountingPassCountsExcludedFilesAndConvertsNothing) {
  tmp.write("a.txt", "12345");
  tmp.write("sub/b.tmp", "123");
  type_list = {u"*.*"};
  g_options.exclude = 1;
  g_options.auto_width = 1;
  add_exclude_pattern(u"*.TMP");
  g_counting = 1;
  EXPECT_EQ(walk(), Names{});
  EXPECT_EQ(g_files_counted, 2);
  EXPECT_EQ(g_bytes_counted, 8);
  EXPECT_EQ(g_max_path_len, walked_dir("sub").size() + 5);
  EXPECT_FALSE(fs::exists(tmp.path() / "a.IP"));
}

TEST_F(WalkTest, MissingDirectoryGivesNothing) {
  type_list = {u"*.*"};
  EXPECT_EQ(walk("absent"), Names{});
  EXPECT_EQ(stderr_text, "");
}

TEST_F(WalkTest, ProgressLineIsErasedAndHidesNothingElse) {
  tmp.write("a.txt", "1\n");
  type_list = {u"*.txt"};
  g_options.output = -1;
  g_options.immediate = 1;
  walk();
  const std::string shown = dir_string().substr(0, 60) == dir_string()
                                ? test::u8(dir_string()) + " "
                                : test::u8(dir_string().substr(0, 60)) + " ";
  const size_t n = std::u16string(test::u16(shown)).size();
  EXPECT_EQ(stderr_text, shown + std::string(n, '\b') + std::string(n, ' ') + std::string(n, '\b'));
}

TEST_F(WalkTest, DirModeHandsDirectoriesToTheHookWhichSkipsThem) {
  tmp.write("S/s.txt", "2\n");
  type_list = {u"*.txt"};
  g_options.dir_mode = 1;
  EXPECT_EQ(walk(), (Names{"S/s.txt"}));
}

TEST(EraseConsole, WritesBackspacesBlanksBackspaces) {
  testing::internal::CaptureStderr();
  erase_console(3);
  erase_console(0);
  erase_console(-2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "\b\b\b   \b\b\b");
}

}  // namespace
