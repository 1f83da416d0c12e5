// Date, time and computer-name tokens in output file names.
#include "framework/output_template.h"

#include <gtest/gtest.h>

#include <string>

#include "framework/settings.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

// Paths are written with '/' here and use the platform's separator.
std::u16string p(const std::string& text) {
  std::u16string out = test::u16(text);
  for (char16_t& c : out)
    if (c == u'/') c = plat::separator();
  return out;
}

plat::SystemTime at(int year, int month, int day, int hour, int minute) {
  plat::SystemTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  return t;
}

class OutputTemplateTest : public testing::Test {
 protected:
  void SetUp() override {
    test::reset_all_state();
    clock.local = at(2026, 12, 7, 13, 5);
    clock.gmt = at(2027, 1, 8, 2, 9);
    clock.computer_name = u"HOST7";
  }
  std::string expand(const std::string& path) {
    return test::u8(expand_template(p(path), clock));
  }
  std::string expected(const std::string& path) { return test::u8(p(path)); }
  template_clock clock;
};

TEST_F(OutputTemplateTest, EveryTokenExpandsAndOtherCharactersAreDropped) {
  EXPECT_EQ(expand("C:/logs/YYYYMMDD.txt"), expected("C:/logs/20261207.txt"));
  EXPECT_EQ(expand("C:/logs/YYMMDD_HHmm.csv"), expected("C:/logs/261207_1305.csv"));
  EXPECT_EQ(expand("C:/out/COMPUTERNAME_YYYY.txt"), expected("C:/out/HOST72026.txt"));
  // Lower-case hh is an hour too; lower-case dd and yyyy are not tokens.
  EXPECT_EQ(expand("C:/logs/YYYY-hh-dd-yyyy-x9.txt"), expected("C:/logs/2026_13.txt"));
  EXPECT_EQ(expand("C:/logs/MMDDHhhH.txt"), expected("C:/logs/1207_13_13.txt"));
  // The template runs to the end: separators inside it go as well.
  EXPECT_EQ(expand("C:/logs/MMDD/YY/run.txt"), expected("C:/logs/120726.txt"));
}

TEST_F(OutputTemplateTest, StartsAreSearchedInOrderAndTextBeforeStaysAsWritten) {
  EXPECT_EQ(expand("C:/logs/YYYY/MMDD.txt"), expected("C:/logs/YYYY/1207.txt"));
  EXPECT_EQ(expand("C:/YYMM/YYYYx.txt"), expected("C:/YYMM/2026.txt"));
  EXPECT_EQ(expand("C:/DDMM/YYMM.txt"), expected("C:/DDMM/2612.txt"));
  EXPECT_EQ(expand("C:/MMx/COMPUTERNAME.txt"), expected("C:/MMx/HOST7.txt"));
  // A token not behind a separator is no start.
  EXPECT_EQ(expand("C:/out/run_YYYYMMDD.txt"), expected("C:/out/run_YYYYMMDD.txt"));
}

TEST_F(OutputTemplateTest, ExtensionComesFromTheFirstDotOfTheFileName) {
  EXPECT_EQ(expand("C:/my.dir/YYYY.txt"), expected("C:/my.dir/2026.txt"));
  EXPECT_EQ(expand("C:/my.dir/YYYY"), expected("C:/my.dir/2026"));
  EXPECT_EQ(expand("C:/logs/YYYY.run.txt"), expected("C:/logs/2026.run.txt"));
}

TEST_F(OutputTemplateTest, UpperCaseGAfterTheStartSwitchesToGmt) {
  EXPECT_EQ(expand("C:/logs/YYYYMMDDHHmm.LOG"), expected("C:/logs/20270108_0209.LOG"));
  EXPECT_EQ(expand("C:/Gx/YYYYMMDD.log"), expected("C:/Gx/20261207.log"));
  EXPECT_EQ(expand("C:/logs/YYYYMMDD.g"), expected("C:/logs/20261207.g"));
}

TEST_F(OutputTemplateTest, MissingComputerNameAppendsNothing) {
  clock.computer_name.reset();
  EXPECT_EQ(expand("C:/out/COMPUTERNAME_YYYY.txt"), expected("C:/out/2026.txt"));
  clock.computer_name = std::u16string(kComputerNameUnits, u'n');
  EXPECT_EQ(expand("C:/out/COMPUTERNAME_YYYY.txt"), expected("C:/out/2026.txt"));
}

TEST_F(OutputTemplateTest, OverlongResultIsCutToTheLongestPath) {
  std::string path = "C:/x/YYYY";
  for (int i = 0; i < 12000; ++i) path += "HH";
  path += ".txt";
  const std::u16string result = expand_template(p(path), clock);
  EXPECT_EQ(result.size(), kMaxPathUnits);
  EXPECT_EQ(test::u8(result.substr(0, 15)), expected("C:/x/2026_13_13"));

  std::string names = "C:/COMPUTERNAME";
  for (int i = 0; i < 2700; ++i) names += "COMPUTERNAME";
  clock.computer_name = std::u16string(200, u'c');
  EXPECT_EQ(expand_template(p(names), clock).size(), kMaxPathUnits);
}

TEST_F(OutputTemplateTest, TemplateStartsAreRecognised) {
  for (const char* path : {"C:/a/MMDD.txt", "C:/a/YYMM.txt", "C:/a/YYYY.txt", "C:/a/xCOMPUTERNAMEx"})
    EXPECT_TRUE(has_output_template(p(path))) << path;
  for (const char* path : {"C:/a/MMD.txt", "C:/a/xYYYY.txt", "C:/a/yyyy.txt", "C:/a/computername"})
    EXPECT_FALSE(has_output_template(p(path))) << path;
}

TEST_F(OutputTemplateTest, OutputPathIsRewrittenWithTheCurrentYear) {
  const int year_before = plat::broken_down(plat::now_seconds(), false).year;
  output_path = p("/data/out/YYYY.txt");
  expand_output_template();
  const int year_after = plat::broken_down(plat::now_seconds(), false).year;
  const std::string result = test::u8(output_path);
  EXPECT_TRUE(result == expected("/data/out/" + std::to_string(year_before) + ".txt") ||
              result == expected("/data/out/" + std::to_string(year_after) + ".txt"))
      << result;
}

}  // namespace
