// Runs that end early: each ending leaves the directory with its inputs
// and complete outputs only, and the next run finishes the work. The runs
// are held on a full standard output and then ended, never timed.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

class EndingsE2E : public testing::Test {
 protected:
  void SetUp() override {
    if (test::running_under_wine()) GTEST_SKIP() << "POSIX signals to the native program";
    for (int i = 0; i < kFiles; ++i) tmp.write("d/" + input(i), content(i));
  }

  test::RunOptions options() const {
    test::RunOptions o;
    o.cwd = tmp.path();
    o.unset_env = {"ACCT", "SILENT", "RESET"};
    o.timeout_seconds = 20;
    return o;
  }

  static constexpr int kFiles = 200;
  static std::string input(int i) { return "f" + std::to_string(100 + i) + ".txt"; }
  static std::string output(int i) { return "f" + std::to_string(100 + i) + ".IP"; }
  // Some inputs are large, so that an ending may also meet a conversion.
  static std::string content(int i) {
    std::string text;
    for (int n = 0; n < (i % 25 == 0 ? 20000 : 3); ++n) text += std::to_string(i * 1000 + n) + "\n";
    return text;
  }
  static std::string converted(int i) {
    std::string text;
    for (int n = 0; n < (i % 25 == 0 ? 20000 : 3); ++n) {
      const unsigned v = static_cast<unsigned>(i * 1000 + n);
      char suffix[64];
      std::snprintf(suffix, sizeof suffix, "|Hex|%08X|IP-decimal|%u.%u.%u.%u\n", v, v >> 24,
                    (v >> 16) & 255, (v >> 8) & 255, v & 255);
      text += std::to_string(v) + suffix;
    }
    return text;
  }

  // Names in d that are neither an input nor a complete output of one.
  std::vector<std::string> strays() const {
    std::set<std::string> inputs, outputs;
    for (int i = 0; i < kFiles; ++i) {
      inputs.insert(input(i));
      outputs.insert(output(i));
    }
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(tmp.path() / "d")) {
      const std::string name = entry.path().filename().string();
      if (inputs.count(name)) continue;
      if (outputs.count(name)) {
        const int i = std::stoi(name.substr(1)) - 100;
        if (test::read_file(entry.path()) == converted(i)) continue;
        found.push_back(name + " (incomplete)");
        continue;
      }
      found.push_back(name);
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  test::TempDir tmp;
};

struct Ending {
  const char* name;
  int signal;      // sent to the held run; 0: its standard output closes
  int ended_by;    // the signal that ends it
  int times = 1;
};

// A single thread, and several with outputs pending on each.
const char* const kThreads[] = {"--JOBS=1", "--JOBS=4"};

TEST_F(EndingsE2E, EveryEndingLeavesOnlyInputsAndCompleteOutputs) {
  const Ending endings[] = {
      {"two Ctrl+C", SIGINT, SIGINT, 2}, {"SIGTERM", SIGTERM, SIGTERM},
      {"SIGHUP", SIGHUP, SIGHUP},        {"SIGQUIT", SIGQUIT, SIGQUIT},
      {"SIGKILL", SIGKILL, SIGKILL},     {"closed pipe", 0, SIGPIPE},
  };
  for (const char* threads : kThreads)
  for (const Ending& ending : endings) {
    SCOPED_TRACE(ending.name);
    SCOPED_TRACE(threads);
    fs::remove_all(tmp.path() / "d");
    for (int i = 0; i < kFiles; ++i) tmp.write("d/" + input(i), content(i));
    test::HeldRun held({"d", threads}, options());
    ASSERT_TRUE(held.wait_until_held());
    if (ending.signal == 0) held.close_output();
    for (int n = 0; n < ending.times && ending.signal != 0; ++n) {
      // Two signals sent at once would arrive as one.
      ASSERT_TRUE(held.wait_until_taken(ending.signal));
      held.send(ending.signal);
    }
    const auto ended = held.finish();
    EXPECT_EQ(held.end_signal(), ending.ended_by) << ended.err;
    EXPECT_EQ(strays(), std::vector<std::string>{});

    const auto again = test::run_program({"d"}, options());
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(strays(), std::vector<std::string>{});
    for (int i = 0; i < kFiles; ++i) EXPECT_TRUE(fs::exists(tmp.path() / "d" / output(i))) << i;
  }
}

TEST_F(EndingsE2E, FirstCtrlCWhileTheListingWaitsLosesNoLine) {
  for (const char* threads : kThreads) {
    SCOPED_TRACE(threads);
    for (int i = 0; i < kFiles; ++i) fs::remove(tmp.path() / "d" / output(i));
    test::HeldRun held({"d", threads}, options());
    ASSERT_TRUE(held.wait_until_held());
    held.send(SIGINT);
    ASSERT_TRUE(held.wait_until_taken(SIGINT));
    const auto r = held.finish();
    EXPECT_EQ(held.end_signal(), 0);
    EXPECT_EQ(r.status, 0) << r.err;
    for (int i = 0; i < kFiles; ++i)
      EXPECT_NE(r.out.find("Input file  " + fs::canonical(tmp.path()).string() + "/d/" +
                           input(i) + "\nOutput file "),
                std::string::npos)
          << input(i);
    EXPECT_EQ(strays(), std::vector<std::string>{});
  }
}

}  // namespace
