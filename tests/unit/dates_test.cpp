// Dates of NEWER/OLDER, --NEW/--OLD and -g/-l.
#include "framework/dates.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/platform.h"
#include "support/test_support.h"

namespace {

class DatesTest : public ::testing::Test {
 protected:
  void SetUp() override { test::reset_all_state(); }

  // Midnight then is a fixed second, whatever zone the machine is in.
  test::ScopedTz tz_{u"UTC0"};
};

TEST_F(DatesTest, DateValuesAreThoseWithMinusSlashOrBackslash) {
  EXPECT_TRUE(is_date_value(u"01-15-2014"));
  EXPECT_TRUE(is_date_value(u"1/15/2014"));
  EXPECT_TRUE(is_date_value(u"1\\15\\2014"));
  EXPECT_FALSE(is_date_value(u"30"));
  EXPECT_FALSE(is_date_value(u"01.15.2014"));
}

TEST_F(DatesTest, ReadsMonthDayYearWithAnySingleSeparator) {
  struct Case {
    const char16_t* text;
    int month, day, year;
  } cases[] = {
      {u"01-15-2014", 1, 15, 2014}, {u"1/2/2001", 1, 2, 2001},
      {u"12\\31\\1999", 12, 31, 1999}, {u"3.4-1980", 3, 4, 1980},
      // Two-digit years: 00-69 belong to this century, 70-99 to the last.
      {u"3-4-14", 3, 4, 2014}, {u"3-4-69", 3, 4, 2069},
      {u"3-4-70", 3, 4, 1970}, {u"3-4-99", 3, 4, 1999},
      {u"3-4-0", 3, 4, 2000}, {u"3-4-00", 3, 4, 2000},
  };
  for (const Case& c : cases) {
    int month = 0, day = 0, year = 0;
    ASSERT_TRUE(read_month_day_year(c.text, month, day, year)) << test::u8(c.text);
    EXPECT_EQ(month, c.month) << test::u8(c.text);
    EXPECT_EQ(day, c.day) << test::u8(c.text);
    EXPECT_EQ(year, c.year) << test::u8(c.text);
  }
}

TEST_F(DatesTest, IncompleteDatesAreNotRead) {
  for (const char16_t* text : {u"3-4", u"3-4-", u"x-4-2014", u"-", u"3--2014"}) {
    int month = 0, day = 0, year = 0;
    EXPECT_FALSE(read_month_day_year(text, month, day, year)) << test::u8(text);
  }
}

TEST_F(DatesTest, TimeIsLocalMidnightIn100NanosecondUnitsSince1601) {
  int32_t days = 0;
  int64_t time = 0;
  ASSERT_TRUE(date_to_days_and_time_at(u"01-15-2014", 1389744000, days, time));
  EXPECT_EQ(time, 130342176000000000LL);
  EXPECT_EQ(days, 0);
  ASSERT_TRUE(date_to_days_and_time_at(u"12/31/99", 946598400, days, time));
  EXPECT_EQ(time, 125910720000000000LL);
}

TEST_F(DatesTest, DatesPastTheFileTimeRangeAreNotReadAndLeaveValuesAlone) {
  int32_t days = 7;
  int64_t time = 9;
  // 100-ns units since 1601 overflow 64 bits a little after the year 30,800.
  for (const char16_t* text : {u"01-15-201415", u"1-10-52014", u"1-1-99999999"}) {
    EXPECT_FALSE(date_to_days_and_time_at(text, 1389744000, days, time)) << test::u8(text);
    EXPECT_EQ(days, 7);
    EXPECT_EQ(time, 9);
  }
  // Far but representable years are still read (the Windows runtime knows
  // years up to 3000).
  ASSERT_TRUE(date_to_days_and_time_at(u"1-1-2999", 1389744000, days, time));
  EXPECT_GT(time, 0);
  EXPECT_LT(days, 0);
}

TEST_F(DatesTest, DaysAreWholeDaysTruncatedTowardZero) {
  const int64_t midnight = 1389744000;  // 2014-01-15 00:00 UTC
  int32_t days = 0;
  int64_t time = 0;
  ASSERT_TRUE(date_to_days_and_time_at(u"1-15-2014", midnight + 10 * 86400 + 5 * 3600,
                                       days, time));
  EXPECT_EQ(days, 10);
  ASSERT_TRUE(date_to_days_and_time_at(u"1-15-2014", midnight + 86399, days, time));
  EXPECT_EQ(days, 0);
  // A date in the future gives a negative count, cut toward zero.
  ASSERT_TRUE(date_to_days_and_time_at(u"1-15-2014", midnight - 86400 - 43200, days, time));
  EXPECT_EQ(days, -1);
}

TEST_F(DatesTest, AgainstTheClockAPastDateGivesPositiveDays) {
  int32_t days = -1;
  int64_t time = 0;
  ASSERT_TRUE(date_to_days_and_time(u"01-15-2014", days, time));
  const int64_t expected = (plat::now_seconds() - 1389744000) / 86400;
  EXPECT_NEAR(days, expected, 1);
  EXPECT_EQ(time, 130342176000000000LL);
}

}  // namespace
