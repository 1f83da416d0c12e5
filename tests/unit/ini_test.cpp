// The INI reader: its directives, its line rules, its reading modes and
// the files it looks for.
#include "framework/acct.h"
#include "framework/ini.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "framework/search_lists.h"
#include "framework/settings.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

using Field = int32_t option_rec::*;

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override { test::reset_all_state(); }
  void TearDown() override {
    if (memo_file) std::fclose(memo_file);
    memo_file = nullptr;
  }

  // Feeds an INI text through the reader as a file would be.
  static void read_text(const std::string& text, bool own_section = false,
                        const std::string& header = "[TOOL]") {
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    read_ini_stream(file, own_section, header, g_options);
    std::fclose(file);
  }

  // Applies one line and returns what it printed.
  static std::string apply_line(const std::string& line) {
    testing::internal::CaptureStdout();
    apply_ini_directive(line, g_options);
    return testing::internal::GetCapturedStdout();
  }
};

// ---- Switches -------------------------------------------------------------

struct SwitchCase {
  const char* line;
  Field field;
  int32_t before;
  int32_t after;
};

TEST_F(IniTest, SwitchDirectivesFollowTheSwitchRule) {
  const SwitchCase cases[] = {
      {"APPEND", &option_rec::append, 0, 1},
      {"append=on", &option_rec::append, 0, 1},
      {"APPEND=NONE", &option_rec::append, 0, 1},  // NONE holds ON
      {"APPEND=OFF", &option_rec::append, 1, 0},
      {"APPEND=ON,OFF", &option_rec::append, 1, 0},  // OFF wins
      {"APPEND=TRUE", &option_rec::append, 0, 1},
      {"  APPEND=ON", &option_rec::append, 0, 0},  // blanks defeat begins-with
      {"AUTO=YES", &option_rec::auto_width, 0, 1},
      {"CRC", &option_rec::crc, 0, 1},
      {"HASH=NO", &option_rec::hash, 0, 1},
      {"HASH=OFF", &option_rec::hash, 1, 0},
      {"IMMEDIATE", &option_rec::immediate, 0, 1},
      {"NO_COUNT=OFF", &option_rec::immediate, 1, 0},
      {"  IMMEDIATE=ON", &option_rec::immediate, 0, 1},
      {"NAMEONLY=ON", &option_rec::name_only, 0, 1},
      {"PPATHONLY", &option_rec::path_only, 0, 1},
      {"  PAUSE=ON", &option_rec::pause, 0, 1},  // contains: blanks harmless
      {"PAUSE=OFF", &option_rec::pause, 1, 0},
      {"RESET=ON", &option_rec::reset_access, 0, 1},
      {"REVERSE", &option_rec::reverse, 0, 1},
      {"REVERSE=NO", &option_rec::reverse, 1, 0},
      {"REVERSE=NONE", &option_rec::reverse, 1, 0},
      {"SHA=YES", &option_rec::sha1, 0, 1},
      {"SHA=OFF", &option_rec::sha1, 1, 0},
      {"RECURSE=OFF", &option_rec::recurse, 1, 0},
      {"RECURSE=ON", &option_rec::recurse, 0, 1},
      {"RECURSE=NO", &option_rec::recurse, 0, 0},  // nothing on sight
      {"MILITARY=OFF", &option_rec::show_time, 1, 0},
      {"MILITARY=ON", &option_rec::show_time, 0, 1},
      {"MILITARY", &option_rec::show_time, 0, 0},
      {"ZULU=ON", &option_rec::zulu, 0, 1},
      {"ZULU=OFF", &option_rec::zulu, 1, 0},
      {"STREAM=ON", &option_rec::streams, 0, 1},
      {"STREAM=NO", &option_rec::streams, 1, 0},  // 0 on sight
      {"8.3", &option_rec::opt_8, 0, 1},
      {"VAR=OFF", &option_rec::var_len, 0, 1},  // a value is ignored
      {"READONLY", &option_rec::attr_readonly, 0, 1},
      {"HIDDEN=ON", &option_rec::attr_hidden, 0, 1},
      {"SYSTEM=OFF", &option_rec::attr_system, 1, 0},
      {"ARCHIVE=YES", &option_rec::attr_archive, 0, 1},
      {"ARCHIVE=OFF", &option_rec::attr_archive, 1, 0},
  };
  for (const SwitchCase& c : cases) {
    test::reset_all_state();
    g_options.*c.field = c.before;
    apply_line(c.line);
    EXPECT_EQ(g_options.*c.field, c.after) << c.line;
  }
}

TEST_F(IniTest, SilentKeepsItsRowAndVerboseMeansWhatItSays) {
  const SwitchCase cases[] = {
      {"SILENT", &option_rec::quiet, 1, 0},
      {"SILENT=ON", &option_rec::quiet, 0, 1},
      {"SILENT=YES", &option_rec::quiet, 0, 1},
      {"SILENT=OFF", &option_rec::quiet, 1, 0},
      {"VERBOSE", &option_rec::quiet, 1, 0},
      {"VERBOSE=ON", &option_rec::quiet, 1, 0},
      {"VERBOSE=YES", &option_rec::quiet, 1, 0},
      {"VERBOSE=OFF", &option_rec::quiet, 0, 1},
      {"  VERBOSE=ON", &option_rec::quiet, 1, 0},
  };
  for (const SwitchCase& c : cases) {
    test::reset_all_state();
    g_options.quiet = c.before;
    apply_line(c.line);
    EXPECT_EQ(g_options.quiet, c.after) << c.line;
  }
}

TEST_F(IniTest, AttributeDirectivesAlsoSwitchTheFilterOn) {
  for (const char* line : {"ARCHIVE=OFF", "READONLY=OFF", "HIDDEN", "SYSTEM=ON"}) {
    test::reset_all_state();
    apply_line(line);
    EXPECT_EQ(g_options.attr_filter, 1) << line;
  }
}

// ---- Missing values -----------------------------------------------------

struct MissingCase {
  const char* line;
  const char* message;
  int seconds;
};

TEST_F(IniTest, MissingValuesPrintTheirMessageWithTheUpperCasedLineAndWait) {
  const MissingCase cases[] = {
      {"acct", "\nMissing ini file modifier at: ACCT=", 2},
      {"all_ht", "\nMissing ini file modifier at: ALL_HT", 2},
      {"delim", "\nMissing ini file directive DELIM", 2},
      {"exc", "\nMissing/illegal ini file directive EXC", 2},
      {"file", "\nMissing/Illegal ini file directive FILE", 2},
      {"greater", "\nMissing ini file modifier at: GREATER\nGREATER size option turned OFF", 3},
      {"smaller", "\nIllegal ini file directive SMALLER\nLESSTHAN size option turned OFF", 3},
      {"younger", "\nMissing ini modifier at: YOUNGER\nAging modifier turned off", 2},
      {"older", "\nMissing ini file modifier at: OLDER\nAging modifier turned off", 2},
      {"output", "\nMissing ini file modifier at: OUTPUTOutput set to NOne\n", 3},
      {"path", "\nMissing/Illegal ini file directive PATH", 2},
      {"recurse", "\nMissing ini file directive at: RECURSE", 2},
      {"split", "\nIllegal ini file directive SPLIT", 2},
      {"stream", "\nIllegal ini file directive STREAM", 2},
      {"time", "\nIllegal ini file directive TIME", 2},
      {"width", "\nMissing ini file modifier at: WIDTH", 2},
      {"zulu", "\nIllegal ini file directive ZULU", 2},
  };
  for (const MissingCase& c : cases) {
    test::reset_all_state();
    EXPECT_EQ(apply_line(c.line), c.message) << c.line;
    EXPECT_EQ(test::pauses_taken(), 1) << c.line;
    EXPECT_EQ(test::seconds_paused(), c.seconds) << c.line;
  }
}

TEST_F(IniTest, DirectivesWithoutSeparateMissingHandlingAreSilent) {
  for (const char* line : {"ALL_TIMES", "APPEND", "COMMENT", "EXT", "MILITARY", "SILENT",
                           "VERBOSE", "LFN", "DIR_ONLY", "DIRECTORY", "VAR", "SOMETHING ELSE"}) {
    test::reset_all_state();
    EXPECT_EQ(apply_line(line), "") << line;
    EXPECT_EQ(test::pauses_taken(), 0) << line;
  }
}

TEST_F(IniTest, MissingValuesTakeBackWhatTheyNeeded) {
  g_options.accounting = 1;
  g_options.delim = 1;
  g_options.output = 1;
  g_options.split = 1;
  g_options.date_filter = 1;
  apply_line("ACCT");
  apply_line("DELIM");
  apply_line("OUTPUT");
  apply_line("SPLIT");
  apply_line("GREATER");
  apply_line("LESSTHAN");
  EXPECT_EQ(g_options.accounting, 0);
  EXPECT_EQ(g_options.delim, 0);
  EXPECT_EQ(g_options.output, 0);
  EXPECT_EQ(g_options.split, 0);
  EXPECT_EQ(g_options.size_greater, 0);
  EXPECT_EQ(g_options.size_less, 0);
  apply_line("NEWER");
  EXPECT_EQ(g_options.date_filter, 0);
  g_options.date_filter = 1;
  apply_line("OLDER");
  EXPECT_EQ(g_options.date_filter, 0);
  apply_line("EXC");
  EXPECT_EQ(g_options.exclude, 1);
  EXPECT_TRUE(exclude_list.empty());
  g_options.streams = 1;
  apply_line("STREAM");
  EXPECT_EQ(g_options.streams, 0);
  apply_line("TIME");
  EXPECT_EQ(g_options.time_kind, 'w');
  EXPECT_EQ(g_options.time_long, 1);
  apply_line("ZULU");
  EXPECT_EQ(g_options.show_time, 1);
}

// ---- Values -------------------------------------------------------------

TEST_F(IniTest, AccountingDirectivesNameTheFileOrSwitchItOff) {
  test::TempDir dir;
  test::ScopedCwd cwd(dir.path());
  for (const char* word : {"ACCT", "ACCTING", "ACCOUNT", "LOG"}) {
    test::reset_all_state();
    apply_line(std::string(word) + "=Logs/Acct.txt");
    EXPECT_EQ(g_options.accounting, 1) << word;
    const std::u16string written = plat::names_keep_case() ? u"Logs/Acct.txt" : u"LOGS/ACCT.TXT";
    EXPECT_EQ(acct_path, test::full_path(written)) << word;
  }
  g_options.accounting = 1;
  apply_line("ACCT=Off");
  EXPECT_EQ(g_options.accounting, 0);
}

TEST_F(IniTest, AccountingDirectiveClosesTheFileOpenedAtStartUp) {
  test::TempDir dir;
  test::ScopedCwd cwd(dir.path());
  const std::filesystem::path old_log = dir.path() / "old.txt";
  acct_file = std::fopen(old_log.string().c_str(), "w");
  ASSERT_NE(acct_file, nullptr);
  apply_line("ACCT=new.txt");
  EXPECT_EQ(acct_file, nullptr);
  EXPECT_EQ(test::read_file(old_log),
            "This file closed." + std::string(plat::line_end()) +
                "Accounting file overridden by .ini file pointing to " + test::u8(acct_path) +
                plat::line_end());
  EXPECT_EQ(acct_path, test::full_path(plat::names_keep_case() ? u"new.txt" : u"NEW.TXT"));
}

TEST_F(IniTest, AccountingDirectiveReportsANoteTheOldFileCouldNotTake) {
  test::TempDir dir;
  test::ScopedCwd cwd(dir.path());
  const std::filesystem::path old_log = dir.path() / "old.txt";
  std::fclose(std::fopen(old_log.string().c_str(), "w"));
  acct_file = std::fopen(old_log.string().c_str(), "r");  // takes no note
  ASSERT_NE(acct_file, nullptr);
  testing::internal::CaptureStderr();
  apply_line("ACCT=new.txt");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(acct_file, nullptr);
  EXPECT_TRUE(g_acct_write_failed);
  EXPECT_NE(err.find("\nError writing accounting file "), std::string::npos) << err;
}

TEST_F(IniTest, AllHashesAndTimes) {
  apply_line("ALL_HT=ON");
  EXPECT_EQ(g_options.show_time, 1);
  EXPECT_EQ(g_options.all_times, 1);
  EXPECT_EQ(g_options.time_kind, '3');
  EXPECT_EQ(g_options.all_hashes, 1);
  EXPECT_EQ(g_options.hash, 1);
  apply_line("ALL_HT=OFF");
  EXPECT_EQ(g_options.all_times, 0);
  EXPECT_EQ(g_options.all_hashes, 0);
  EXPECT_EQ(g_options.hash, 1);

  test::reset_all_state();
  apply_line("ALLTIMES");
  EXPECT_EQ(g_options.show_time, 1);
  EXPECT_EQ(g_options.all_times, 1);
  EXPECT_EQ(g_options.time_kind, '3');
  apply_line("ALL_TIMES=OFF");
  EXPECT_EQ(g_options.all_times, 0);
  EXPECT_EQ(g_options.time_kind, '3');
}

TEST_F(IniTest, CommentTextIsSeenInUpperCase) {
  apply_line("COMMENT=Night run");
  EXPECT_EQ(g_options.comment, 1);
  EXPECT_EQ(comment_text, u"NIGHT RUN");
  test::reset_all_state();
  apply_line("COMMENT");
  EXPECT_EQ(g_options.comment, 1);
  EXPECT_EQ(comment_text, u"");
}

TEST_F(IniTest, ReadingGoesOnAfterACommentWithAValue) {
  read_text("COMMENT=Night run\nAPPEND\nWIDTH=72\n");
  EXPECT_EQ(comment_text, u"NIGHT RUN");
  EXPECT_EQ(g_options.append, 1);
  EXPECT_EQ(g_options.width, 72);
}

TEST_F(IniTest, DelimiterTakesTheFirstCharacterOrOff) {
  apply_line("DELIM=;");
  EXPECT_EQ(g_options.delim, 1);
  EXPECT_EQ(delim_char, ';');
  apply_line("DELIM=OFF");
  EXPECT_EQ(g_options.delim, 0);
  // DELIM is a contains-directive tested before OUTPUT: it takes the line.
  apply_line("OUTPUT=DELIMITED.TXT");
  EXPECT_EQ(g_options.delim, 1);
  EXPECT_EQ(delim_char, 'D');
  EXPECT_EQ(g_options.output, 0);
}

TEST_F(IniTest, ExcludePatternsAreAppendedUpperCased) {
  apply_line("EXC=*.bak");
  apply_line("X=*.tmp");
  EXPECT_EQ(g_options.exclude, 1);
  ASSERT_EQ(exclude_list.size(), 2u);
  EXPECT_EQ(exclude_list[0], u"*.BAK");
  EXPECT_EQ(exclude_list[1], u"*.TMP");
  EXPECT_EQ(exclude_count, 2);
}

TEST_F(IniTest, ExtensionModeIgnoresItsValue) {
  apply_line("EXT=OFF");
  EXPECT_EQ(g_options.name_format, 2);
  EXPECT_EQ(g_options.ext_mode, 1);
}

TEST_F(IniTest, FilePatternsGoToTheTypeList) {
  apply_line("FILE=*.csv");
  apply_line("FILE=*.log");
  ASSERT_EQ(type_list.size(), 2u);
  EXPECT_EQ(type_list[0], u"*.CSV");
  EXPECT_EQ(type_list[1], u"*.LOG");
}

TEST_F(IniTest, SizesAreSigned64BitNumbers) {
  apply_line("GREATER=1000");
  EXPECT_EQ(g_options.size_greater, 1);
  EXPECT_EQ(size_greater_than, 1000);
  apply_line("LARGER= 5000000000");
  EXPECT_EQ(size_greater_than, 5000000000LL);
  apply_line("BIGGER=-7k");
  EXPECT_EQ(size_greater_than, -7);
  apply_line("LESSTHAN=12abc");
  EXPECT_EQ(g_options.size_less, 1);
  EXPECT_EQ(size_less_than, 12);
  apply_line("SMALLER=x");
  EXPECT_EQ(size_less_than, 0);
}

TEST_F(IniTest, MemoOpensTheNamedFileForAppending) {
  test::TempDir dir;
  test::ScopedCwd cwd(dir.path());
  dir.write(plat::names_keep_case() ? "Memo.txt" : "MEMO.TXT", "kept\n");
  apply_line("MEMO=Memo.txt");
  EXPECT_EQ(g_options.memo, 1);
  ASSERT_NE(memo_file, nullptr);
  std::fputs("added\n", memo_file);
  std::fclose(memo_file);
  memo_file = nullptr;
  EXPECT_EQ(test::read_file(dir.path() / (plat::names_keep_case() ? "Memo.txt" : "MEMO.TXT")),
            "kept\nadded" + std::string(plat::line_end()));

  apply_line("MEMO=OFF");
  EXPECT_EQ(g_options.memo, 0);
  EXPECT_EQ(memo_file, nullptr);
}

TEST_F(IniTest, NewerAndOlderTakeDayCountsOrDates) {
  apply_line("NEWER=30");
  EXPECT_EQ(g_options.date_filter, 1);
  EXPECT_EQ(newer_days, 30);
  EXPECT_EQ(g_options.newer, 0);  // a day count leaves the flag alone
  apply_line("YOUNGER=5");
  EXPECT_EQ(newer_days, 5);

  apply_line("NEWER=01-15-2014");
  EXPECT_EQ(g_options.newer, 1);
  const int64_t midnight = *plat::local_midnight(2014, 1, 15);
  EXPECT_EQ(newer_time, (midnight + 11644473600LL) * 10000000LL);
  EXPECT_GT(newer_days, 3000);

  apply_line("OLDER=7");
  EXPECT_EQ(older_days, 7);
  EXPECT_EQ(g_options.older, 0);
  apply_line("OLDER=1/15/14");
  EXPECT_EQ(g_options.older, 1);
  EXPECT_EQ(older_time, newer_time);
}

TEST_F(IniTest, OutputNamedOlderIsTakenByTheOlderDirective) {
  older_days = 9;
  apply_line("OUTPUT=OLDER.TXT");
  EXPECT_EQ(g_options.date_filter, 1);
  EXPECT_EQ(older_days, 0);
  EXPECT_EQ(g_options.output, 0);
  EXPECT_TRUE(output_path.empty());
}

TEST_F(IniTest, OutputAndPathValuesNameFiles) {
  test::TempDir dir;
  test::ScopedCwd cwd(dir.path());
  apply_line("OUTPUT=Run.txt");
  EXPECT_EQ(g_options.output, 1);
  EXPECT_EQ(output_path, test::full_path(plat::names_keep_case() ? u"Run.txt" : u"RUN.TXT"));
  apply_line("PATH=Data");
  ASSERT_EQ(search_dirs.size(), 1u);
  EXPECT_EQ(search_dirs[0],
            plat::long_path_prefix() + test::full_path(plat::names_keep_case() ? u"Data" : u"DATA"));
}

TEST_F(IniTest, SplitCountsQuietUpAndRecordsTheSplit) {
  g_options.quiet = 1;
  apply_line("SPLIT=3");
  EXPECT_EQ(g_options.quiet, 2);
  EXPECT_EQ(g_options.split, 1);
}

TEST_F(IniTest, TimeTakesTheLowerCasedFirstLetter) {
  g_options.show_time = 0;
  apply_line("TIME=A");
  EXPECT_EQ(g_options.time_kind, 'a');
  EXPECT_EQ(g_options.show_time, 1);
  EXPECT_EQ(g_options.time_long, 1);
  apply_line("TIME=creation");
  EXPECT_EQ(g_options.time_kind, 'c');
}

TEST_F(IniTest, WidthIsADecimalNumber) {
  apply_line("WIDTH=60");
  EXPECT_EQ(g_options.width, 60);
  apply_line("WIDTH= -12x");
  EXPECT_EQ(g_options.width, -12);
  apply_line("WIDTH=wide");
  EXPECT_EQ(g_options.width, 0);
}

TEST_F(IniTest, LongFileNames) {
  g_options.opt_8 = 1;
  apply_line("LFN");
  EXPECT_EQ(g_options.opt_8, 0);
  EXPECT_EQ(g_options.name_format, 1);
  apply_line("LONGFILENAME=OFF");
  EXPECT_EQ(g_options.name_format, 0);
  apply_line("LFN=ON,OFF");  // ON keeps it
  EXPECT_EQ(g_options.name_format, 1);
  apply_line("LFN=40");
  EXPECT_EQ(g_options.name_format, 1);
}

TEST_F(IniTest, DirectorySelections) {
  apply_line("DIR_ONLY=ON");
  EXPECT_EQ(g_options.attr_filter, 1);
  EXPECT_EQ(g_options.dir_select, 1);
  EXPECT_EQ(g_options.dir_mode, 2);
  apply_line("DIR_ONLY=OFF");
  EXPECT_EQ(g_options.dir_mode, 0);

  test::reset_all_state();
  apply_line("DIRECTORY");
  EXPECT_EQ(g_options.attr_filter, 1);
  EXPECT_EQ(g_options.dir_select, 1);
  EXPECT_EQ(g_options.dir_mode, 1);
  apply_line("DIRECTORY=OFF");
  EXPECT_EQ(g_options.dir_select, 0);
  EXPECT_EQ(g_options.dir_mode, 1);
}

// ---- Lines and reading modes -----------------------------------------------

TEST_F(IniTest, CommentLinesAndUnknownWordsAreSkipped) {
  read_text(";APPEND\n#AUTO\nHELLO WORLD\n\nCRC\n");
  EXPECT_EQ(g_options.append, 0);
  EXPECT_EQ(g_options.auto_width, 0);
  EXPECT_EQ(g_options.crc, 1);
}

TEST_F(IniTest, WholeFileSkipsSectionHeadersAndReadsOn) {
  read_text("[TOOL]\nAPPEND\n[OTHER]\nAUTO\n");
  EXPECT_EQ(g_options.append, 1);
  EXPECT_EQ(g_options.auto_width, 1);
}

TEST_F(IniTest, OwnSectionReadsOnlyItsLines) {
  read_text("APPEND\n[OTHER]\nCRC\n[tool] old\nHASH\n;AUTO\nVAR\n[NEXT]\nSHA\n", true, "[TOOL]");
  EXPECT_EQ(g_options.append, 0);
  EXPECT_EQ(g_options.crc, 0);
  EXPECT_EQ(g_options.hash, 1);
  EXPECT_EQ(g_options.auto_width, 0);
  EXPECT_EQ(g_options.var_len, 1);
  EXPECT_EQ(g_options.sha1, 0);
}

TEST_F(IniTest, OwnSectionEndsAtALineNamingItsHeader) {
  read_text("[TOOL]\nHASH\nX=[TOOL]\nVAR\n", true, "[TOOL]");
  EXPECT_EQ(g_options.hash, 1);
  EXPECT_EQ(g_options.exclude, 0);
  EXPECT_EQ(g_options.var_len, 0);
}

TEST_F(IniTest, MissingSectionAppliesNothing) {
  read_text("APPEND\n[OTHER]\nAUTO\n", true, "[TOOL]");
  EXPECT_EQ(g_options.append, 0);
  EXPECT_EQ(g_options.auto_width, 0);
}

TEST_F(IniTest, LongLinesAreReadIn259CharacterPieces) {
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const std::string line(300, 'A');
  std::fputs((line + "\nB\n").c_str(), file);
  std::rewind(file);
  std::string piece;
  ASSERT_TRUE(read_ini_piece(file, piece));
  EXPECT_EQ(piece.size(), 259u);
  ASSERT_TRUE(read_ini_piece(file, piece));
  EXPECT_EQ(piece, std::string(41, 'A') + "\n");
  ASSERT_TRUE(read_ini_piece(file, piece));
  EXPECT_EQ(piece, "B\n");
  EXPECT_FALSE(read_ini_piece(file, piece));
  std::fclose(file);

  // The rest of a long line is a directive line of its own.
  read_text("REM " + std::string(255, '.') + "APPEND=ON\n");
  EXPECT_EQ(g_options.append, 1);
}

TEST_F(IniTest, CarriageReturnsBeforeLineFeedsAreDropped) {
  read_text("FILE=*.csv\r\nWIDTH=33\r\n");
  ASSERT_EQ(type_list.size(), 1u);
  EXPECT_EQ(type_list[0], u"*.CSV");
  EXPECT_EQ(g_options.width, 33);
}

TEST_F(IniTest, LaterLinesOverrideEarlierOnes) {
  read_text("RECURSE=OFF\nWIDTH=10\nRECURSE=ON\nWIDTH=20\n");
  EXPECT_EQ(g_options.recurse, 1);
  EXPECT_EQ(g_options.width, 20);
}

// ---- The files looked for ------------------------------------------------------

TEST_F(IniTest, CandidatesComeInTheirOrder) {
  const std::u16string sep(1, plat::separator());
  const std::u16string dir = sep + u"opt" + sep + u"tools" + sep;
  const auto list = ini_candidates(dir + u"tool.exe");
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(list[0].path, u"tool.ini");
  EXPECT_EQ(list[1].path, dir + u"tool.ini");
  EXPECT_EQ(list[2].path, u"VELDORAN.INI");
  EXPECT_EQ(list[3].path, dir + u"VELDORAN.INI");
  EXPECT_EQ(list[4].path, u"PROGRAM.ini");
  EXPECT_EQ(list[5].path, dir + u"PROGRAM.ini");
  for (size_t i = 0; i < list.size(); ++i)
    EXPECT_EQ(list[i].own_section, i == 2 || i == 3) << i;

  EXPECT_EQ(ini_candidates(dir + u"ipconv")[0].path, u"ipconv.ini");
}

TEST_F(IniTest, SectionHeaderIsTheUpperCasedBaseName) {
  const std::u16string sep(1, plat::separator());
  EXPECT_EQ(ini_section_header(sep + u"bin" + sep + u"tool.exe"), "[TOOL]");
  EXPECT_EQ(ini_section_header(sep + u"bin" + sep + u"ipconv"), "[IPCONV]");
}

// read_ini_file itself, with the files in the current directory: the test
// program stands in for the tool.
class IniFileTest : public IniTest {
 protected:
  void SetUp() override {
    IniTest::SetUp();
    const std::u16string program = plat::program_path();
    base_ = std::filesystem::path(test::u8(program)).stem().string();
    header_ = ini_section_header(program);
  }
  std::string base_;
  std::string header_;
};

TEST_F(IniFileTest, ProgramNamedFileComesFirstThenSharedThenProgramIni) {
  test::TempDir dir;
  test::ScopedCwd cwd(dir.path());
  dir.write(base_ + ".ini", "APPEND\n");
  dir.write("VELDORAN.INI", "AUTO\n" + header_ + "\nCRC\n");
  dir.write("PROGRAM.ini", "HASH\n");
  const std::vector<std::u16string> args{plat::program_path(), u"data"};

  read_ini_file(args, g_options);
  EXPECT_EQ(g_options.append, 1);
  EXPECT_EQ(g_options.crc, 0);
  EXPECT_EQ(g_options.hash, 0);

  std::filesystem::remove(dir.path() / (base_ + ".ini"));
  test::reset_all_state();
  read_ini_file(args, g_options);
  EXPECT_EQ(g_options.auto_width, 0);  // before the section
  EXPECT_EQ(g_options.crc, 1);
  EXPECT_EQ(g_options.hash, 0);

  std::filesystem::remove(dir.path() / "VELDORAN.INI");
  test::reset_all_state();
  read_ini_file(args, g_options);
  EXPECT_EQ(g_options.hash, 1);
}

TEST_F(IniFileTest, DashIniSwitchesTheFileOff) {
  test::TempDir dir;
  test::ScopedCwd cwd(dir.path());
  dir.write(base_ + ".ini", "APPEND\n");
  read_ini_file({plat::program_path(), u"data", u"-.ini"}, g_options);
  EXPECT_EQ(g_options.append, 0);
  read_ini_file({plat::program_path(), u"data", u"-.INI"}, g_options);  // case matters
  EXPECT_EQ(g_options.append, 1);
}

TEST_F(IniFileTest, NoFileChangesNothing) {
  test::TempDir dir;
  test::ScopedCwd cwd(dir.path());
  g_options.width = 40;
  testing::internal::CaptureStdout();
  read_ini_file({plat::program_path()}, g_options);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(g_options.width, 40);
}

}  // namespace
