// File times: stamps to calendar fields, the 1601 and hour rules, and a
// missing object.
#include <gtest/gtest.h>

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

TEST_F(FileTimesTest, MissingObjectGivesOneAndLeavesTheRecord) {
  test::TempDir tmp;
  file_times t{};
  t.last_write.year = 1234;
  EXPECT_EQ(get_file_times(t, 1, test::u16((tmp.path() / "none").string())), 1);
  EXPECT_EQ(t.last_write.year, 1234);
}

}  // namespace
