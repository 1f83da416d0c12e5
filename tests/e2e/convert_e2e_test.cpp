// The built program over real directories: outputs, reports, statuses.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/run_program.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using test::read_file;
using test::run_program;

namespace {

class ConvertE2E : public testing::Test {
 protected:
  test::RunResult run(const std::vector<std::string>& args) {
    test::RunOptions options;
    options.cwd = tmp.path();
    options.unset_env = {"ACCT", "SILENT", "RESET"};
    return run_program(args, options);
  }
  // Standard input fed with `input`; standard output as the program wrote it.
  test::RunResult run_filter(const std::vector<std::string>& args, const std::string& input) {
    test::RunOptions options;
    options.cwd = tmp.path();
    options.unset_env = {"ACCT", "SILENT", "RESET"};
    options.stdin_text = input;
    options.stdin_closed = false;
    options.stdout_as_written = true;
    return run_program(args, options);
  }
  test::TempDir tmp;
};

TEST_F(ConvertE2E, NoArgumentsShowsUsageAndHelpWithStatus5) {
  const auto r = run({});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.out,
            "\nThis program contains various operations depending on the  \n"
            "source with which it was compiled.\n"
            "usually, the command line is:  programname  inputfile\n"
            "Other options may be found but not guaranteed \n");
  EXPECT_EQ(r.err.rfind("\n\n\nCOMMAND LINE:  program  inputfilename\n", 0), 0u);
  EXPECT_NE(r.err.find("Hex|BB2381EC|IP-Decimal|187.35.129.236\n\n"), std::string::npos);
  EXPECT_TRUE(r.err.ends_with("\nFor best results, the input file should only contain the \ndecimal number to convert"));
}

TEST_F(ConvertE2E, DirectoryConvertsEveryFileDepthFirst) {
  tmp.write("data/top.csv", "ip,host\n3139666412,a\r\n");
  tmp.write("data/sub/log.txt", "16909060 GET /\n-1");
  const auto r = run({"data"});
  EXPECT_EQ(r.status, 0) << r.err;
  const fs::path base = fs::canonical(tmp.path());
  const auto shown = [&](const char* relative) { return test::shown_path(base / relative); };
  EXPECT_EQ(r.out, "\nInput file  " + shown("data/sub/log.txt") + "\nOutput file " + shown("data/sub/log.IP") + "\n" +
                       "\nInput file  " + shown("data/top.csv") + "\nOutput file " + shown("data/top.IP") + "\n");
  EXPECT_EQ(read_file(tmp.path() / "data/top.IP"),
            test::program_text("ip,host|Hex|00000000|IP-decimal|0.0.0.0\n"
                               "3139666412,a|Hex|BB2381EC|IP-decimal|187.35.129.236\n"));
  EXPECT_EQ(read_file(tmp.path() / "data/sub/log.IP"),
            test::program_text("16909060 GET /|Hex|01020304|IP-decimal|1.2.3.4\n"
                               "-1|Hex|FFFFFFFF|IP-decimal|255.255.255.255\n"));
}

TEST_F(ConvertE2E, WildcardArgumentsAndBareNames) {
  tmp.write("logs/a.csv", "1\n");
  tmp.write("logs/b.txt", "2\n");
  tmp.write("other/c.txt", "3\n");
  auto r = run({"logs/*.csv"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(fs::exists(tmp.path() / "logs/a.IP"));
  EXPECT_FALSE(fs::exists(tmp.path() / "logs/b.IP"));
  // Both patterns are searched in both directories.
  r = run({"logs/*.csv", "other/*.txt"});
  EXPECT_TRUE(fs::exists(tmp.path() / "logs/b.IP"));
  EXPECT_TRUE(fs::exists(tmp.path() / "other/c.IP"));
}

TEST_F(ConvertE2E, ExistingOutputIsReplacedAndLaterInputWins) {
  tmp.write("d/log.IP", "old content\n");
  tmp.write("d/log.csv", "1\n");
  tmp.write("d/log.txt", "2\n");
  const auto r = run({"d/log.*"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(tmp.path() / "d/log.IP"), test::program_text("2|Hex|00000002|IP-decimal|0.0.0.2\n"));
  // log.IP itself matched "log.*": it is never converted onto itself.
  EXPECT_NE(r.err.find("log.IP"), std::string::npos);
}

TEST_F(ConvertE2E, EmptyFileAndHiddenName) {
  tmp.write("d/empty.txt", "");
  tmp.write("d/.hidden", "5\n");
  const auto r = run({"d"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(tmp.path() / "d/empty.IP"), "");
  EXPECT_EQ(read_file(tmp.path() / "d/.IP"), test::program_text("5|Hex|00000005|IP-decimal|0.0.0.5\n"));
  EXPECT_NE(r.out.find("empty.txt"), std::string::npos);
}

TEST_F(ConvertE2E, UnwritableOutputLeavesNoTraceAndStatus3) {
  tmp.write("d/a.txt", "1\n");
  tmp.write("d/b.txt", "2\n");
  fs::create_directory(tmp.path() / "d/a.IP");  // a directory cannot be replaced by a file
  const auto r = run({"d/*.txt"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("a.IP"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(tmp.path() / "d/a.IP"));
  EXPECT_EQ(read_file(tmp.path() / "d/b.IP"), test::program_text("2|Hex|00000002|IP-decimal|0.0.0.2\n"));
  for (const auto& entry : fs::directory_iterator(tmp.path() / "d"))
    EXPECT_EQ(entry.path().filename().string().find("~"), std::string::npos) << entry.path();
}

TEST_F(ConvertE2E, UnreadableInputGivesStatus2AndTheRunGoesOn) {
  if (test::running_under_wine()) GTEST_SKIP() << "Wine does not list a link whose target is missing";
  tmp.write("d/b.txt", "2\n");
  fs::create_symlink(tmp.path() / "d/missing", tmp.path() / "d/a.txt");
  const auto r = run({"d/*.txt"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("a.txt"), std::string::npos);
  EXPECT_FALSE(fs::exists(tmp.path() / "d/a.IP"));
  EXPECT_TRUE(fs::exists(tmp.path() / "d/b.IP"));
}

TEST_F(ConvertE2E, OutputLinkIsReplacedNotWrittenThrough) {
  tmp.write("d/a.txt", "1\n");
  tmp.write("keep.txt", "precious\n");
  fs::create_symlink(tmp.path() / "keep.txt", tmp.path() / "d/a.IP");
  const auto r = run({"d/a.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(tmp.path() / "keep.txt"), "precious\n");
  EXPECT_FALSE(fs::is_symlink(tmp.path() / "d/a.IP"));
  EXPECT_EQ(read_file(tmp.path() / "d/a.IP"), test::program_text("1|Hex|00000001|IP-decimal|0.0.0.1\n"));
}

TEST_F(ConvertE2E, NamesThatAreNotUtf8RoundTrip) {
  if (test::running_under_wine()) GTEST_SKIP() << "POSIX names: Wine maps names that are not UTF-8 its own way";
  const std::string odd = "caf\xe9\xff.txt";
  tmp.write("d/" + odd, "3\n");
  const auto r = run({"d"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(tmp.path() / "d" / "caf\xe9\xff.IP"), "3|Hex|00000003|IP-decimal|0.0.0.3\n");
  EXPECT_NE(r.out.find(odd), std::string::npos);
}

TEST_F(ConvertE2E, MissingDirectoryConvertsNothingWithStatus0) {
  const auto r = run({"absent/*.csv"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

// "-" reads standard input and writes its lines to standard output.
TEST_F(ConvertE2E, StandardInputConvertsByteForByteAsAFile) {
  const std::string inputs[] = {
      "3139666412,a\r\n16909060\n",
      "1\n2,no final line feed",
      std::string("7\0x\n\0\r\n", 6),
      "5\r\r\n6\rx\n",
      "\xEF\xBB\xBF" "42,mark\n",
      "1\n2\x1a" "3\n",
  };
  for (const std::string& input : inputs) {
    tmp.write("in.txt", input);
    ASSERT_EQ(run({"in.txt"}).status, 0);
    const std::string expected = read_file(tmp.path() / "in.IP");
    const auto r = run_filter({"-"}, input);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected) << input;
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(ConvertE2E, StandardInputAloneWalksNoDirectory) {
  tmp.write("a.csv", "1\n");
  const auto r = run_filter({"-"}, "2\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, test::program_text("2|Hex|00000002|IP-decimal|0.0.0.2\n"));
  EXPECT_FALSE(fs::exists(tmp.path() / "a.IP"));
}

// Standard output carries the converted lines alone; the header and the
// file reports go to standard error.
TEST_F(ConvertE2E, StandardInputAmongFilesIsConvertedOnceAndKeepsStandardOutputToItself) {
  tmp.write("a.csv", "1\n");
  tmp.write("b.csv", "2\n");
  const auto r = run_filter({"a.csv", "-", "b.csv", "-", "-v"}, "3\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, test::program_text("3|Hex|00000003|IP-decimal|0.0.0.3\n"));
  EXPECT_NE(r.err.find("\nCommand line:  "), std::string::npos);
  EXPECT_NE(r.err.find("\nInput file  " + test::shown_path(fs::canonical(tmp.path()) / "a.csv")),
            std::string::npos);
  EXPECT_EQ(read_file(tmp.path() / "a.IP"), test::program_text("1|Hex|00000001|IP-decimal|0.0.0.1\n"));
  EXPECT_EQ(read_file(tmp.path() / "b.IP"), test::program_text("2|Hex|00000002|IP-decimal|0.0.0.2\n"));
}

TEST_F(ConvertE2E, StandardInputReadAndWriteErrorsGiveStatus2And3) {
  test::RunOptions options;
  options.cwd = tmp.path();
  options.unset_env = {"ACCT", "SILENT", "RESET"};
  options.stdin_file = tmp.path().string();  // a directory cannot be read
  auto r = run_program({"-"}, options);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("\nError reading standard input: "), std::string::npos) << r.err;

  tmp.write("in.txt", "1\n");
  options.stdin_file = (tmp.path() / "in.txt").string();
  options.stdout_file = "/dev/full";
  r = run_program({"-"}, options);
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("\nError writing standard output: "), std::string::npos) << r.err;
}

TEST_F(ConvertE2E, ByteOrderMarks) {
  tmp.write("d/mark.csv", "\xEF\xBB\xBF" "16909060,x\n");
  tmp.write("d/le.csv", std::string("\xFF\xFE" "1\0\n\0", 6));
  tmp.write("d/be.csv", std::string("\xFE\xFF\0" "1\0\n", 6));
  const auto r = run({"d"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(read_file(tmp.path() / "d/mark.IP"),
            test::program_text("\xEF\xBB\xBF" "16909060,x|Hex|01020304|IP-decimal|1.2.3.4\n"));
  const fs::path base = fs::canonical(tmp.path());
  for (const char* name : {"d/le.csv", "d/be.csv"}) {
    const std::string shown = test::shown_path(base / name);
    EXPECT_NE(r.err.find("\nSkipped " + shown + ": UTF-16 text is not read\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find(shown), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(tmp.path() / "d/le.IP"));
  EXPECT_FALSE(fs::exists(tmp.path() / "d/be.IP"));

  const auto piped = run_filter({"-"}, std::string("\xFF\xFE" "1\0", 4));
  EXPECT_EQ(piped.status, 2);
  EXPECT_EQ(piped.out, "");
  EXPECT_EQ(piped.err, "\nSkipped standard input: UTF-16 text is not read\n");
}

}  // namespace
