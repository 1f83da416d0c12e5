// The accounting file, the output file and the run header as a user meets
// them: ACCT, -1, -o/-O/-a, -v, output name templates, split log and memo.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kSeparator = "\n" + std::string(40, '*') + "\n";

std::string without_cr(std::string text) {
  std::string out;
  for (char c : text)
    if (c != '\r') out.push_back(c);
  return out;
}

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class AcctEndToEnd : public testing::Test {
 protected:
  void SetUp() override { dir.write("data/a.txt", "3139666412\n"); }

  // Runs in the temporary directory without INI file and without the
  // caller's ACCT and SILENT.
  test::RunResult run(std::vector<std::string> args,
                      std::vector<std::pair<std::string, std::string>> env = {},
                      const std::string& input = "") {
    args.push_back("-.ini");
    test::RunOptions options;
    options.cwd = dir.path();
    options.unset_env = {"ACCT", "SILENT", "RESET"};
    options.env = std::move(env);
    if (!input.empty()) {
      options.stdin_text = input;
      options.stdin_closed = false;
    }
    return test::run_program(args, options);
  }
  std::string file(const std::string& relative) const {
    return without_cr(test::read_file(dir.path() / relative));
  }
  // The path as the program names it (and as an argument may give it).
  std::string full(const std::string& relative) const {
    return test::shown_path(dir.path() / relative);
  }

  test::TempDir dir;
};

TEST_F(AcctEndToEnd, AcctOnWritesSeparatorAndRunRecordToAcctIng) {
  auto r = run({"data", "-v"}, {{"ACCT", "on"}});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  // The file lies in the current directory: nothing is created or waited for.
  EXPECT_EQ(r.out.find("Creating"), std::string::npos) << r.out;
  const std::string acct = file("ACCT-ING");
  EXPECT_EQ(acct.rfind(kSeparator + "\n Started ", 0), 0u) << acct;
  EXPECT_NE(acct.find(" GMT, "), std::string::npos);
  EXPECT_NE(acct.find(" Command Line: "), std::string::npos);
  const std::string args = test::running_under_wine() ? " data -S -v -.ini " : " data -v -.ini ";
  EXPECT_NE(acct.find(args + "\nLast Access Date UPDATE is turned ON\n\n"),
            std::string::npos)
      << acct;
}

TEST_F(AcctEndToEnd, QuietRunWithoutOutputFileWritesOnlyTheSeparator) {
  auto r = run({"data"}, {{"ACCT", "ON"}});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(file("ACCT-ING"), kSeparator);
  EXPECT_EQ(r.out.find("Started"), std::string::npos);
}

TEST_F(AcctEndToEnd, AcctPathCreatesItsMissingDirectory) {
  auto r = run({"data", "-v"}, {{"ACCT", full("logs/acct.txt")}});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Creating (log) directory:  " + full("logs") + "\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(count(file("logs/acct.txt"), kSeparator), 1u);
  EXPECT_EQ(count(file("logs/acct.txt"), "\n Started "), 1u);
}

TEST_F(AcctEndToEnd, OptionOneCreatesEveryMissingLevel) {
  auto r = run({"data", "-1", "logs/daily/acct.txt", "-v"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Creating (log\\error) directory:  " + full("logs") + "\n" +
                       "Creating (log) directory:  " + full("logs/daily") + "\n"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "logs/daily/acct.txt"));
}

TEST_F(AcctEndToEnd, TwoRunsAppendTwoSeparatorsAndTwoRecords) {
  for (int i = 0; i < 2; ++i) {
    auto r = run({"data", "-1", "acct.txt", "-v"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
  }
  const std::string acct = file("acct.txt");
  EXPECT_EQ(count(acct, kSeparator), 2u) << acct;
  EXPECT_EQ(count(acct, "\n Started "), 2u) << acct;
  EXPECT_LT(acct.find("\n Started "), acct.rfind(kSeparator));
}

TEST_F(AcctEndToEnd, RunAfterAnEndOfFileByteIsAppendedBehindTheRepair) {
  dir.write("acct.txt", std::string("old record\n\x1A\x1A\x1A", 14));
  auto r = run({"data", "-1", "acct.txt"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(file("acct.txt"), "old record\n" + kSeparator);
}

TEST_F(AcctEndToEnd, OutputFileIsReplacedWithoutAppendAndKeptWithIt) {
  dir.write("out.txt", "earlier\n");
  auto r = run({"data", "-o", "out.txt", "-v"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::string out = file("out.txt");
  EXPECT_EQ(out.rfind("\nStarted ", 0), 0u) << out;
  // With an output file the header leaves standard output alone.
  EXPECT_EQ(r.out.find("\nStarted "), std::string::npos);

  r = run({"data", "-o", "out.txt", "-a", "-v"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(count(file("out.txt"), "\nStarted "), 2u);

  r = run({"data", "-O", "out.txt", "-v"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(count(file("out.txt"), "\nStarted "), 3u);
}

TEST_F(AcctEndToEnd, QuietOutputFileGetsNoHeaderButTheAccountingFileDoes) {
  auto r = run({"data", "-o", "out.txt", "-1", "acct.txt"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(file("out.txt").find("Started"), std::string::npos);
  EXPECT_EQ(count(file("acct.txt"), "\n Started "), 1u);
}

TEST_F(AcctEndToEnd, AppendWithoutOutputFileOnlyWarns) {
  auto r = run({"data", "-a"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\n\tNeed output file name if -a is chosen\n"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::exists(dir.path() / "data/a.IP"));
}

TEST_F(AcctEndToEnd, OutputFileInAMissingDirectoryEndsWithStatus3AndSaysWhy) {
  auto r = run({"data", "-o", "missing/out.txt"});
  EXPECT_EQ(r.status, 3);
  // The system's reason on the next line, before the source location.
  const std::string message = "\ncan't create output file " + full("missing/out.txt") + "\n  ";
  const size_t at = r.err.find(message);
  ASSERT_NE(at, std::string::npos) << r.err;
  const size_t reason = at + message.size();
  const size_t end = r.err.find("\nFILE: ", reason);
  ASSERT_NE(end, std::string::npos) << r.err;
  if (test::running_under_wine())
    EXPECT_GT(end, reason) << r.err;  // the system's text in its own language
  else
    EXPECT_EQ(r.err.substr(reason, end - reason), std::strerror(ENOENT)) << r.err;
  EXPECT_FALSE(fs::exists(dir.path() / "data/a.IP"));
}

TEST_F(AcctEndToEnd, VerboseHeaderGoesToStandardOutput) {
  auto r = run({"data", "-v"});
  ASSERT_EQ(r.status, 0) << r.err;
  static const std::regex header(
      "\nStarted [A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4} GMT, "
      "\\d\\d:\\d\\d .* \\([^/]*/[^:]*:-?\\d+\\*?\\)\n\n"
      "Command line:  \\S+ data " + std::string(test::running_under_wine() ? "-S " : "") +
      "-v -.ini \nLast Access Date UPDATE is turned ON\n\n\n");
  EXPECT_TRUE(std::regex_search(r.out, header)) << r.out;
}

TEST_F(AcctEndToEnd, DatedOutputFileHoldsTheHeader) {
  fs::create_directory(dir.path() / "out");
  auto r = run({"data", "-o", "out/YYYYMMDD_HHmm.txt", "-v", "-I"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path() / "out"))
    names.push_back(entry.path().filename().string());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_TRUE(std::regex_match(names[0], std::regex("\\d{8}_\\d{4}\\.txt"))) << names[0];
  EXPECT_EQ(file("out/" + names[0]).rfind("\nStarted ", 0), 0u);
}

TEST_F(AcctEndToEnd, SplitLogIsOpenedBesideTheOutputFile) {
  // The INI file is read here, so the helper's "-.ini" is left out.
  dir.write(fs::path(test::program_under_test()).stem().string() + ".ini", "SPLIT=1\n");
  test::RunOptions options;
  options.cwd = dir.path();
  options.unset_env = {"ACCT", "SILENT", "RESET"};
  auto r = test::run_program({"data", "-o", "out.txt"}, options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string log = file("out.txt.log");
  EXPECT_EQ(log.rfind(kSeparator + "\n Started ", 0), 0u) << log;
}

TEST_F(AcctEndToEnd, TheRunsOwnFilesInTheWalkedTreeAreNeverConverted) {
  // Another name of the output file is passed over too.
  dir.write("report.txt", "earlier\n");
  fs::create_hard_link(dir.path() / "report.txt", dir.path() / "data/copy.txt");
  auto r = run({".", "-o", "report.txt", "-1", "acct.txt", "-v"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(fs::exists(dir.path() / "data/a.IP"));
  for (const char* own : {"report.IP", "acct.IP", "data/copy.IP"})
    EXPECT_FALSE(fs::exists(dir.path() / own)) << own;
  EXPECT_EQ(r.out.find("Input file  " + full("report.txt")), std::string::npos) << r.out;

  // The split log, which the INI file asks for.
  fs::remove(dir.path() / "acct.txt");
  dir.write(fs::path(test::program_under_test()).stem().string() + ".ini", "SPLIT=1\n");
  test::RunOptions options;
  options.cwd = dir.path();
  options.unset_env = {"ACCT", "SILENT", "RESET"};
  r = test::run_program({".", "-o", "report.txt"}, options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(fs::exists(dir.path() / "report.txt.log"));
  EXPECT_FALSE(fs::exists(dir.path() / "report.txt.IP"));
  EXPECT_FALSE(fs::exists(dir.path() / "report.IP"));
}

TEST_F(AcctEndToEnd, OutputFileThatIsAnInputIsRefusedBeforeAnythingIsWritten) {
  dir.write("data.csv", "3139666412\n");
  fs::create_hard_link(dir.path() / "data.csv", dir.path() / "alias.csv");
  const std::vector<std::vector<std::string>> cases = {
      {"data.csv", "-o", "data.csv"},
      {"data.csv", "--OUT=data.csv"},
      {"data.csv", "-O", "./data.csv"},
      {"data.csv", "-o", "alias.csv"},  // the same file under another name
  };
  for (auto args : cases) {
    const std::string named = fs::path(args.back().substr(args.back().find('=') + 1)).filename().string();
    args.insert(args.end(), {"-1", "acct.txt", "-v"});
    const auto r = run(args);
    EXPECT_EQ(r.status, 5) << named << r.out << r.err;
    EXPECT_NE(r.err.find("\nOutput file " + full(named) + " is also an input file\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(test::read_file(dir.path() / "data.csv"), "3139666412\n") << named;
    EXPECT_FALSE(fs::exists(dir.path() / "data.IP")) << named;
    EXPECT_FALSE(fs::exists(dir.path() / "acct.txt")) << named;
  }
}

TEST_F(AcctEndToEnd, MemoIsWrittenToTheAccountingFile) {
  auto r = run({"data", "-1", "acct.txt", "--MEMO"}, {}, "first line\nsecond line\n\n\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Input up to 2000 characters of your memo information now.\n"),
            std::string::npos);
  EXPECT_EQ(file("acct.txt"), kSeparator + "first line\nsecond line\n\n\n");
}

TEST_F(AcctEndToEnd, MemoFileTakesTheMemoInstead) {
  auto r = run({"data", "-1", "acct.txt", "--MEMO=memo.txt"}, {}, "a memo\n\n\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(file("memo.txt"), "a memo\n\n\n");
  EXPECT_EQ(file("acct.txt"), kSeparator);
}

}  // namespace
