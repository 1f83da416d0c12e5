// The command line as a user meets it: the runs that end with status 5 and
// the option messages on the console.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/test_support.h"

namespace {

const char kUsageLine[] = "usually, the command line is:  programname  inputfile\n";
const char kHelpStart[] = "\n\n\nCOMMAND LINE:  program  inputfilename\n";

test::RunResult run_in(const test::TempDir& dir, const std::vector<std::string>& args,
                       test::RunOptions options = {}) {
  options.cwd = dir.path();
  options.unset_env.push_back("ACCT");
  return test::run_program(args, options);
}

TEST(OptionsE2E, IllegalLetterShowsHelpAndEndsWithStatus5) {
  test::TempDir dir;
  auto r = run_in(dir, {"-.ini", "-vy"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.out.find("\nIllegal option y\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find(kHelpStart), std::string::npos);
}

TEST(OptionsE2E, HelpRequestEndsWithStatus5) {
  test::TempDir dir;
  auto r = run_in(dir, {"-?"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.out.find(kUsageLine), std::string::npos);
  EXPECT_NE(r.err.find(kHelpStart), std::string::npos);
}

TEST(OptionsE2E, HelpRequestsAreAnsweredBeforeAnythingIsWritten) {
  // "/?" keeps the family's answer: usage on standard output, help on
  // standard error, status 5. --help and --usage give the whole page, with
  // every option, on standard output alone, and status 0.
  struct Case {
    const char* request;
    int status;
    bool whole_page;
  } cases[] = {{"/?", 5, false}, {"--help", 0, true}, {"--HELP", 0, true}, {"--usage", 0, true}};
  for (const Case& c : cases) {
    test::TempDir dir;
    dir.write("a.txt", "3139666412\n");
    test::RunOptions options;
    options.env.push_back({"ACCT", "on"});
    auto r = run_in(dir, {c.request}, options);
    EXPECT_EQ(r.status, c.status) << c.request << r.out << r.err;
    EXPECT_NE(r.out.find(kUsageLine), std::string::npos) << c.request;
    if (c.whole_page) {
      EXPECT_NE(r.out.find(kHelpStart), std::string::npos) << c.request;
      EXPECT_NE(r.out.find("\n  --ACC "), std::string::npos) << c.request;
      EXPECT_NE(r.out.find("\nExit status:\n"), std::string::npos) << c.request;
      EXPECT_EQ(r.err, "") << c.request;
    } else {
      EXPECT_NE(r.err.find(kHelpStart), std::string::npos) << c.request;
      EXPECT_EQ(r.out.find("--ACC"), std::string::npos) << c.request;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "a.IP")) << c.request;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "ACCT-ING")) << c.request;
  }
}

TEST(OptionsE2E, VersionPrintsTheProjectVersionAndConvertsNothing) {
  test::TempDir dir;
  dir.write("a.txt", "3139666412\n");
  auto r = run_in(dir, {"--version"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ipconv " IPCONV_VERSION "\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "a.IP"));
}

TEST(OptionsE2E, VerboseLongOptionShowsTheRunHeaderAndVerOffHidesIt) {
  test::TempDir dir;
  dir.write("d/a.txt", "3139666412\n");
  auto verbose = run_in(dir, {"d", "--VERBOSE", "-.ini"});
  EXPECT_EQ(verbose.status, 0) << verbose.err;
  EXPECT_NE(verbose.out.find("\nStarted "), std::string::npos) << verbose.out;
  auto quiet = run_in(dir, {"d", "-v", "--VER=OFF", "-.ini"});
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out.find("\nStarted "), std::string::npos) << quiet.out;
  EXPECT_NE(quiet.out.find("Input file"), std::string::npos) << quiet.out;
}

TEST(OptionsE2E, ValueMissingAtTheEndEndsWithUsage) {
  test::TempDir dir;
  for (const char* letter : {"-w", "-o", "-x"}) {
    auto r = run_in(dir, {"-.ini", letter});
    EXPECT_EQ(r.status, 5) << letter;
    EXPECT_NE(r.out.find(kUsageLine), std::string::npos) << letter;
  }
}

TEST(OptionsE2E, ExcludeListBeginningWithADashEndsWithStatus5) {
  test::TempDir dir;
  auto r = run_in(dir, {"-x", "-v", "*.bak"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.out.find(kUsageLine), std::string::npos);
}

TEST(OptionsE2E, RejectedLongOptionEndsWithStatus5) {
  test::TempDir dir;
  auto r = run_in(dir, {"--REC=NO"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.out.find("\nIllegal option: REC=NO"), std::string::npos) << r.out;
}

TEST(OptionsE2E, ExtraItemIsReportedAndTheRunGoesOnToEndWithStatus5) {
  test::TempDir dir;
  dir.write("a.txt", "3139666412\n");
  auto r = run_in(dir, {"a.txt", "-v", "stray", "-y"});
  // What was asked was not all done: a script can tell.
  EXPECT_EQ(r.status, 5) << r.out << r.err;
  EXPECT_NE(r.out.find("\nThere appears to be an extra or eroneous item \"stray\"\n"
                       "at the end of the command line\n"
                       "Please check your syntax, and correct to problem.\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Illegal option"), std::string::npos);  // -y never scanned
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "a.IP"));
}

TEST(OptionsE2E, ExtraItemWithoutFileArgumentEndsWithStatus5AndConvertsNothing) {
  // A file name, or "-" for standard input, typed after the options.
  for (const char* item : {"data.csv", "-"}) {
    test::TempDir dir;
    dir.write("data.csv", "3139666412\n");
    auto r = run_in(dir, {"-v", item});
    EXPECT_EQ(r.status, 5) << r.out << r.err;
    EXPECT_NE(r.out.find("\nThere appears to be an extra or eroneous item \"" + std::string(item) +
                         "\"\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("\nStarted "), std::string::npos) << r.out;  // no run header either
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "data.IP"));
  }
}

TEST(OptionsE2E, MistakesWithoutAFileArgumentAreAnsweredAsAHelpRequest) {
  // Taken as options, these would convert the whole current tree.
  const std::vector<std::vector<std::string>> mistakes = {
      {"--hepl"}, {"--"}, {"-h"}, {"-H"}, {"-v", "--hepl"}, {"-r-HLEP"}};
  for (const auto& args : mistakes) {
    test::TempDir dir;
    dir.write("a.txt", "3139666412\n");
    // No "-S" added under wine: "-h" stays the only argument.
    test::RunOptions options;
    options.streams_under_wine = true;
    auto r = run_in(dir, args, options);
    EXPECT_EQ(r.status, 5) << args.back() << r.out << r.err;
    EXPECT_NE(r.out.find(kUsageLine), std::string::npos) << args.back();
    EXPECT_NE(r.err.find(kHelpStart), std::string::npos) << args.back();
    // Not the note that waits three seconds before the run goes on.
    EXPECT_EQ(r.out.find("IGNORED"), std::string::npos) << args.back();
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"a.txt"}) << args.back();
  }
  // With a file argument -h is one of the family's letters, as before.
  test::TempDir dir;
  dir.write("a.txt", "3139666412\n");
  auto r = run_in(dir, {"a.txt", "-h"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "a.IP"));
}

TEST(OptionsE2E, OutputOptionNamesTheFullPath) {
  test::TempDir dir;
  auto r = run_in(dir, {"-o", "run.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string full = test::shown_path(std::filesystem::canonical(dir.path()) / "run.txt");
  EXPECT_NE(r.out.find("\n\n886 .\\Options_u\n-o outputname " + full + "\n\n"), std::string::npos)
      << r.out;
}

TEST(OptionsE2E, FileTypeWithASeparatorWarnsOnStandardError) {
  // The platform's separator: '\\' for the program under wine.
  const std::string sep = test::running_under_wine() ? "\\" : "/";
  test::TempDir dir;
  auto r = run_in(dir, {"-f", "sub" + sep + "*.csv"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("Can't have a " + sep + " in the file type option\n"), std::string::npos)
      << r.err;
}

TEST(OptionsE2E, AcctOnOpensTheAccountingFileInTheCurrentDirectory) {
  test::TempDir dir;
  test::RunOptions options;
  options.cwd = dir.path();
  options.env.push_back({"ACCT", "on"});
  auto r = test::run_program({"-.ini", "-v"}, options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "ACCT-ING"));
}

TEST(OptionsE2E, BashCompletionOffersLongOptionsLettersAndFiles) {
  if (test::running_under_wine()) GTEST_SKIP() << "completes the Linux program";
  test::TempDir dir;
  dir.write("alpha.csv", "");
  dir.write("alps/x.csv", "");
  dir.write("beta.csv", "");
  // The completion function as bash calls it, with the program as the
  // command word; each word's answers sorted, on a line of their own.
  const std::filesystem::path script = dir.write(
      "complete.sh",
      "cd \"$(dirname \"$0\")\" && source '" IPCONV_COMPLETION "' || exit 1\n"
      "for word in --AC --VER al; do\n"
      "  COMP_WORDS=(\"$1\" \"$word\") COMP_CWORD=1\n"
      "  _ipconv\n"
      "  echo \"$word:\" $(printf '%s\\n' \"${COMPREPLY[@]}\" | sort)\n"
      "done\n");
  const std::string command =
      "bash '" + script.string() + "' '" + test::program_under_test() + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string answers;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) answers += buffer;
  EXPECT_EQ(pclose(pipe), 0) << answers;
  EXPECT_EQ(answers,
            "--AC: --ACC=\n"          // it needs a value: the = comes with it
            "--VER: --VER --VERSION\n"  // in the case typed, the whole word too
            "al: alpha.csv alps\n");
}

}  // namespace
