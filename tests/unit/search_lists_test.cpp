// File arguments into search directories and patterns.
#include <gtest/gtest.h>

#include <filesystem>

#include "framework/search_lists.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

class SearchListsTest : public testing::Test {
 protected:
  void SetUp() override { test::reset_all_state(); }
  test::TempDir tmp;
  std::u16string base() const { return plat::long_path_prefix() + tmp.u16(); }
};

TEST_F(SearchListsTest, ExistingDirectoryAddsOnlyTheDirectory) {
  std::filesystem::create_directory(tmp.path() / "data");
  add_search_arg(tmp.u16() + u"/data");
  add_search_arg(tmp.u16() + u"/data/");
  ASSERT_EQ(search_dirs.size(), 1u);
  EXPECT_EQ(search_dirs[0], base() + plat::separator() + u"data");
  EXPECT_TRUE(type_list.empty());
}

TEST_F(SearchListsTest, WildcardSplitsIntoDirectoryAndPattern) {
  add_search_arg(tmp.u16() + u"/data/*.log");
  ASSERT_EQ(search_dirs.size(), 1u);
  EXPECT_EQ(search_dirs[0], base() + plat::separator() + u"data");
  EXPECT_EQ(type_list, std::vector<std::u16string>{u"*.log"});
}

TEST_F(SearchListsTest, BareNamesAddTheCurrentDirectoryOnce) {
  test::ScopedCwd cwd(tmp.path());
  add_search_arg(u"*.txt");
  add_search_arg(u"*.csv");
  add_search_arg(u"data.txt");
  ASSERT_EQ(search_dirs.size(), 1u);
  EXPECT_EQ(search_dirs[0], plat::long_path_prefix() + test::u16(std::filesystem::current_path().string()));
  EXPECT_EQ(type_list, (std::vector<std::u16string>{u"*.txt", u"*.csv", u"data.txt"}));
}

TEST_F(SearchListsTest, PatternsKeepTheirCaseAndEmptyNamePartAddsNone) {
  add_search_arg(tmp.u16() + u"/*.TXT");
  add_search_arg(tmp.u16() + u"/*.txt");
  add_search_arg(tmp.u16() + u"/.txt");
  EXPECT_EQ(type_list, (std::vector<std::u16string>{u"*.TXT", u"*.txt"}));
  EXPECT_EQ(search_dirs.size(), 1u);
}

TEST_F(SearchListsTest, EmptyPatternIsNotStored) {
  add_file_type(u"");
  add_file_type(u"*.csv");
  EXPECT_EQ(type_list, std::vector<std::u16string>{u"*.csv"});
}

TEST_F(SearchListsTest, ListsStopAtTheirRoom) {
  testing::internal::CaptureStderr();
  for (int i = 0; i < 100; ++i) add_file_type(u"*." + test::u16(std::to_string(i)));
  for (int i = 0; i < 100; ++i) add_search_dir(tmp.u16() + u"/d" + test::u16(std::to_string(i)));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(type_list.size(), kListSlots - 1);
  EXPECT_EQ(search_dirs.size(), kListSlots - 1);
  EXPECT_EQ(type_list.back(), u"*.78");
  EXPECT_NE(err.find("Too many"), std::string::npos);
}

TEST_F(SearchListsTest, RootIsStoredWithoutItsSeparator) {
  // "/" on POSIX, the current drive's "C:\\" on Win32.
  const std::u16string root = plat::full_path(u"/", 260).value();
  add_search_dir(u"/");
  ASSERT_EQ(search_dirs.size(), 1u);
  EXPECT_EQ(search_dirs[0], plat::long_path_prefix() + root.substr(0, root.size() - 1));
}

}  // namespace
