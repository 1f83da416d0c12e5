// Named streams on a real NTFS volume: a small image made with mkntfs and
// mounted with ntfs-3g, whose "user." attributes are the volume's streams.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/run_program.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

bool set_stream(const fs::path& path, const std::string& name, const std::string& value) {
  return setxattr(path.c_str(), ("user." + name).c_str(), value.data(), value.size(), 0) == 0;
}

void set_write_time(const fs::path& path, int64_t seconds) {
  struct timespec times[2] = {{static_cast<time_t>(seconds), 0},
                              {static_cast<time_t>(seconds), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// The named streams of `path` in the order the file system lists them.
std::vector<std::string> stream_names(const fs::path& path) {
  std::vector<std::string> names;
  std::string list(4096, '\0');
  const ssize_t n = listxattr(path.c_str(), list.data(), list.size());
  for (ssize_t pos = 0; pos < n;) {
    const std::string name(list.data() + pos);
    pos += static_cast<ssize_t>(name.size()) + 1;
    if (name.rfind("user.", 0) == 0) names.push_back(name.substr(5));
  }
  return names;
}

// A listing line in the program's default layout: `listing_name` is
// already in the bytes the line shows.
std::string expected_line(const std::string& listing_name, uint64_t size, int64_t write_time,
                          int offset_seconds, const std::string& zone) {
  const time_t shown = static_cast<time_t>(write_time + offset_seconds);
  struct tm t;
  gmtime_r(&shown, &t);
  char text[160];
  std::snprintf(text, sizeof text, "%-40s  %20llu %02d/%02d/%4d %02d:%02dw %s Dadata ",
                listing_name.c_str(), static_cast<unsigned long long>(size), t.tm_mon + 1,
                t.tm_mday, t.tm_year + 1900, t.tm_hour, t.tm_min, zone.c_str());
  return text;
}

// The listing lines of a run's output, in order.
std::vector<std::string> listing_lines(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (line.find("Dadata") != std::string::npos) lines.push_back(line);
  return lines;
}

using Lines = std::vector<std::string>;

constexpr int64_t kDataTime = 1783865109;  // 2026-07-12 14:05:09 UTC
constexpr int64_t kDir1Time = 1700000000;  // 2023-11-14 22:13:20 UTC
constexpr int64_t kSubTime = 946684799;    // 1999-12-31 23:59:59 UTC
constexpr int kEst = -5 * 3600;
const std::string kZoneId = "[ZoneTransfer]\r\nZoneId=3\r\n";

class NtfsE2E : public testing::Test {
 protected:
  void SetUp() override {
    if (test::running_under_wine())
      GTEST_SKIP() << "NTFS tests skipped: the program runs under wine";
    if (geteuid() != 0) GTEST_SKIP() << "NTFS tests skipped: mounting a volume needs root";
    if (access("/dev/fuse", R_OK | W_OK) != 0)
      GTEST_SKIP() << "NTFS tests skipped: /dev/fuse is not available";
    if (std::system("command -v mkntfs >/dev/null 2>&1 && command -v ntfs-3g >/dev/null 2>&1") !=
        0)
      GTEST_SKIP() << "NTFS tests skipped: mkntfs or ntfs-3g is missing (package ntfs-3g)";

    const fs::path image = tmp.path() / "ntfs.img";
    std::ofstream(image).close();
    fs::resize_file(image, 16 << 20);
    mnt = tmp.path() / "mnt";
    fs::create_directory(mnt);
    if (std::system(("mkntfs -F -q -f " + quoted(image) + " >/dev/null 2>&1").c_str()) != 0)
      GTEST_SKIP() << "NTFS tests skipped: mkntfs could not make the volume";
    if (std::system(("ntfs-3g " + quoted(image) + " " + quoted(mnt) + " 2>&1").c_str()) != 0)
      GTEST_SKIP() << "NTFS tests skipped: ntfs-3g could not mount the volume";
    mounted = true;
  }

  void TearDown() override {
    if (!mounted) return;
    if (std::system(("umount " + quoted(mnt)).c_str()) != 0)
      std::system(("umount -l " + quoted(mnt) + " >/dev/null 2>&1").c_str());
  }

  // data (stream "top"), data/dir1 (Zone.Identifier), data/dir1/sub (two
  // streams, one empty, one with a name beyond ASCII), data/dir2 (none),
  // and files with streams, which are never listed.
  void make_tree() {
    data = mnt / "data";
    fs::create_directories(data / "dir1" / "sub");
    fs::create_directories(data / "dir2");
    ASSERT_TRUE(set_stream(data, "top", "12345"));
    ASSERT_TRUE(set_stream(data / "dir1", "Zone.Identifier", kZoneId));
    ASSERT_TRUE(set_stream(data / "dir1" / "sub", "empty", ""));
    ASSERT_TRUE(set_stream(data / "dir1" / "sub", "caf\xC3\xA9", "abc"));
    std::ofstream(data / "a.txt") << "3139666412\n";
    std::ofstream(data / "dir2" / "b.txt") << "16909060\n";
    ASSERT_TRUE(set_stream(data / "a.txt", "filestream", "x"));
    set_write_time(data, kDataTime);
    set_write_time(data / "dir1", kDir1Time);
    set_write_time(data / "dir1" / "sub", kSubTime);
  }

  // The lines expected for sub, in the order the volume keeps its streams.
  Lines sub_lines(int offset, const std::string& zone) {
    Lines lines;
    for (const auto& name : stream_names(data / "dir1" / "sub")) {
      if (name == "empty") lines.push_back(expected_line("sub:empty", 0, kSubTime, offset, zone));
      else lines.push_back(expected_line("sub:caf\xC3", 3, kSubTime, offset, zone));
    }
    return lines;
  }

  test::RunResult run(const std::vector<std::string>& args) {
    test::RunOptions options;
    options.cwd = tmp.path();
    options.unset_env = {"ACCT", "SILENT", "RESET"};
    options.env = {{"TZ", "EST5"}};
    return test::run_program(args, options);
  }

  test::TempDir tmp;
  fs::path mnt;
  fs::path data;
  bool mounted = false;
};

TEST_F(NtfsE2E, WalkListsTheStreamsOfEveryWalkedDirectory) {
  make_tree();
  const auto r = run({data.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  Lines expected = {expected_line("data:top", 5, kDataTime, kEst, "EST"),
                    expected_line("dir1:Zone.Identifier", 26, kDir1Time, kEst, "EST")};
  const Lines sub = sub_lines(kEst, "EST");
  ASSERT_EQ(sub.size(), 2u);
  expected.insert(expected.end(), sub.begin(), sub.end());
  EXPECT_EQ(listing_lines(r.out), expected);
  // The streams come first, before any file of the tree is converted.
  EXPECT_LT(r.out.find("Dadata"), r.out.find("Input file"));
  EXPECT_NE(r.out.find("Input file  " + (data / "a.txt").string()), std::string::npos);
}

TEST_F(NtfsE2E, ZuluShowsUtcTimesMarkedGmt) {
  make_tree();
  const auto r = run({data.string(), "-z"});
  EXPECT_EQ(r.status, 0) << r.err;
  const Lines lines = listing_lines(r.out);
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_EQ(lines[0], expected_line("data:top", 5, kDataTime, 0, "GMT"));
  EXPECT_EQ(lines[1], expected_line("dir1:Zone.Identifier", 26, kDir1Time, 0, "GMT"));
}

TEST_F(NtfsE2E, CreationTimeIsTheVolumesOwn) {
  make_tree();
  unsigned char raw[8];
  ASSERT_EQ(getxattr(data.c_str(), "system.ntfs_crtime", raw, sizeof raw), 8);
  uint64_t stamp = 0;
  for (int i = 7; i >= 0; --i) stamp = (stamp << 8) | raw[i];
  const int64_t created = static_cast<int64_t>(stamp / 10000000ULL) - 11644473600LL;
  ASSERT_NE(created, kDataTime);  // set apart from the last write above
  const auto r = run({data.string(), "-tc"});
  EXPECT_EQ(r.status, 0) << r.err;
  const Lines lines = listing_lines(r.out);
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_EQ(lines[0], expected_line("data:top", 5, created, kEst, "EST"));
}

TEST_F(NtfsE2E, WithoutRecursionTheMatchedSubDirectoriesAreListed) {
  make_tree();
  const auto r = run({data.string(), "-r"});
  EXPECT_EQ(r.status, 0) << r.err;
  // sub lies below a matched directory and is not walked.
  EXPECT_EQ(listing_lines(r.out),
            (Lines{expected_line("data:top", 5, kDataTime, kEst, "EST"),
                   expected_line("dir1:Zone.Identifier", 26, kDir1Time, kEst, "EST")}));
}

TEST_F(NtfsE2E, NoStreamsOptionListsNone) {
  make_tree();
  const auto r = run({data.string(), "-S"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listing_lines(r.out), Lines{});
  EXPECT_NE(r.out.find("Input file"), std::string::npos);
}

TEST_F(NtfsE2E, TheVolumeRootsOwnStreamsAreNeverListed) {
  ASSERT_TRUE(set_stream(mnt, "rootstream", "r"));
  fs::create_directory(mnt / "x");
  ASSERT_TRUE(set_stream(mnt / "x", "s", "1234567"));
  set_write_time(mnt / "x", kDir1Time);
  const auto r = run({mnt.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listing_lines(r.out), Lines{expected_line("x:s", 7, kDir1Time, kEst, "EST")});
}

TEST_F(NtfsE2E, ListingGoesToTheOutputFile) {
  make_tree();
  const fs::path out = tmp.path() / "listing.txt";
  const auto r = run({data.string(), "-o" + out.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listing_lines(r.out), Lines{});
  const Lines written = listing_lines(test::read_file(out));
  ASSERT_EQ(written.size(), 4u) << test::read_file(out);
  EXPECT_EQ(written[0], expected_line("data:top", 5, kDataTime, kEst, "EST"));
}

TEST_F(NtfsE2E, TheFirstSearchDirectoryDecidesTheVolumeType) {
  make_tree();
  const fs::path plain = tmp.path() / "plain";
  fs::create_directory(plain);
  const auto r = run({plain.string(), data.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listing_lines(r.out), Lines{});
  EXPECT_NE(r.out.find("Input file  " + (data / "a.txt").string()), std::string::npos);
}

// Not NTFS: attributes of an ordinary volume are not listed as streams.
TEST(OtherVolumeE2E, ListsNoStreams) {
  if (test::running_under_wine()) GTEST_SKIP() << "the program runs under wine";
  test::TempDir tmp;
  tmp.write("data/sub/f.txt", "1\n");
  if (!set_stream(tmp.path() / "data" / "sub", "s", "abc"))
    GTEST_SKIP() << "the temporary directory's file system keeps no user attributes";
  test::RunOptions options;
  options.cwd = tmp.path();
  options.unset_env = {"ACCT", "SILENT", "RESET"};
  const auto r = test::run_program({(tmp.path() / "data").string()}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("Dadata"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Input file"), std::string::npos);
}

}  // namespace
