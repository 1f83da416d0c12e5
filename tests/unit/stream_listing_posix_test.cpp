// list_streams over a fixed stream table and real files: a stream path
// takes its object's times, as POSIX file systems keep them per object.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
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


// list_streams over a fixed table, writing to a temporary stream.
class ListStreamsTest : public testing::Test {
 protected:
  void SetUp() override {
    test::reset_all_state();
    listing_defaults();
    g_options.zulu = 1;  // times independent of the machine's zone
    out_file = std::tmpfile();
    ASSERT_NE(out_file, nullptr);
  }
  void TearDown() override {
    std::fclose(out_file);
    out_file = stdout;
  }
  std::string written() {
    std::fflush(out_file);
    std::rewind(out_file);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, out_file)) > 0) text.append(buf, n);
    return text;
  }
  void add(const std::u16string& name, uint64_t size) {
    stream_entry e;
    e.name = name;
    e.size = size;
    e.name_size = static_cast<uint32_t>(name.size() * 2);
    g_stream_table.push_back(e);
  }
  // Makes a file whose last write is 2026-07-12 14:05:09 UTC.
  std::filesystem::path dated_file(const std::string& name) {
    const auto path = tmp.write(name, "x");
    struct timespec times[2] = {{1783865109, 0}, {1783865109, 0}};
    EXPECT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    return path;
  }
  test::TempDir tmp;
  std::u16string object_path;  // the object whose streams are listed
  int32_t lines = 0;           // the walk's count of lines listed
};

TEST_F(ListStreamsTest, CountZeroWritesNothing) {
  add(u":s:$DATA", 1);
  object_path = test::u16(dated_file("a.txt").string());
  EXPECT_EQ(list_streams(object_path, 0, lines), 0);
  EXPECT_EQ(written(), "");
  EXPECT_EQ(lines, 0);
}

TEST_F(ListStreamsTest, OneLinePerStreamWithTheObjectsTimes) {
  add(u":s:$DATA", 5);
  add(u":Zone.Identifier:$DATA", 26);
  add(u":unlisted:$DATA", 1);
  object_path = test::u16(dated_file("a.txt").string());
  lines = 7;
  testing::internal::CaptureStdout();
  EXPECT_EQ(list_streams(object_path, 2, lines), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(written(), "a.txt:s" + blanks(33) + " " + blanks(20) + "5" +
                           " 07/12/2026 14:05w GMT Dadata \n" + "a.txt:Zone.Identifier" +
                           blanks(19) + " " + kSize26 + " 07/12/2026 14:05w GMT Dadata \n");
  EXPECT_EQ(lines, 9);
  // The names are cut in the table itself.
  EXPECT_EQ(g_stream_table[0].name, u":s");
  EXPECT_EQ(g_stream_table[1].name, u":Zone.Identifier");
  EXPECT_EQ(g_stream_table[2].name, u":unlisted:$DATA");
}

TEST_F(ListStreamsTest, ObjectNameIsTheLastComponentWithoutATrailingSeparator) {
  const auto dir = tmp.path() / "dir1";
  std::filesystem::create_directory(dir);
  add(u":s:$DATA", 1);
  object_path = test::u16(dir.string() + "/");
  g_options.var_len = 1;
  g_options.time_kind = '0';
  testing::internal::CaptureStdout();  // "dir1/:s" names no object
  list_streams(object_path, 1, lines);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(written(), "dir1:s " + blanks(20) + "1 Dadata \n");
}

TEST_F(ListStreamsTest, PathOnlyListsTheFirstStreamsNameAlone) {
  add(u":a:$DATA", 1);
  add(u":b:$DATA", 2);
  add(u":c:$DATA", 3);
  object_path = test::u16(dated_file("f").string());
  g_options.path_only = 1;
  list_streams(object_path, 3, lines);
  EXPECT_EQ(written(), "f:a" + blanks(37) + " \n");
  EXPECT_EQ(lines, 1);
}

TEST_F(ListStreamsTest, UnreadableTimesAreReportedAndTheLineStillWritten) {
  add(u":s:$DATA", 1);
  const std::string missing = (tmp.path() / "gone").string();
  object_path = test::u16(missing);
  testing::internal::CaptureStdout();
  list_streams(object_path, 1, lines);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\n170 .\\Ads_base_u\nCouldn't get filetime for " + missing + ":s");
  EXPECT_EQ(written(), "gone:s" + blanks(34) + " " + blanks(20) + "1" +
                           " 00/00/   0 00:00w GMT Dadata \n");
  EXPECT_EQ(lines, 1);
}

TEST_F(ListStreamsTest, ACountBeyondTheTableListsOnlyRecordedStreams) {
  add(u":only:$DATA", 1);
  object_path = test::u16(dated_file("f").string());
  list_streams(object_path, 4, lines);
  EXPECT_EQ(lines, 1);
}

TEST_F(ListStreamsTest, StreamWithoutATypeAndAnEmptyName) {
  add(u":plain", 1);
  add(u"::$DATA", 2);
  object_path = test::u16(dated_file("f").string());
  g_options.var_len = 1;
  g_options.time_kind = '0';
  testing::internal::CaptureStdout();
  list_streams(object_path, 2, lines);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // "f:" is looked up as "f"
  EXPECT_EQ(written(), "f:plain " + blanks(20) + "1 Dadata \n" + "f: " + blanks(20) +
                           "2 Dadata \n");
}

}  // namespace
