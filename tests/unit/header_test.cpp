// The output stream and the run header: zone texts, layout and the
// conditions under which each block is written.
#include "framework/acct.h"
#include "ipconv/header.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "framework/settings.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

// 7 December 2026 19:05:00 UTC (Monday) and 7 July 2026 18:05:00 UTC
// (Tuesday): 14:05 Eastern time, standard and daylight.
constexpr int64_t kDecember = 1796670300;
constexpr int64_t kJuly = 1783447500;

std::string without_cr(std::string text) {
  std::string out;
  for (char c : text)
    if (c != '\r') out.push_back(c);
  return out;
}

plat::ZoneInfo zone(const std::string& standard, const std::string& daylight_name,
                    long offset, bool daylight) {
  plat::ZoneInfo z;
  z.standard_name = standard;
  z.daylight_name = daylight_name;
  z.offset_seconds = offset;
  z.daylight = daylight;
  return z;
}

class HeaderTest : public testing::Test {
 protected:
  void SetUp() override {
    test::reset_all_state();
  }
  void TearDown() override {
    if (out_file != stdout && out_file != nullptr) std::fclose(out_file);
    if (acct_file != nullptr) std::fclose(acct_file);
    out_file = stdout;
    acct_file = nullptr;
  }
  // Local time of the process: US Eastern with its daylight rules.
  void use_eastern_time() { tz.set(u"EST5EDT,M3.2.0,M11.1.0"); }
  void use_greenwich_time() { tz.set(u"GMT0"); }
  // out_file and acct_file as files of the temporary directory.
  void open_both() {
    out_file = std::fopen((dir.path() / "out.txt").string().c_str(), "w");
    acct_file = std::fopen((dir.path() / "acct.txt").string().c_str(), "w");
  }
  // Closes both and returns what each received.
  std::pair<std::string, std::string> written() {
    std::fclose(out_file);
    std::fclose(acct_file);
    out_file = stdout;
    acct_file = nullptr;
    return {without_cr(test::read_file(dir.path() / "out.txt")),
            without_cr(test::read_file(dir.path() / "acct.txt"))};
  }
  run_header_texts texts_for(int64_t start, const plat::ZoneInfo& z) {
    run_header_texts t;
    run_header_times(t, start, z);
    return t;
  }
  const std::vector<std::u16string> args{u"/tools/ipconv", u"-v", u"data/*.csv"};
  test::TempDir dir;
  test::ScopedTz tz;
};

// ---- run_header_times --------------------------------------------------------

TEST_F(HeaderTest, ZoneAbbreviationsFollowTheBlankRule) {
  struct Case {
    const char* name;
    const char* standard;  // upper-cased
    const char* daylight;  // case kept
  };
  const Case cases[] = {
      {"Eastern Standard Time", "EST", "EST"},
      {"EST", "EST", "EST"},
      {"W. Europe Standard Time", "WES", "WES"},
      {"pacific standard time", "PST", "pst"},
      {"Foo Bar", "FBO", "FBo"},  // third letter stays from the name
      {"A B C D", "ABC", "ABC"},
      {"Foo ", "F", "F"},         // a blank at the end ends the text
      {"ab", "AB", "ab"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    const run_header_texts t = texts_for(kDecember, zone(c.name, c.name, 0, true));
    EXPECT_EQ(t.standard_abbrev, c.standard) << c.name;
    EXPECT_EQ(t.standard_name, c.name);
    if (*c.name) {
      EXPECT_EQ(t.daylight_abbrev, c.daylight) << c.name;
      EXPECT_EQ(t.daylight_name, c.name);
    }
  }
}

TEST_F(HeaderTest, DaylightTextsNeedBothTheFlagAndAName) {
  run_header_texts t = texts_for(kDecember, zone("GST", "GDT", 0, false));
  EXPECT_EQ(t.daylight_flag, 0);
  EXPECT_EQ(t.daylight_abbrev, "");
  EXPECT_EQ(t.daylight_name, "");
  t = texts_for(kDecember, zone("GST", "", 0, true));
  EXPECT_EQ(t.daylight_flag, 0);
  t = texts_for(kDecember, zone("Eastern Standard Time", "Eastern Daylight Time", 18000, true));
  EXPECT_EQ(t.daylight_flag, 1);
  EXPECT_EQ(t.daylight_abbrev, "EDT");
}

TEST_F(HeaderTest, OffsetHoursAreTruncatedTowardZero) {
  EXPECT_EQ(texts_for(kDecember, zone("EST", "", 18000, false)).offset_hours, 5);
  EXPECT_EQ(texts_for(kDecember, zone("CET", "", -3600, false)).offset_hours, -1);
  EXPECT_EQ(texts_for(kDecember, zone("IST", "", -19800, false)).offset_hours, -5);
  EXPECT_EQ(texts_for(kDecember, zone("NST", "", 12600, false)).offset_hours, 3);
}

TEST_F(HeaderTest, GmtTextIsTheTrueUtcTimeInBothSeasons) {
  use_eastern_time();
  const plat::ZoneInfo eastern = zone("EST", "EDT", 18000, true);
  run_header_texts t = texts_for(kDecember, eastern);
  EXPECT_EQ(t.local_time, "Mon Dec 07 14:05:00 2026");
  EXPECT_EQ(t.gmt_time, "Mon Dec 07 19:05:00 2026");
  t = texts_for(kJuly, eastern);
  EXPECT_EQ(t.local_time, "Tue Jul 07 14:05:00 2026");
  EXPECT_EQ(t.gmt_time, "Tue Jul 07 18:05:00 2026");
}

// ---- write_run_header ---------------------------------------------------------

TEST_F(HeaderTest, LayoutInAZoneWithDaylightSaving) {
  use_eastern_time();
  g_options.quiet = 0;
  open_both();
  write_run_header(
      texts_for(kDecember, zone("Eastern Standard Time", "Eastern Daylight Time", 18000, true)),
      args);
  const auto [out, acct] = written();
  EXPECT_EQ(out,
            "\nStarted Mon Dec 07 19:05:00 2026 GMT, 14:05 Eastern Standard Time (EST/EDT:5*)\n"
            "\nCommand line:  /tools/ipconv -v data/*.csv \n"
            "Last Access Date UPDATE is turned ON\n\n\n");
  EXPECT_EQ(acct,
            "\n Started Mon Dec 07 19:05:00 2026 GMT, 14:05 Eastern Standard Time (EST/EDT:5)\n"
            " Command Line: /tools/ipconv -v data/*.csv \n"
            "Last Access Date UPDATE is turned ON\n\n");
}

TEST_F(HeaderTest, LayoutInAZoneWithoutDaylightSaving) {
  use_greenwich_time();
  g_options.quiet = 0;
  open_both();
  write_run_header(texts_for(kJuly, zone("Greenwich Standard Time", "", 0, false)), args);
  const auto [out, acct] = written();
  EXPECT_EQ(out,
            "\nStarted Tue Jul 07 18:05:00 2026 GMT, 18:05 Greenwich Standard Time (GST/:0)\n"
            "\nCommand line:  /tools/ipconv -v data/*.csv \n"
            "Last Access Date UPDATE is turned ON\n\n\n");
  EXPECT_EQ(acct,
            "\n Started Tue Jul 07 18:05:00 2026 GMT, 18:05 Greenwich Standard Time (GST/:0)\n"
            " Command Line: /tools/ipconv -v data/*.csv \n"
            "Last Access Date UPDATE is turned ON\n\n");
}

TEST_F(HeaderTest, AccountingBlockWithoutZoneNameShowsLocalTime) {
  use_greenwich_time();
  g_options.quiet = 1;
  g_options.output = 1;
  open_both();
  write_run_header(texts_for(kJuly, zone("", "", 0, false)), args);
  const auto [out, acct] = written();
  EXPECT_EQ(out, "");
  EXPECT_EQ(acct,
            "\n Started Tue Jul 07 18:05:00 2026 Local Time: \n"
            " Command Line: /tools/ipconv -v data/*.csv \n"
            "Last Access Date UPDATE is turned ON\n\n");
}

TEST_F(HeaderTest, QuietAndOutputDecideWhichBlocksAreWritten) {
  struct Case {
    int quiet, output;
    bool to_out, to_acct;
  };
  const Case cases[] = {
      {1, 0, false, false},  // the defaults: nothing anywhere
      {1, 1, false, true},
      {1, -1, false, true},
      {0, 0, true, true},
      {0, 1, true, true},
  };
  const run_header_texts t = texts_for(kJuly, zone("GST", "", 0, false));
  for (const Case& c : cases) {
    g_options.quiet = c.quiet;
    g_options.output = c.output;
    open_both();
    write_run_header(t, args);
    const auto [out, acct] = written();
    EXPECT_EQ(!out.empty(), c.to_out) << "quiet " << c.quiet << " output " << c.output;
    EXPECT_EQ(!acct.empty(), c.to_acct) << "quiet " << c.quiet << " output " << c.output;
  }
}

TEST_F(HeaderTest, PrintRunHeaderUsesTheClockOfNow) {
  g_options.quiet = 0;
  open_both();
  print_run_header(args);
  const auto [out, acct] = written();
  ASSERT_EQ(out.rfind("\nStarted ", 0), 0u) << out;
  EXPECT_NE(out.find(" GMT, "), std::string::npos);
  EXPECT_NE(out.find("Command line:  /tools/ipconv -v data/*.csv \n"), std::string::npos);
  EXPECT_EQ(acct.rfind("\n Started ", 0), 0u) << acct;
}

// ---- open_output -----------------------------------------------------------------

TEST_F(HeaderTest, OutputFileIsCreatedOrAppendedTo) {
  const fs::path file = dir.write("out.txt", "earlier\n");
  output_path = test::u16(file.string());
  g_options.output = 1;
  g_options.append = 1;
  open_output();
  ASSERT_NE(out_file, stdout);
  std::fputs("more\n", out_file);
  std::fclose(out_file);
  EXPECT_EQ(without_cr(test::read_file(file)), "earlier\nmore\n");

  g_options.append = 0;
  open_output();
  ASSERT_NE(out_file, stdout);
  std::fputs("new\n", out_file);
  std::fclose(out_file);
  out_file = stdout;
  EXPECT_EQ(without_cr(test::read_file(file)), "new\n");
}

TEST_F(HeaderTest, OutputFileThatCannotBeOpenedEndsTheRunWithStatus3) {
  const fs::path file = dir.path() / "missing" / "out.txt";
  output_path = test::u16(file.string());
  g_options.output = 1;
  for (int append : {0, 1}) {
    g_options.append = append;
    CaptureStderr();
    try {
      open_output();
      FAIL() << "the run went on";
    } catch (const test::RunEnded& ended) {
      EXPECT_EQ(ended.status, exit_status::output_file);
    }
    const std::string err = GetCapturedStderr();
    const std::string verb = append ? "open" : "create";
    // The system's reason on the line between the message and the location.
    EXPECT_EQ(err.rfind("\ncan't " + verb + " output file " + file.string() + "\n  " +
                            plat::last_error_text() + "\nFILE: ",
                        0),
              0u)
        << err;
    EXPECT_NE(err.find(", LINE "), std::string::npos);
  }
  EXPECT_EQ(out_file, stdout);
}

TEST_F(HeaderTest, StandardOutputOrNoFileKeepsStandardOutput) {
  g_options.output = -1;
  g_options.append = 1;
  CaptureStdout();
  open_output();
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(out_file, stdout);

  g_options.output = 0;
  CaptureStdout();
  open_output();
  EXPECT_EQ(GetCapturedStdout(), "\n\tNeed output file name if -a is chosen\n");
  EXPECT_EQ(out_file, stdout);
}

}  // namespace
