// The walk where POSIX shows it: a directory link back up the tree, and our
// own temporaries of a running process and of ended ones.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include <unistd.h>

#include "framework/search_lists.h"
#include "framework/settings.h"
#include "framework/walk.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "unit/walk_fixture.h"

namespace fs = std::filesystem;

namespace {

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
                             "\nRemoved leftover temporary file " + stale.string() + "\n" +
                             "\nPassed over temporary file " + busy.string() +
                             ": another ipconv may be writing it\n");
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(tmp.path()))
    left.insert(entry.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{"x.txt", "x.IP", fresh.filename().string(),
                                         busy.filename().string()}));
}

}  // namespace
