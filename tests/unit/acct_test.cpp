// The accounting file: directory creation, the end repair, the separator
// line and the memo entry.
#include "framework/acct.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
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

// Text-mode files end lines with CR LF on some platforms.
std::string without_cr(std::string text) {
  std::string out;
  for (char c : text)
    if (c != '\r') out.push_back(c);
  return out;
}

std::string native(const fs::path& p) { return p.string(); }
std::u16string wide(const fs::path& p) { return test::u16(p.string()); }

const std::string kSeparator = "\n" + std::string(40, '*') + "\n";

class AcctTest : public testing::Test {
 protected:
  void SetUp() override { test::reset_all_state(); }
  test::TempDir dir;
};

// ---- trim_file_end ---------------------------------------------------------

TEST_F(AcctTest, TrimCutsAtFirstNulOrCtrlZ) {
  struct Case {
    std::string content;
    size_t expected_length;
  };
  const Case cases[] = {
      {std::string("abc\x1A" "defghij", 11), 3},     // Ctrl-Z as fourth byte
      {std::string("\0bcdefghijk", 11), 0},           // NUL first
      {std::string("abcdefghi\x1A", 10), 9},         // Ctrl-Z last
      {std::string("abcde\0fg\x1Ahij", 13), 5},       // NUL before Ctrl-Z
      {std::string("abcdefg\x1A" "ij\0kl", 13), 7},   // Ctrl-Z before NUL
      {"no such byte in here\n", 21},                 // unchanged
  };
  for (const Case& c : cases) {
    const fs::path file = dir.write("t.txt", c.content);
    trim_file_end(wide(file));
    EXPECT_EQ(test::read_file(file), c.content.substr(0, c.expected_length))
        << "content of " << c.content.size() << " bytes";
  }
}

TEST_F(AcctTest, TrimLeavesFilesUnderTenBytesAlone) {
  for (const std::string& content :
       {std::string("12345678\x1A", 9), std::string("\0", 1), std::string("\x1A\x1A", 2)}) {
    const fs::path file = dir.write("small.txt", content);
    trim_file_end(wide(file));
    EXPECT_EQ(test::read_file(file), content);
  }
}

TEST_F(AcctTest, TrimCreatesAMissingFileEmpty) {
  const fs::path file = dir.path() / "new.txt";
  trim_file_end(wide(file));
  ASSERT_TRUE(fs::exists(file));
  EXPECT_EQ(fs::file_size(file), 0u);
}

TEST_F(AcctTest, TrimEndsTheRunWhenTheFileCannotBeCreated) {
  const fs::path file = dir.path() / "missing" / "acct.txt";
  CaptureStderr();
  try {
    trim_file_end(wide(file));
    FAIL() << "the run went on";
  } catch (const test::RunEnded& ended) {
    EXPECT_EQ(ended.status, exit_status::user_aborted);
  }
  // The system's reason for the failed create follows on a line of its own.
  EXPECT_EQ(GetCapturedStderr(), "\n.\\Generic_u\n324\nerror opening " + native(file) + "\n  " +
                                     plat::last_error_text() + "\n");
}

// ---- make_log_dirs -----------------------------------------------------------

TEST_F(AcctTest, OneMissingLevelIsCreatedWithOneMessageAndOneWait) {
  const fs::path logs = dir.path() / "logs";
  CaptureStdout();
  make_log_dirs(wide(logs / "acct.txt"));
  EXPECT_EQ(GetCapturedStdout(), "Creating (log) directory:  " + native(logs) + "\n");
  EXPECT_TRUE(fs::is_directory(logs));
  EXPECT_EQ(test::pauses_taken(), 1);
  EXPECT_EQ(test::seconds_paused(), 1);
}

TEST_F(AcctTest, SeveralMissingLevelsReportEachIntermediateOne) {
  const fs::path daily = dir.path() / "logs" / "2026" / "daily";
  CaptureStdout();
  make_log_dirs(wide(daily / "acct.txt"));
  EXPECT_EQ(GetCapturedStdout(),
            "Creating (log\\error) directory:  " + native(dir.path() / "logs") + "\n" +
                "Creating (log\\error) directory:  " + native(dir.path() / "logs" / "2026") +
                "\n" + "Creating (log) directory:  " + native(daily) + "\n");
  EXPECT_TRUE(fs::is_directory(daily));
  EXPECT_EQ(test::pauses_taken(), 1);
}

TEST_F(AcctTest, RelativePathCreatesItsFirstDirectoryToo) {
  // The first directory of a relative path begins at the first character;
  // the walk must not skip it. (Where drives exist the walk starts past
  // "C:", as it always has.)
  if (plat::is_separator(u'\\')) GTEST_SKIP() << "platform with drive letters";
  test::ScopedCwd cwd(dir.path());
  CaptureStdout();
  make_log_dirs(test::u16("a/b/acct.txt"));
  EXPECT_EQ(GetCapturedStdout(),
            "Creating (log\\error) directory:  a\nCreating (log) directory:  a/b\n");
  EXPECT_TRUE(fs::is_directory(dir.path() / "a" / "b"));
}

TEST_F(AcctTest, ExistingDirectoryAndBareNameNeedNothing) {
  test::ScopedCwd cwd(dir.path());
  CaptureStdout();
  make_log_dirs(wide(dir.path() / "acct.txt"));
  make_log_dirs(u"ACCT-ING");
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(test::pauses_taken(), 0);
}

TEST_F(AcctTest, OverlongDirectoryPartIsLeftAlone) {
  fs::path deep = dir.path();
  while (native(deep).size() < kLogDirPartUnits + 20) deep /= std::string(40, 'd');
  CaptureStdout();
  make_log_dirs(wide(deep / "acct.txt"));
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_FALSE(fs::exists(dir.path() / std::string(40, 'd')));
}

// ---- open_acct_file ----------------------------------------------------------

TEST_F(AcctTest, OpeningInMissingDirectoriesCreatesFileWithSeparator) {
  const fs::path file = dir.path() / "logs" / "daily" / "acct.txt";
  CaptureStdout();
  FILE* acct = open_acct_file(wide(file));
  const std::string out = GetCapturedStdout();
  ASSERT_NE(acct, nullptr);
  std::fclose(acct);
  EXPECT_NE(out.find("Creating (log\\error) directory:  " + native(dir.path() / "logs") + "\n"),
            std::string::npos);
  EXPECT_NE(out.find("Creating (log) directory:  " + native(file.parent_path()) + "\n"),
            std::string::npos);
  EXPECT_EQ(test::pauses_taken(), 1);
  EXPECT_EQ(without_cr(test::read_file(file)), kSeparator);
}

TEST_F(AcctTest, ReopeningRepairsTheEndAndAppends) {
  const fs::path file = dir.write("acct.txt", std::string("abc\x1A" "\0\0\0\0\0\0", 10));
  FILE* acct = open_acct_file(wide(file));
  ASSERT_NE(acct, nullptr);
  std::fputs("record\n", acct);
  std::fclose(acct);
  acct = open_acct_file(wide(file));
  ASSERT_NE(acct, nullptr);
  std::fclose(acct);
  EXPECT_EQ(without_cr(test::read_file(file)), "abc" + kSeparator + "record\n" + kSeparator);
}

// ---- memo_entry --------------------------------------------------------------

class MemoTest : public AcctTest {
 protected:
  // Runs the entry over `input` and returns what it wrote to the memo
  // stream (memo_file when chosen, else acct_file).
  std::string enter(const std::string& input, bool to_memo_file = false) {
    const fs::path in_path = dir.write("memo-input.txt", input);
    FILE* in = std::fopen(native(in_path).c_str(), "rb");
    const fs::path target = dir.path() / "memo-out.txt";
    FILE* out = std::fopen(native(target).c_str(), "wb");
    FILE* other = std::fopen(native(dir.path() / "other.txt").c_str(), "wb");
    (to_memo_file ? memo_file : acct_file) = out;
    (to_memo_file ? acct_file : memo_file) = to_memo_file ? other : nullptr;
    CaptureStdout();
    memo_entry_from(in);
    prompt = GetCapturedStdout();
    rest_of_input.clear();
    for (int c = std::fgetc(in); c != EOF; c = std::fgetc(in)) rest_of_input.push_back(char(c));
    std::fclose(in);
    std::fclose(out);
    std::fclose(other);
    memo_file = acct_file = nullptr;
    other_text = test::read_file(dir.path() / "other.txt");
    return test::read_file(target);
  }
  std::string prompt, rest_of_input, other_text;
};

TEST_F(MemoTest, TwoBlankLinesEndTheEntryAndTheTextIsWritten) {
  EXPECT_EQ(enter("one\ntwo\nthree\n\n\nafter\n"), "one\ntwo\nthree\n\n\n");
  EXPECT_EQ(g_memo_text, "one\ntwo\nthree\n\n");
  EXPECT_EQ(rest_of_input, "after\n");
  EXPECT_EQ(prompt,
            "\n\n\nInput up to 2000 characters of your memo information now.\n"
            "End with two blank lines (carriage returns)\a\n\n\n");
}

TEST_F(MemoTest, SingleBlankLineIsKeptAndShortLinesCountAsBlank) {
  EXPECT_EQ(enter("first\n\nsecond\nx\ny\nz\n"), "first\n\nsecond\n\n\n");
  EXPECT_EQ(g_memo_text, "first\n\nsecond\n\n");
  EXPECT_EQ(rest_of_input, "z\n");
}

TEST_F(MemoTest, LineEndsWithCarriageReturnAndEndOfInput) {
  EXPECT_EQ(enter("dos line\r\nlast without end"), "dos line\nlast without end\n\n");
}

TEST_F(MemoTest, MemoFileIsPreferredOverTheAccountingFile) {
  EXPECT_EQ(enter("to the memo\n\n\n", true), "to the memo\n\n\n");
  EXPECT_EQ(other_text, "");
}

TEST_F(MemoTest, EntryStopsOnceTheTextPassesItsLimit) {
  std::string input;
  for (int i = 0; i < 60; ++i) input += std::string(99, 'a' + i % 26) + "\n";
  enter(input);
  // 51 lines of 100 characters pass 5000; the rest stays unread.
  EXPECT_EQ(g_memo_text.size(), 5100u);
  EXPECT_EQ(rest_of_input.size(), 9u * 100u);
}

TEST_F(MemoTest, LineLongerThanTheLineBufferIsKeptInOneLine) {
  const std::string long_line(kMemoLineBytes + 500, 'L');
  enter("short\n" + long_line + "\nnot read\n");
  // The entry passed its limit inside the long line: what it read of the
  // line stays one line, the rest of it is dropped.
  EXPECT_EQ(g_memo_text, "short\n" + std::string(kMemoLineBytes - 1, 'L'));
  EXPECT_EQ(rest_of_input, "not read\n");

  // A one-character rest of a long line is line text, not a blank line.
  enter(std::string(kMemoLineBytes - 1, 'y') + "z\n\n\n");
  EXPECT_EQ(g_memo_text, std::string(kMemoLineBytes - 1, 'y') + "z\n");
}

}  // namespace
