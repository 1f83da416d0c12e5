// File times the POSIX way: local time in the zone TZ names (on Windows the
// system's own zone, which a test cannot set) with the bias in force now,
// and times read from real objects, set with utimensat.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "framework/file_times.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "unit/file_times_checks.h"

namespace {

using namespace file_times_checks;

class FileTimesTest : public testing::Test {
 protected:
  void SetUp() override { test::reset_all_state(); }
};

TEST_F(FileTimesTest, LocalTimeAppliesTheZonesOffset) {
  ScopedZone zone(u"EST5");
  plat::FindData data;
  data.last_write = stamp_at(2026, 7, 12, 2, 30, 0);
  file_times t{};
  EXPECT_EQ(convert_file_times(t, 0, data), 0);
  expect_fields(t.last_write, 7, 11, 2026, 21, 30, 0);  // back over midnight
}

TEST_F(FileTimesTest, LocalTimeUsesTheBiasInForceNowForEveryDate) {
  // A zone with daylight saving: a winter and a summer stamp move by the
  // same amount, the offset of the moment of the run.
  ScopedZone zone(u"CET-1CEST,M3.5.0,M10.5.0/3");
  const time_t now = std::time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  const int offset_hours = static_cast<int>(local.tm_gmtoff / 3600);
  ASSERT_TRUE(offset_hours == 1 || offset_hours == 2);

  plat::FindData data;
  data.last_write = stamp_at(2026, 1, 15, 10, 0, 0);
  data.creation = stamp_at(2026, 7, 15, 10, 0, 0);
  file_times t{};
  convert_file_times(t, 0, data);
  EXPECT_EQ(t.last_write.hour, 10 + offset_hours);
  EXPECT_EQ(t.creation.hour, 10 + offset_hours);
}

class ObjectTimesTest : public FileTimesTest {
 protected:
  // Sets the last-access and last-write times of `path` (whole seconds).
  static void set_times(const std::filesystem::path& path, int64_t access, int64_t write) {
    struct timespec times[2] = {{static_cast<time_t>(access), 0},
                                {static_cast<time_t>(write), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  test::TempDir tmp;
};

TEST_F(ObjectTimesTest, FileTimesComeFromTheObject) {
  const auto file = tmp.write("a.txt", "x");
  set_times(file, unix_seconds(2024, 5, 6, 7, 8, 9), unix_seconds(2023, 11, 12, 13, 14, 15));
  file_times t{};
  EXPECT_EQ(get_file_times(t, 1, test::u16(file.string())), 0);
  expect_fields(t.last_write, 11, 12, 2023, 13, 14, 15);
  expect_fields(t.last_access, 5, 6, 2024, 7, 8, 9);
  const uint64_t write = stamp_at(2023, 11, 12, 13, 14, 15);
  EXPECT_EQ(t.write_low, static_cast<uint32_t>(write));
  EXPECT_EQ(t.write_high, static_cast<uint32_t>(write >> 32));
}

TEST_F(ObjectTimesTest, DirectoriesAndStreamPathsAreAccepted) {
  const auto dir = tmp.path() / "sub";
  std::filesystem::create_directory(dir);
  set_times(dir, unix_seconds(2022, 1, 1, 0, 0, 0), unix_seconds(2021, 6, 30, 18, 45, 0));
  file_times t{};
  EXPECT_EQ(get_file_times(t, 1, test::u16(dir.string())), 0);
  expect_fields(t.last_write, 6, 30, 2021, 18, 45, 0);

  // A stream has its object's own times.
  file_times s{};
  EXPECT_EQ(get_file_times(s, 1, test::u16(dir.string() + ":Zone.Identifier")), 0);
  expect_fields(s.last_write, 6, 30, 2021, 18, 45, 0);
}

}  // namespace
