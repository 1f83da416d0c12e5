// The option letters, their value forms and the steps around the scan.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "framework/acct.h"
#include "framework/dates.h"
#include "framework/environment.h"
#include "framework/options.h"
#include "framework/search_lists.h"
#include "framework/settings.h"
#include "ipconv/startup.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

const char kUsageLine[] = "usually, the command line is:  programname  inputfile\n";

class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::reset_all_state();
    init_environment();
    init_program_defaults();
    cwd_ = std::make_unique<test::ScopedCwd>(dir_.path());
  }
  void TearDown() override {
    if (acct_file) std::fclose(acct_file);
    acct_file = nullptr;
    cwd_.reset();
  }

  // Parses the arguments after a program name.
  void parse(const std::vector<std::string>& words) {
    std::vector<std::u16string> args{u"ipconv"};
    for (const auto& w : words) args.push_back(test::u16(w));
    parse_options(args);
  }
  // Parses, expecting the run to end; returns its status.
  exit_status parse_ending(const std::vector<std::string>& words) {
    try {
      parse(words);
    } catch (const test::RunEnded& ended) {
      return ended.status;
    }
    ADD_FAILURE() << "the run did not end";
    return exit_status::normal_exit;
  }
  std::u16string in_dir(const std::string& name) const {
    return *plat::full_path(test::u16(name), kMaxPathUnits);
  }

  test::TempDir dir_;
  std::unique_ptr<test::ScopedCwd> cwd_;
};

TEST_F(OptionsTest, GroupsApplyEveryLetterAndPlusForcesOn) {
  parse({"-vr"});
  EXPECT_EQ(g_options.quiet, 0);
  EXPECT_EQ(g_options.recurse, 0);

  parse({"+r", "+S", "+m"});
  EXPECT_EQ(g_options.recurse, 1);
  EXPECT_EQ(g_options.streams, 1);
  EXPECT_EQ(g_options.show_time, 1);
}

TEST_F(OptionsTest, TogglesTwiceRestoreAndPlusFormsClear) {
  parse({"-rSPm"});
  EXPECT_EQ(g_options.recurse, 0);
  EXPECT_EQ(g_options.streams, 0);
  EXPECT_EQ(g_options.pause, 1);
  EXPECT_EQ(g_options.show_time, 0);
  parse({"-r", "-S", "-P", "-m"});
  EXPECT_EQ(g_options.recurse, 1);
  EXPECT_EQ(g_options.streams, 1);
  EXPECT_EQ(g_options.pause, 0);
  EXPECT_EQ(g_options.show_time, 1);

  parse({"-a"});
  EXPECT_EQ(g_options.append, 1);
  parse({"+a"});
  EXPECT_EQ(g_options.append, 0);
}

TEST_F(OptionsTest, PlainSwitchLetters) {
  parse({"-MIHRVX"});
  EXPECT_EQ(g_options.auto_width, 1);
  EXPECT_EQ(g_options.immediate, 1);
  EXPECT_EQ(g_options.opt_h, 1);
  EXPECT_EQ(g_options.reset_access, 1);
  EXPECT_EQ(g_options.var_len, 1);
  EXPECT_EQ(g_options.opt_X, 1);

  for (const char* z : {"-U", "-u", "-Z", "-z"}) {
    g_options.zulu = 0;
    parse({z});
    EXPECT_EQ(g_options.zulu, 1) << z;
  }
  g_options.immediate = g_options.opt_h = 0;
  parse({"-ih"});
  EXPECT_EQ(g_options.immediate, 1);
  EXPECT_EQ(g_options.opt_h, 1);
}

TEST_F(OptionsTest, XTakesTheRestOfItsGroup) {
  parse({"-Xvr"});
  EXPECT_EQ(g_options.opt_X, 2);
  EXPECT_EQ(g_options.quiet, 1);  // v and r belong to X
  EXPECT_EQ(g_options.recurse, 1);
}

TEST_F(OptionsTest, WidthTakesAttachedEqualsOrNextArgument) {
  for (auto form : std::vector<std::vector<std::string>>{{"-w60"}, {"-w", "60"}, {"-w=60"}, {"-W60"}}) {
    g_options.width = g_options.name_width = 0;
    parse(form);
    EXPECT_EQ(g_options.width, 60) << form[0];
    EXPECT_EQ(g_options.name_width, 60) << form[0];
  }
  parse({"-w10", "-w", "20"});
  EXPECT_EQ(g_options.width, 20);  // the rightmost wins
}

TEST_F(OptionsTest, NameAndPathOnlyWithTheirWidths) {
  parse({"-n=30"});
  EXPECT_EQ(g_options.name_only, 1);
  EXPECT_EQ(g_options.width, 30);
  EXPECT_EQ(g_options.name_width, 30);

  parse({"+n"});
  EXPECT_EQ(g_options.name_only, 0);
  EXPECT_EQ(g_options.width, 30);

  parse({"-N70"});
  EXPECT_EQ(g_options.path_only, 1);
  EXPECT_EQ(g_options.width, 70);
  EXPECT_EQ(g_options.name_width, 30);
  parse({"+N", "-n"});
  EXPECT_EQ(g_options.path_only, 0);
  EXPECT_EQ(g_options.name_only, 1);
  EXPECT_EQ(g_options.name_width, 70);  // copied from width
}

TEST_F(OptionsTest, PathOnlyClearsNameOnlyAtTheEnd) {
  parse({"-n", "-N"});
  EXPECT_EQ(g_options.path_only, 1);
  EXPECT_EQ(g_options.name_only, 0);
}

TEST_F(OptionsTest, OutputStdoutInAnyCaseKeepsThePath) {
  testing::internal::CaptureStdout();
  parse({"-o", "first.txt"});
  std::string printed = testing::internal::GetCapturedStdout();
  const std::u16string first = in_dir("first.txt");
  EXPECT_EQ(output_path, first);
  EXPECT_EQ(g_options.output, 1);
  EXPECT_EQ(printed, "\n\n886 .\\Options_u\n-o outputname " + test::u8(first) + "\n\n");

  for (const char* word : {"stdout", "STDOUT", "StdOut"}) {
    g_options.append = 1;
    testing::internal::CaptureStdout();
    parse({"-o", word});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << word;
    EXPECT_EQ(g_options.output, -1) << word;
    EXPECT_EQ(g_options.append, 0) << word;
    EXPECT_EQ(output_path, first) << word;
  }
}

TEST_F(OptionsTest, UpperOAppendsAndPlusFormsClear) {
  testing::internal::CaptureStdout();
  parse({"-Oout.txt"});
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(g_options.append, 1);
  EXPECT_EQ(g_options.output, 1);
  EXPECT_EQ(output_path, in_dir("out.txt"));

  parse({"+o"});
  EXPECT_EQ(g_options.append, 0);
  EXPECT_EQ(g_options.output, 0);

  parse({"-O", "stdout"});
  EXPECT_EQ(g_options.append, 0);
  EXPECT_EQ(g_options.output, -1);
}

TEST_F(OptionsTest, TimeLetterAttachedOrFromTheNextArgument) {
  parse({"-ta"});
  EXPECT_EQ(g_options.time_kind, 'a');
  EXPECT_EQ(g_options.time_long, 0);

  parse({"-tA"});
  EXPECT_EQ(g_options.time_kind, 'a');
  EXPECT_EQ(g_options.time_long, 1);

  g_options.time_long = 0;
  testing::internal::CaptureStdout();
  parse({"-t", "c", "-v"});
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // c was consumed
  EXPECT_EQ(g_options.time_kind, 'c');
  EXPECT_EQ(g_options.quiet, 0);

  parse({"-tCr"});  // the group goes on after the letter
  EXPECT_EQ(g_options.time_kind, 'c');
  EXPECT_EQ(g_options.time_long, 1);
  EXPECT_EQ(g_options.recurse, 0);

  parse({"-tq"});  // other letters are stored as they are
  EXPECT_EQ(g_options.time_kind, 'q');
}

TEST_F(OptionsTest, TimeThreeZeroPlusAndReverse) {
  parse({"-z", "-t3"});
  EXPECT_EQ(g_options.all_times, 1);
  EXPECT_EQ(g_options.time_kind, '3');
  parse({"-t0"});
  EXPECT_EQ(g_options.all_times, 0);
  EXPECT_EQ(g_options.zulu, 0);
  EXPECT_EQ(g_options.show_time, 0);
  EXPECT_EQ(g_options.time_kind, '0');

  parse({"-ta", "+t"});
  EXPECT_EQ(g_options.show_time, 0);
  EXPECT_EQ(g_options.time_kind, 'w');

  parse({"-TW"});
  EXPECT_EQ(g_options.reverse, 1);
  EXPECT_EQ(g_options.show_time, 1);
  EXPECT_EQ(g_options.time_kind, 'w');
  EXPECT_EQ(g_options.time_long, 1);
}

TEST_F(OptionsTest, DelimiterOneCharacterIsItselfLongerIsACode) {
  struct Case { std::vector<std::string> args; char expected; };
  for (const Case& c : {Case{{"-d", ","}, ','}, Case{{"-d", "9"}, '9'},
                        Case{{"-d", "09"}, '\t'}, Case{{"-d44"}, ','},
                        Case{{"-d=;"}, ';'}, Case{{"-d", "300"}, static_cast<char>(300 & 0xFF)}}) {
    g_options.delim = 0;
    delim_char = ' ';
    parse(c.args);
    EXPECT_EQ(g_options.delim, 1);
    EXPECT_EQ(delim_char, c.expected) << c.args.back();
  }
}

TEST_F(OptionsTest, VarLenForcesAPipeUnlessADelimiterWasChosen) {
  parse({"-V"});
  EXPECT_EQ(g_options.delim, 1);
  EXPECT_EQ(delim_char, '|');

  test::reset_all_state();
  parse({"-V", "-d;"});
  EXPECT_EQ(delim_char, ';');
}

TEST_F(OptionsTest, EightAndDoubleEightForms) {
  parse({"-8v"});
  EXPECT_EQ(g_options.opt_8, 1);
  EXPECT_EQ(g_options.quiet, 0);

  parse({"-88r"});  // the group ends: r is no letter here
  EXPECT_EQ(g_options.opt_8, 0);
  EXPECT_EQ(g_options.recurse, 1);
  EXPECT_EQ(g_options.name_format, 2);
  EXPECT_EQ(name_format_width, 0);

  parse({"-88"});
  EXPECT_EQ(g_options.name_format, 1);
  EXPECT_EQ(name_format_width, 0);

  parse({"-8840E"});
  EXPECT_EQ(g_options.name_format, 2);
  EXPECT_EQ(name_format_width, 40);
  EXPECT_EQ(g_options.ext_mode, 2);
  for (const char* both : {"-8860Ee", "-8860eE"}) {
    g_options.ext_mode = 0;
    parse({both});
    EXPECT_EQ(g_options.ext_mode, 1) << both;  // e wins over E
    EXPECT_EQ(name_format_width, 60);
  }
}

TEST_F(OptionsTest, AttributeModifiers) {
  parse({"-Ahr"});
  EXPECT_EQ(g_options.attr_filter, 1);
  EXPECT_EQ(g_options.attr_hidden, 1);
  EXPECT_EQ(g_options.attr_readonly, 1);
  EXPECT_EQ(g_options.attr_system, 0);

  parse({"-AdDMSex"});
  EXPECT_EQ(g_options.dir_mode, 3);
  EXPECT_EQ(g_options.dir_select, 1);
  EXPECT_EQ(g_options.attr_archive, 1);
  EXPECT_EQ(g_options.attr_system, 1);
  EXPECT_EQ(g_options.attr_e, 1);
}

TEST_F(OptionsTest, AttributeLetterAloneWarnsAndParsingGoesOn) {
  testing::internal::CaptureStderr();
  parse({"-A", "-v"});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "\n-A option needs a modifier [rhms]\n");
  EXPECT_EQ(g_options.attr_filter, 1);
  EXPECT_EQ(g_options.quiet, 0);
}

TEST_F(OptionsTest, AttributeBitsOfQ) {
  parse({"-q-hS"});
  EXPECT_EQ(g_options.attr_filter, 1);
  EXPECT_EQ(attr_exclude, 0x06);
  parse({"-q+aRe"});
  EXPECT_EQ(attr_include, 0x4021);
  parse({"-q-0"});
  EXPECT_EQ(attr_exclude, 0x4023);
  attr_exclude = 0;
  parse({"-q+n"});
  EXPECT_EQ(attr_exclude, 0x4023);
  EXPECT_EQ(attr_include, 0);

  parse({"-qv"});  // neither sign: the group goes on
  EXPECT_EQ(g_options.quiet, 0);
}

TEST_F(OptionsTest, SizesRangeAndDays) {
  parse({"-G5000000000", "-L", "200", "-D", "5,10c"});
  EXPECT_EQ(g_options.size_greater, 1);
  EXPECT_EQ(size_greater_than, 5000000000LL);
  EXPECT_EQ(g_options.size_less, 1);
  EXPECT_EQ(size_less_than, 200);
  EXPECT_EQ(range_low, 5);
  EXPECT_EQ(range_high, 10);
  EXPECT_EQ(range_mode, 'c');

  parse({"-g", "30", "-l7"});
  EXPECT_EQ(g_options.date_filter, 1);
  EXPECT_EQ(g_options.older, 1);
  EXPECT_EQ(older_days, 30);
  EXPECT_EQ(g_options.newer, 1);
  EXPECT_EQ(newer_days, 7);
}

TEST_F(OptionsTest, DayOptionWithADateUsesTheDateRule) {
  int32_t days = 0;
  int64_t time = 0;
  ASSERT_TRUE(date_to_days_and_time(u"01-15-2014", days, time));
  parse({"-g01-15-2014"});
  EXPECT_EQ(g_options.older, 1);
  EXPECT_EQ(older_days, days);
  EXPECT_EQ(older_time, time);
  EXPECT_GT(older_days, 3000);  // not the day count read as 1
}

TEST_F(OptionsTest, CommentAttachedOrNext) {
  parse({"-CNight run"});
  EXPECT_EQ(g_options.comment, 1);
  EXPECT_EQ(comment_text, u"Night run");
  parse({"-C", "second"});
  EXPECT_EQ(comment_text, u"second");

  testing::internal::CaptureStdout();
  parse({"-C", "-dash"});  // taken, after the usage text
  EXPECT_NE(testing::internal::GetCapturedStdout().find(kUsageLine), std::string::npos);
  EXPECT_EQ(comment_text, u"-dash");

  // The comment keeps to its room, one unit left for the end.
  parse({"-C", std::string(5000, 'c')});
  EXPECT_EQ(comment_text, std::u16string(kCommentTextUnits - 1, u'c'));
}

TEST_F(OptionsTest, AccountingLetterNamesTheFileAndPlusOneCancels) {
  testing::internal::CaptureStdout();
  parse({"-1", "run.acct"});
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(g_options.accounting, 1);
  EXPECT_EQ(acct_path, in_dir("run.acct"));

  testing::internal::CaptureStdout();
  parse({"-1", "-odd.acct"});
  EXPECT_NE(testing::internal::GetCapturedStdout().find(kUsageLine), std::string::npos);
  EXPECT_EQ(acct_path, in_dir("-odd.acct"));

  if (acct_file) std::fclose(acct_file);
  acct_file = std::tmpfile();
  ASSERT_NE(acct_file, nullptr);
  parse({"+1"});
  EXPECT_EQ(g_options.accounting, 0);
  EXPECT_EQ(acct_file, nullptr);  // closed by +1
}

TEST_F(OptionsTest, AccountingLetterWritesTheOverrideIntoTheOpenFile) {
  const auto old_log = dir_.path() / "old.acct";
  acct_file = std::fopen(old_log.string().c_str(), "w");
  ASSERT_NE(acct_file, nullptr);
  testing::internal::CaptureStdout();
  parse({"-1new.acct"});
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(test::read_file(old_log),
            "This file closed." + std::string(plat::line_end()) +
                "Accounting file overridden by option -1 file pointing to " +
                test::u8(in_dir("new.acct")) + plat::line_end());
}

TEST_F(OptionsTest, DirectoryListStopsAtTheNextOption) {
  parse({"-p", "dir1", "dir2", "-v"});
  ASSERT_EQ(search_dirs.size(), 2u);
  EXPECT_EQ(search_dirs[0], plat::long_path_prefix() + in_dir("dir1"));
  EXPECT_EQ(search_dirs[1], plat::long_path_prefix() + in_dir("dir2"));
  EXPECT_EQ(g_options.quiet, 0);
}

TEST_F(OptionsTest, FileTypeListWarnsOncePerSeparator) {
  testing::internal::CaptureStderr();
  const std::string sep(1, static_cast<char>(plat::separator()));
  const std::string nested = "a" + sep + "b" + sep + "c.log";
  parse({"-f", "*.txt", "*.csv", nested, "+r"});
  std::string warned = testing::internal::GetCapturedStderr();
  const std::string line = "Can't have a " + sep + " in the file type option\n";
  EXPECT_EQ(warned, line + line);
  EXPECT_EQ(type_list, (std::vector<std::u16string>{u"*.txt", u"*.csv", test::u16(nested)}));
  EXPECT_EQ(g_options.recurse, 1);
}

TEST_F(OptionsTest, EveryFileTypeWhenNoneWasNamed) {
  parse({"-v"});
  EXPECT_EQ(type_list, std::vector<std::u16string>{u"*.*"});
  test::reset_all_state();
  parse({"-f", "*.ip"});
  EXPECT_EQ(type_list, std::vector<std::u16string>{u"*.ip"});
}

TEST_F(OptionsTest, ExcludeListIsUpperCasedAndRestarts) {
  add_exclude_pattern(u"FROM.INI");
  parse({"-x", "*.tmp", "*.Bak", "-v"});
  EXPECT_EQ(g_options.exclude, 1);
  EXPECT_EQ(exclude_list, (std::vector<std::u16string>{u"*.TMP", u"*.BAK"}));
  EXPECT_EQ(exclude_count, 2);
  EXPECT_EQ(g_options.quiet, 0);

  parse({"-x", "a", "-x", "b"});
  EXPECT_EQ(exclude_list, std::vector<std::u16string>{u"B"});
  EXPECT_EQ(exclude_count, 1);
}

TEST_F(OptionsTest, ExcludeListIsCutAfterItsSeventyEighthEntry) {
  std::vector<std::string> args{"-x"};
  for (int k = 0; k < 79; ++k) args.push_back("p" + std::to_string(k));
  testing::internal::CaptureStderr();
  parse(args);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // 79 is not too many
  EXPECT_EQ(exclude_count, 78);
  EXPECT_EQ(exclude_list.back(), u"P77");
}

TEST_F(OptionsTest, ExcludeListBeyondItsRoomDropsTheRest) {
  std::vector<std::string> args{"-x"};
  for (int k = 0; k < 300; ++k) args.push_back("p" + std::to_string(k));
  args.push_back("-v");  // still reached: the dropped items are consumed
  testing::internal::CaptureStderr();
  parse(args);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\nYou have too many -eXclude file types.\nMax exclude types is 80\n");
  EXPECT_EQ(exclude_count, 78);
  EXPECT_EQ(exclude_list.size(), 78u);
  EXPECT_EQ(exclude_list.front(), u"P0");
  EXPECT_EQ(g_options.quiet, 0);
}

TEST_F(OptionsTest, ExcludeListBeginningWithADashEndsTheRun) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(parse_ending({"-x", "-v"}), exit_status::illegal_option);
  EXPECT_NE(testing::internal::GetCapturedStdout().find(kUsageLine), std::string::npos);
}

TEST_F(OptionsTest, ValueLetterAtTheEndEndsTheRunWithUsage) {
  for (const char* letter : {"-1", "-C", "-D", "-G", "-L", "-W", "-w", "-d", "-g",
                             "-l", "-o", "-O", "-t", "-T", "-x", "-vw"}) {
    test::reset_all_state();
    testing::internal::CaptureStdout();
    EXPECT_EQ(parse_ending({letter}), exit_status::illegal_option) << letter;
    EXPECT_NE(testing::internal::GetCapturedStdout().find(kUsageLine), std::string::npos)
        << letter;
    EXPECT_EQ(test::pauses_taken(), 0);
  }
}

TEST_F(OptionsTest, LeadingArgumentsThenExtraItemEndsTheScan) {
  dir_.write("a.txt", "1\n");
  testing::internal::CaptureStdout();
  parse({"a.txt", "-v", "b.txt", "-r"});
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\nThere appears to be an extra or eroneous item \"b.txt\"\n"
            "at the end of the command line\n"
            "Please check your syntax, and correct to problem.\n");
  ASSERT_EQ(search_dirs.size(), 1u);
  EXPECT_EQ(search_dirs[0], plat::long_path_prefix() + *plat::current_dir());
  EXPECT_EQ(type_list, std::vector<std::u16string>{u"a.txt"});
  EXPECT_EQ(g_options.quiet, 0);
  EXPECT_EQ(g_options.recurse, 1);  // -r came after the extra item
}

TEST_F(OptionsTest, LoneDashIsAFileArgumentThatNamesStandardInput) {
  testing::internal::CaptureStdout();
  parse({"a.txt", "-", "b.txt", "-", "-v"});
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(standard_input_named);
  EXPECT_EQ(file_argument_count, 4u);
  EXPECT_EQ(search_dirs.size(), 1u);
  EXPECT_EQ(type_list, (std::vector<std::u16string>{u"a.txt", u"b.txt"}));
  EXPECT_EQ(g_options.quiet, 0);
}

TEST_F(OptionsTest, DotIniIsSkippedAndTheNextArgumentIsAGroup) {
  parse({"-.ini", "xv"});  // its first character only introduces the group
  EXPECT_EQ(g_options.quiet, 0);
  parse({"-r", "-.ini"});
  EXPECT_EQ(g_options.recurse, 0);
}

TEST_F(OptionsTest, IllegalLetterShowsHelpPausesAndEnds) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(parse_ending({"-vyz"}), exit_status::illegal_option);
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "\nIllegal option yz\n");
  EXPECT_NE(err.find("COMMAND LINE:  program  inputfilename"), std::string::npos);
  EXPECT_EQ(test::pauses_taken(), 1);
  EXPECT_EQ(test::seconds_paused(), 2);
  EXPECT_EQ(g_options.quiet, 0);  // what came before stays applied
}

TEST_F(OptionsTest, QuestionMarkShowsBothTextsWithoutWaiting) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(parse_ending({"-?"}), exit_status::illegal_option);
  EXPECT_NE(testing::internal::GetCapturedStdout().find(kUsageLine), std::string::npos);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("COMMAND LINE:"), std::string::npos);
  EXPECT_EQ(test::pauses_taken(), 0);
}

TEST_F(OptionsTest, HelpAndVersionRequestsAreAnsweredBeforeAnythingElse) {
  enum class answer { usage_and_help, help_page, version };
  struct Case {
    std::vector<std::string> words;
    exit_status status;
    answer given;
  } cases[] = {
      {{"--help"}, exit_status::normal_exit, answer::help_page},
      {{"--HELP"}, exit_status::normal_exit, answer::help_page},
      {{"+-Help"}, exit_status::normal_exit, answer::help_page},
      {{"/?"}, exit_status::illegal_option, answer::usage_and_help},  // on every platform
      {{"-r-help"}, exit_status::normal_exit, answer::help_page},
      {{"a.txt", "-1", "acct.txt", "stray", "--help"}, exit_status::normal_exit,
       answer::help_page},
      {{"--version"}, exit_status::normal_exit, answer::version},
      {{"-1", "acct.txt", "--VERSION"}, exit_status::normal_exit, answer::version},
  };
  for (const Case& c : cases) {
    const std::string shown = c.words.back();
    test::reset_all_state();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(parse_ending(c.words), c.status) << shown;
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    switch (c.given) {
      case answer::version:
        EXPECT_EQ(out, "ipconv " IPCONV_VERSION "\n") << shown;
        break;
      case answer::usage_and_help:
        EXPECT_NE(out.find(kUsageLine), std::string::npos) << shown;
        EXPECT_NE(err.find("COMMAND LINE:"), std::string::npos) << shown;
        break;
      case answer::help_page:
        EXPECT_NE(out.find("COMMAND LINE:"), std::string::npos) << shown;
        EXPECT_NE(out.find("\n  --ACC "), std::string::npos) << shown;
        EXPECT_EQ(err, "") << shown;
        break;
    }
    // Answered before the accounting file or the file arguments were taken.
    EXPECT_EQ(acct_file, nullptr) << shown;
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "acct.txt")) << shown;
    EXPECT_TRUE(search_dirs.empty()) << shown;
  }
}

TEST_F(OptionsTest, ExtraItemWithoutFileArgumentEndsTheRun) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(parse_ending({"-v", "-1", "acct.txt", "data.csv"}), exit_status::illegal_option);
  EXPECT_NE(testing::internal::GetCapturedStdout().find(
                "\nThere appears to be an extra or eroneous item \"data.csv\"\n"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "acct.txt"));  // parsing did not finish
}

TEST_F(OptionsTest, LongOptionTakesTheRestOfTheGroup) {
  parse({"-r-VAR"});
  EXPECT_EQ(g_options.recurse, 0);
  EXPECT_EQ(g_options.var_len, 1);
  parse({"+-REC=off"});
  EXPECT_EQ(g_options.recurse, 0);
  parse({"--REC"});
  EXPECT_EQ(g_options.recurse, 1);
}

TEST_F(OptionsTest, RejectedLongOptionEndsTheRun) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(parse_ending({"--REC=NO"}), exit_status::illegal_option);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nIllegal option: REC=NO");
}

TEST_F(OptionsTest, JobsTakesAWholeNumberOfThreadsFromOneTo64) {
  const struct {
    std::vector<std::string> words;
    int32_t threads;  // 0: refused, status 5
  } cases[] = {
      {{"--JOBS=4"}, 4},  // no file argument needed: no mistake, no help
      {{"a.txt", "--jobs=64"}, 64},
      {{"a.txt", "+-Jobs=08"}, 8},
      {{"a.txt", "-r-JOBS=1"}, 1},
      {{"a.txt", "--JOBS=0"}, 0},
      {{"a.txt", "--JOBS=65"}, 0},
      {{"a.txt", "--JOBS=-2"}, 0},
      {{"a.txt", "--JOBS=2x"}, 0},
      {{"a.txt", "--JOBS=99999999999"}, 0},
      {{"a.txt", "--JOBS="}, 0},
      {{"a.txt", "--JOBS"}, 0},
  };
  for (const auto& c : cases) {
    const std::string shown = c.words.back();
    test::reset_all_state();
    testing::internal::CaptureStdout();
    if (c.threads == 0) {
      EXPECT_EQ(parse_ending(c.words), exit_status::illegal_option) << shown;
      EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nIllegal option: " + shown.substr(2))
          << shown;
      continue;
    }
    parse(c.words);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << shown;
    EXPECT_EQ(thread_count, c.threads) << shown;
  }
  // Whole word: anything longer is a long option of the table.
  test::reset_all_state();
  testing::internal::CaptureStdout();
  parse({"a.txt", "--JOBSX=2"});
  EXPECT_NE(testing::internal::GetCapturedStdout().find("--JOBSX=2"), std::string::npos);
  EXPECT_EQ(thread_count, 0);
}

TEST_F(OptionsTest, SplitLogIsNamedAfterTheOutputFile) {
  g_options.split = 1;
  testing::internal::CaptureStdout();
  parse({"-o", "run.txt"});
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(g_options.accounting, 1);
  EXPECT_EQ(split_log_path, in_dir("run.txt") + u".log");
}

TEST_F(OptionsTest, OptionGroupsBeginWithDashOrPlus) {
  EXPECT_TRUE(begins_option_group(u"-v"));
  EXPECT_TRUE(begins_option_group(u"+r"));
  EXPECT_FALSE(begins_option_group(u""));
  EXPECT_FALSE(begins_option_group(u"data"));
  EXPECT_EQ(begins_option_group(u"/data"), plat::slash_begins_option());
}

}  // namespace
