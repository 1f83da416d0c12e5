// The stream read-error prompt as a user meets it. Wine says its drives
// are NTFS but cannot read their streams, so under wine every walked
// directory meets a read error: the one place where the prompt can be
// seen without a broken volume.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/run_program.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

class StreamPromptE2E : public testing::Test {
 protected:
  void SetUp() override {
    if (!test::running_under_wine())
      GTEST_SKIP() << "needs a volume whose streams cannot be read (the program under wine)";
    tmp.write("data/a.txt", "1\n");
    tmp.write("data/sub/b.txt", "2\n");
  }
  test::RunResult run(const std::string& answer) {
    test::RunOptions options;
    options.cwd = tmp.path();
    options.unset_env = {"ACCT", "SILENT", "RESET"};
    options.streams_under_wine = true;
    options.stdin_text = answer;
    options.stdin_closed = answer.empty();
    return test::run_program({"data", "-.ini"}, options);
  }
  test::TempDir tmp;
};

TEST_F(StreamPromptE2E, AnyAnswerButUpperCaseYEndsTheRunWithStatus1) {
  for (const std::string answer : {"n", "y", ""}) {
    const auto r = run(answer);
    EXPECT_EQ(r.status, 1) << "answer '" << answer << "'";
    EXPECT_EQ(r.out, test::kStreamReadPrompt) << "answer '" << answer << "'";
    EXPECT_FALSE(fs::exists(tmp.path() / "data/a.IP"));
    EXPECT_FALSE(fs::exists(tmp.path() / "data/sub/b.IP"));
  }
}

TEST_F(StreamPromptE2E, YGoesOnAndLaterErrorsOnlyBreakTheLine) {
  const auto r = run("Y");
  EXPECT_EQ(r.status, 0) << r.err;
  // Asked once, for the first directory; the second one's error is a line
  // break before its files.
  EXPECT_EQ(r.out.find(test::kStreamReadPrompt), 0u) << r.out;
  EXPECT_EQ(r.out.find(test::kStreamReadPrompt, 1), std::string::npos);
  EXPECT_NE(r.out.find(std::string(test::kStreamReadPrompt) + "\n\nInput file  "), std::string::npos) << r.out;
  EXPECT_TRUE(fs::exists(tmp.path() / "data/a.IP"));
  EXPECT_TRUE(fs::exists(tmp.path() / "data/sub/b.IP"));
}

}  // namespace
