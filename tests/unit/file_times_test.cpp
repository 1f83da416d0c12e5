// File times: stamps to calendar fields, the 1601 and hour rules, local
// time with the bias in force now, and times read from real objects.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <optional>

#include "framework/file_times.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

using namespace std::chrono;

int64_t unix_seconds(int y, unsigned m, unsigned d, int h, int mi, int s) {
  const sys_days date{year{y} / month{m} / std::chrono::day{d}};
  return date.time_since_epoch().count() * 86400LL + h * 3600 + mi * 60 + s;
}

uint64_t stamp_at(int y, unsigned m, unsigned d, int h, int mi, int s, int ms = 0) {
  return static_cast<uint64_t>(unix_seconds(y, m, d, h, mi, s) + 11644473600LL) * 10000000ULL +
         static_cast<uint64_t>(ms) * 10000ULL;
}

// Sets TZ for the scope and refreshes the runtime's zone.
class ScopedZone {
 public:
  explicit ScopedZone(const char16_t* zone) : saved_(plat::get_env("TZ")) {
    plat::set_env("TZ", zone);
    plat::refresh_zone();
  }
  ~ScopedZone() {
    plat::set_env("TZ", saved_ ? *saved_ : u"UTC0");
    plat::refresh_zone();
  }

 private:
  std::optional<std::u16string> saved_;
};

void expect_fields(const time_fields& t, int month, int day, int year, int hour, int minute,
                   int second) {
  EXPECT_EQ(t.month, month);
  EXPECT_EQ(t.day, day);
  EXPECT_EQ(t.year, year);
  EXPECT_EQ(t.hour, hour);
  EXPECT_EQ(t.minute, minute);
  EXPECT_EQ(t.second, second);
}

class FileTimesTest : public testing::Test {
 protected:
  void SetUp() override { test::reset_all_state(); }
};

TEST_F(FileTimesTest, UtcFieldsOfEachStampGoToTheirOwnGroup) {
  ScopedZone zone(u"EST5");  // zulu must ignore the zone
  plat::FindData data;
  data.last_write = stamp_at(2026, 7, 12, 12, 30, 15, 250);
  data.last_access = stamp_at(2025, 1, 2, 3, 4, 5);
  data.creation = stamp_at(1999, 12, 31, 23, 59, 59, 999);
  file_times t{};
  EXPECT_EQ(convert_file_times(t, 1, data), 0);
  expect_fields(t.last_write, 7, 12, 2026, 12, 30, 15);
  EXPECT_EQ(t.last_write.millisecond, 250);
  expect_fields(t.last_access, 1, 2, 2025, 3, 4, 5);
  expect_fields(t.creation, 12, 31, 1999, 23, 59, 59);
  EXPECT_EQ(t.creation.millisecond, 999);
}

TEST_F(FileTimesTest, RawStampsAreKeptAsLowAndHighHalves) {
  plat::FindData data;
  data.creation = 0x0123456789ABCDEFULL;
  data.last_access = 0x01D0000000000001ULL;
  data.last_write = 0x01DD8766C5AB3FC3ULL;
  file_times t{};
  convert_file_times(t, 1, data);
  EXPECT_EQ(t.creation_low, 0x89ABCDEFu);
  EXPECT_EQ(t.creation_high, 0x01234567u);
  EXPECT_EQ(t.access_low, 0x00000001u);
  EXPECT_EQ(t.access_high, 0x01D00000u);
  EXPECT_EQ(t.write_low, 0xC5AB3FC3u);
  EXPECT_EQ(t.write_high, 0x01DD8766u);
}

TEST_F(FileTimesTest, ZeroStampReadsAsNoTimeRecorded) {
  plat::FindData data;  // all three stamps 0
  file_times t{};
  EXPECT_EQ(convert_file_times(t, 1, data), 0);
  for (const time_fields* f : {&t.last_write, &t.last_access, &t.creation})
    expect_fields(*f, 0, 0, 1980, 0, 0, 0);
}

TEST_F(FileTimesTest, ZeroStampReadsTheSameInLocalTimeEastOrWest) {
  for (const char16_t* z : {u"EST5", u"JST-9", u"UTC0"}) {
    ScopedZone zone(z);
    plat::FindData data;
    data.last_write = stamp_at(2026, 3, 4, 5, 6, 7);
    file_times t{};
    EXPECT_EQ(convert_file_times(t, 0, data), 0);
    expect_fields(t.creation, 0, 0, 1980, 0, 0, 0);
    expect_fields(t.last_access, 0, 0, 1980, 0, 0, 0);
  }
}

TEST_F(FileTimesTest, AnyStampInTheYear1601CountsAsUnrecorded) {
  plat::FindData data;
  data.last_write = stamp_at(1601, 6, 15, 10, 20, 30, 400);
  file_times t{};
  convert_file_times(t, 1, data);
  expect_fields(t.last_write, 0, 0, 1980, 0, 0, 0);
  EXPECT_EQ(t.last_write.millisecond, 400);  // only the time of day is cleared
}

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

TEST_F(FileTimesTest, UnconvertibleStampsGiveOneOnlyWhenAllThreeFail) {
  plat::FindData bad;
  bad.creation = bad.last_access = bad.last_write = 0x8000000000000000ULL;
  file_times t{};
  EXPECT_EQ(convert_file_times(t, 1, bad), 1);
  for (const time_fields* f : {&t.last_write, &t.last_access, &t.creation})
    expect_fields(*f, 0, 0, 1980, 0, 0, 0);

  plat::FindData one_good = bad;
  one_good.last_write = stamp_at(2020, 2, 29, 8, 9, 10);
  EXPECT_EQ(convert_file_times(t, 1, one_good), 0);
  expect_fields(t.last_write, 2, 29, 2020, 8, 9, 10);
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

TEST_F(ObjectTimesTest, MissingObjectGivesOneAndLeavesTheRecord) {
  file_times t{};
  t.last_write.year = 1234;
  EXPECT_EQ(get_file_times(t, 1, test::u16((tmp.path() / "none").string())), 1);
  EXPECT_EQ(t.last_write.year, 1234);
}

}  // namespace
