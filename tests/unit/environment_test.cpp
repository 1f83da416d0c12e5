// The framework's start-up from the environment: the RESET and SILENT
// switches, the zone abbreviation and the blank filler text.
#include <gtest/gtest.h>

#include <string>

#include "framework/environment.h"
#include "framework/settings.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

class EnvironmentTest : public ::testing::Test {
 protected:
  void SetUp() override { test::reset_all_state(); }
  void TearDown() override {
    // An empty value counts as off for the later tests of this program.
    plat::set_env("RESET", u"");
    plat::set_env("SILENT", u"");
  }
};

TEST_F(EnvironmentTest, SwitchIsOnWhenTheUpperCasedValueContainsOn) {
  struct Case { const char16_t* value; int on; };
  for (const Case& c : {Case{u"on", 1}, Case{u"On", 1}, Case{u"NONE", 1},
                        Case{u"monday", 1}, Case{u"YES", 0}, Case{u"1", 0},
                        Case{u"OFF", 0}, Case{u"o n", 0}, Case{u"", 0}}) {
    plat::set_env("IPCONV_SWITCH_TEST", c.value);
    EXPECT_EQ(env_switch_on("IPCONV_SWITCH_TEST"), c.on) << test::u8(c.value);
  }
  EXPECT_EQ(env_switch_on("IPCONV_SWITCH_NEVER_SET"), 0);
}

TEST_F(EnvironmentTest, SwitchUpperCasesTheProcessCopy) {
  plat::set_env("IPCONV_SWITCH_TEST", u"MixedOn-case");
  EXPECT_EQ(env_switch_on("IPCONV_SWITCH_TEST"), 1);
  EXPECT_EQ(plat::get_env("IPCONV_SWITCH_TEST"), std::u16string(u"MIXEDON-CASE"));
}

TEST_F(EnvironmentTest, ResetAndSilentFollowTheOnRule) {
  plat::set_env("RESET", u"yes");
  plat::set_env("SILENT", u"off");
  init_environment();
  EXPECT_EQ(g_options.reset_access, 0);
  EXPECT_EQ(g_options.quiet, 1);

  plat::set_env("RESET", u"on");
  plat::set_env("SILENT", u"NONE");
  init_environment();
  EXPECT_EQ(g_options.reset_access, 1);
  EXPECT_EQ(g_options.quiet, 0);
}

TEST_F(EnvironmentTest, ZoneAbbreviationRule) {
  EXPECT_EQ(zone_abbreviation_of("Eastern Standard Time"), "EST");
  EXPECT_EQ(zone_abbreviation_of("W. Europe Standard Time"), "WES");
  EXPECT_EQ(zone_abbreviation_of("Foo Bar"), "FB");
  EXPECT_EQ(zone_abbreviation_of("EST"), "EST");
  EXPECT_EQ(zone_abbreviation_of(""), "TZ0");
  EXPECT_EQ(zone_abbreviation_of("Central European Summer Time"), "CES");
  EXPECT_EQ(zone_abbreviation_of("pacific standard time"), "PST");
  EXPECT_EQ(zone_abbreviation_of("CEST"), "CES");
  EXPECT_EQ(zone_abbreviation_of("ut"), "UT");
  EXPECT_EQ(zone_abbreviation_of("Utc "), "U");  // nothing after the blank
}

TEST_F(EnvironmentTest, ZoneAbbreviationComesFromThePlatformZone) {
  test::ScopedTz tz(u"ABCD5EFGH");
  EXPECT_STREQ(zone_abbreviation(), "ABC");
  EXPECT_STREQ(g_zone_abbrev, "ABC");
  tz.set(u"EST5EDT");
  init_environment();
  EXPECT_STREQ(g_zone_abbrev, "EST");
}

TEST(BlankText, Holds199Blanks) {
  EXPECT_EQ(std::string(blank_text), std::string(199, ' '));
}


}  // namespace
