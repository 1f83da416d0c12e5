// The walk over real temporary trees: order, patterns, exclusion, counting.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <unistd.h>

#include "framework/search_lists.h"
#include "framework/settings.h"
#include "framework/walk.h"
#include "ipconv/convert.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

class WalkTest : public testing::Test {
 protected:
  void SetUp() override {
    test::reset_all_state();
    g_file_hook = process_file;
    g_options.recurse = 1;
    g_options.width = 40;
    g_counting = 0;
  }

  std::u16string dir_string(const std::string& relative = "") const {
    std::string p = (tmp.path() / relative).lexically_normal().string();
    if (p.back() != '/') p += '/';
    return test::u16(p);
  }

  // The names (relative to the temporary directory) converted by one walk,
  // in order, read from the "Input file" report.
  std::vector<std::string> walk(const std::string& relative = "") {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    walk_dir(dir_string(relative));
    const std::string out = testing::internal::GetCapturedStdout();
    stderr_text = testing::internal::GetCapturedStderr();
    std::vector<std::string> names;
    std::istringstream lines(out);
    const std::string base = tmp.path().string() + "/";
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("Input file  ", 0) == 0) names.push_back(line.substr(12 + base.size()));
    return names;
  }

  test::TempDir tmp;
  std::string stderr_text;
};

using Names = std::vector<std::string>;

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
  EXPECT_EQ(g_max_path_len, dir_string("sub").size() + 5);
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

TEST_F(WalkTest, DirectoryLinkLoopEnds) {
  tmp.write("a/x.txt", "1\n");
  fs::create_directory_symlink(tmp.path() / "a", tmp.path() / "a/loop");
  type_list = {u"*.txt"};
  EXPECT_EQ(walk(), (Names{"a/x.txt"}));
}

TEST_F(WalkTest, OwnTemporaryFilesAreNeverCountedNorConverted) {
  tmp.write("x.txt", "1\n");
  // 999999999 is no process id here; the test itself certainly runs.
  const fs::path stale = tmp.write("a.IP.~ipconv-999999999-1", "part");
  const fs::path fresh = tmp.write(".~ipconv-999999999-2", "part");
  const fs::path busy = tmp.write("b.IP.~ipconv-" + std::to_string(getpid()) + "-3", "part");
  const auto now = fs::file_time_type::clock::now();
  fs::last_write_time(stale, now - std::chrono::hours(1));
  fs::last_write_time(fresh, now + std::chrono::hours(1));
  g_run_started = plat::now_seconds();
  // ".*" meets the hidden one a second time: it is still noted once.
  type_list = {u"*.*", u".*"};

  g_counting = 1;
  walk();
  EXPECT_EQ(g_files_counted, 1);
  EXPECT_EQ(stderr_text, "");
  EXPECT_TRUE(fs::exists(stale));

  g_counting = 0;
  EXPECT_EQ(walk(), (Names{"x.txt"}));
  EXPECT_EQ(stderr_text, "\nPassed over leftover temporary file " + fresh.string() + "\n" +
                             "\nRemoved leftover temporary file " + stale.string() + "\n");
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(tmp.path()))
    left.insert(entry.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{"x.txt", "x.IP", fresh.filename().string(),
                                         busy.filename().string()}));
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
