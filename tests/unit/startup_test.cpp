// This program's start-up layers: its defaults over the framework's and the
// settings derived last.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "framework/environment.h"
#include "framework/settings.h"
#include "ipconv/jobs.h"
#include "ipconv/startup.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override { test::reset_all_state(); }
};

TEST_F(StartupTest, FrameworkDefaultsThenProgramDefaults) {
  init_environment();
  EXPECT_EQ(g_options.width, 50);
  EXPECT_EQ(g_options.time_kind, 'w');
  out_file = nullptr;
  init_program_defaults();
  EXPECT_EQ(g_options.width, 40);  // the program's own width wins
  EXPECT_EQ(g_options.name_width, 50);
  EXPECT_EQ(g_options.recurse, 1);
  EXPECT_EQ(g_options.streams, 1);
  EXPECT_EQ(g_options.show_time, 1);
  EXPECT_EQ(g_options.quiet, 1);
  EXPECT_EQ(g_options.zulu, 0);
  EXPECT_EQ(g_options.pause, 0);
  EXPECT_EQ(g_options.immediate, 0);
  EXPECT_EQ(out_file, stdout);
  EXPECT_EQ(delim_char, ' ');
}

TEST_F(StartupTest, ThreadsFromTheCommandLineElseTheEnvironmentElseTheProcessors) {
  const auto saved = plat::get_env("IPCONV_JOBS");
  const struct {
    int32_t option;
    const char* environment;  // nullptr: not set
    int threads;              // 0: the default
    const char* note;
  } cases[] = {
      {0, nullptr, 0, ""},
      {0, "3", 3, ""},
      {5, "3", 5, ""},
      {0, "0", 0, "\nIPCONV_JOBS=0 passed over: a number of threads from 1 to 64 is wanted\n"},
      {0, "many", 0, "\nIPCONV_JOBS=many passed over: a number of threads from 1 to 64 is wanted\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.environment ? c.environment : "unset");
    test::reset_all_state();
    thread_count = c.option;
    plat::set_env("IPCONV_JOBS", c.environment ? test::u16(c.environment) : u"");
    testing::internal::CaptureStderr();
    choose_job_threads();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.environment && *c.environment ? c.note : "");
    EXPECT_EQ(job_threads(), c.threads != 0 ? c.threads : default_job_threads());
  }
  plat::set_env("IPCONV_JOBS", saved.value_or(u""));
  EXPECT_GE(default_job_threads(), 1);
  EXPECT_LE(default_job_threads(), 8);
}

TEST_F(StartupTest, SettleInvertsImmediate) {
  settle_settings();
  EXPECT_EQ(g_options.immediate, 1);
  g_options.immediate = 5;
  settle_settings();
  EXPECT_EQ(g_options.immediate, 0);
}

TEST_F(StartupTest, SettleNarrowsForLongTimes) {
  g_options.width = 40;
  g_options.time_kind = '3';
  settle_settings();
  EXPECT_EQ(g_options.width, 37);

  g_options.time_kind = 'a';
  g_options.time_long = 1;
  settle_settings();
  EXPECT_EQ(g_options.width, 34);

  g_options.time_long = 0;
  settle_settings();
  EXPECT_EQ(g_options.width, 34);
}

TEST_F(StartupTest, SettleNameAfterWidth) {
  g_options.width = 40;
  g_options.name_after = 1;
  name_after_width = 30;
  settle_settings();
  EXPECT_EQ(g_options.width, 30);

  name_after_width = -1;
  settle_settings();
  EXPECT_EQ(g_options.width, 30);
  EXPECT_EQ(name_after_width, 50);

  g_options.width = 0;
  name_after_width = 25;
  settle_settings();
  EXPECT_EQ(g_options.width, 0);
  EXPECT_EQ(name_after_width, 50);

  g_options.name_after = 0;
  g_options.width = 40;
  name_after_width = 10;
  settle_settings();
  EXPECT_EQ(g_options.width, 40);
}

class ComputerNameComment : public StartupTest {
 protected:
  void SetUp() override {
    StartupTest::SetUp();
    auto name = plat::computer_name();
    ASSERT_TRUE(name.has_value());
    cut_ = name->substr(0, 12);
    g_options.comment = 1;
  }
  std::u16string cut_;
};

TEST_F(ComputerNameComment, PadsToTheNumberAndAddsTheDelimiter) {
  comment_text = u"COMPUTERNAME20";
  settle_settings();
  std::u16string expected = cut_ + std::u16string(20 - cut_.size(), u' ') + u" ";
  EXPECT_EQ(comment_text, expected);
  EXPECT_EQ(comment_text.size(), 21u);
}

TEST_F(ComputerNameComment, LowerCaseWithoutNumberIsNotPadded) {
  comment_text = u"computername";
  delim_char = ',';
  settle_settings();
  EXPECT_EQ(comment_text, cut_ + u",");
}

TEST_F(ComputerNameComment, ExplicitDelimiterIsNotAppended) {
  comment_text = u"ComputerName1";
  g_options.delim = 1;
  settle_settings();
  EXPECT_EQ(comment_text, cut_);  // a name is never shorter than 1
}

TEST_F(ComputerNameComment, PaddingStaysWithinTheCommentRoom) {
  comment_text = u"COMPUTERNAME100000";
  settle_settings();
  EXPECT_EQ(comment_text.size(), kCommentTextUnits - 1);  // delimiter included
  EXPECT_EQ(comment_text.substr(0, cut_.size()), cut_);
  g_options.delim = 1;
  comment_text = u"COMPUTERNAME100000";
  settle_settings();
  EXPECT_EQ(comment_text.size(), kCommentTextUnits - 1);
}

TEST_F(ComputerNameComment, OtherTextsAndCommentValuesAreLeftAlone) {
  comment_text = u"COMPUTER";
  settle_settings();
  EXPECT_EQ(comment_text, u"COMPUTER");
  comment_text = u"COMPUTERNAME";
  g_options.comment = 2;
  settle_settings();
  EXPECT_EQ(comment_text, u"COMPUTERNAME");
}

}  // namespace
