// The built program over real directories: outputs, reports, statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/run_program.h"
#include "support/test_support.h"

extern char** environ;

namespace fs = std::filesystem;
using test::read_file;
using test::run_program;

namespace {

class ConvertE2E : public testing::Test {
 protected:
  test::RunResult run(const std::vector<std::string>& args, test::RunOptions options = {}) {
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
  // The trailing dot goes before the name is split: ".*." is ".*", whose
  // name part is empty, so every file is converted.
  tmp.write("dots/.profile", "4\n");
  tmp.write("dots/plain", "5\n");
  r = run({"dots/.*."});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(tmp.path() / "dots/.IP"));
  EXPECT_TRUE(fs::exists(tmp.path() / "dots/plain.IP"));
}

TEST_F(ConvertE2E, ExistingOutputIsReplacedAndLaterInputWinsWithANote) {
  tmp.write("d/log.IP", "old content\n");
  tmp.write("d/log.csv", "1\n");
  tmp.write("d/log.txt", "2\n");
  const auto r = run({"d/log.*"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(tmp.path() / "d/log.IP"), test::program_text("2|Hex|00000002|IP-decimal|0.0.0.2\n"));
  // log.IP itself matched "log.*": it is never converted onto itself.
  EXPECT_NE(r.err.find("log.IP: it is its own output file"), std::string::npos);
  // The output replaced within the run is named once; the one that was
  // there before the run is not.
  const fs::path d = fs::canonical(tmp.path()) / "d";
  const std::string note = "\nNote: " + test::shown_path(d / "log.IP") + " from " +
                           test::shown_path(d / "log.txt") + " replaces the one written from " +
                           test::shown_path(d / "log.csv") + " in this run\n";
  EXPECT_NE(r.err.find(note), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Note:"), r.err.rfind("Note:")) << r.err;
  EXPECT_EQ(r.out.find("Note:"), std::string::npos);
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

TEST_F(ConvertE2E, AnOutputNameThatIsAnotherNameOfTheInputLeavesBothAlone) {
  tmp.write("d/hard.txt", "1\n");
  tmp.write("d/wide.txt", std::string("\xFF\xFE\0\0" "3\0\0\0", 8));
  fs::create_hard_link(tmp.path() / "d/hard.txt", tmp.path() / "d/hard.IP");
  // Told so before the first block would refuse it as UTF-32.
  fs::create_hard_link(tmp.path() / "d/wide.txt", tmp.path() / "d/wide.IP");
  std::vector<std::string> names = {"hard", "wide"};
  if (!test::running_under_wine()) {
    tmp.write("d/soft.txt", "2\n");
    fs::create_symlink(tmp.path() / "d/soft.txt", tmp.path() / "d/soft.IP");
    names.push_back("soft");
  }
  const auto r = run({"d/*.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  const fs::path base = fs::canonical(tmp.path());
  for (const auto& name : names) {
    const std::string shown = test::shown_path(base / "d" / (name + ".txt"));
    EXPECT_NE(r.err.find("\nSkipped " + shown + ": it is its own output file\n"),
              std::string::npos) << r.err;
    EXPECT_EQ(r.out.find(shown), std::string::npos);
  }
  EXPECT_EQ(read_file(tmp.path() / "d/hard.IP"), "1\n");
  EXPECT_EQ(read_file(tmp.path() / "d/wide.IP"), std::string("\xFF\xFE\0\0" "3\0\0\0", 8));
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

TEST_F(ConvertE2E, FileArgumentsThatFindNothingAreNamed) {
  tmp.write("logs/a.csv", "1\n");
  tmp.write("logs/a.IP", "old\n");
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> notes;
    int status;
  };
  const Case cases[] = {
      {{"logs/aa.csv"}, {"No such file: logs/aa.csv"}, 2},
      {{"nosuchdir/"}, {"No such directory: nosuchdir/"}, 2},
      {{"logs/*.xyz"}, {"No file matches logs/*.xyz"}, 0},
      {{"logs/a.csv", "logs/*.xyz"}, {"No file matches logs/*.xyz"}, 0},
      // Every pattern is searched in every directory: a.csv is found in logs.
      {{"other/a.csv", "logs/"}, {}, 0},
      // Skipped as its own output is still found.
      {{"logs/a.IP"}, {}, 0},
  };
  for (const auto& c : cases) {
    const auto r = run(c.args);
    std::vector<std::string> notes;
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("No ", 0) == 0) notes.push_back(line);
    EXPECT_EQ(notes, c.notes) << c.args[0];
    EXPECT_EQ(r.status, c.status) << c.args[0];
  }
  EXPECT_TRUE(fs::exists(tmp.path() / "logs/a.IP"));
}

TEST_F(ConvertE2E, LeftoverTemporaryFilesAreNotedNeverConverted) {
  tmp.write("d/x.txt", "1\n");
  // 999999999 is no running process on either platform.
  const fs::path stale = tmp.write("d/a.IP.~ipconv-999999999-1", "part");
  const fs::path fresh = tmp.write("d/.~ipconv-999999999-2", "part");
  const auto now = fs::file_time_type::clock::now();
  fs::last_write_time(stale, now - std::chrono::hours(1));
  fs::last_write_time(fresh, now + std::chrono::hours(1));
  std::set<std::string> kept = {"x.txt", "x.IP", ".~ipconv-999999999-2"};
  // The number of a process that runs now, started after one leftover was
  // last written (its number was reused: stale) and before the other (its
  // writer may be at work). Wine has its own process numbers.
  pid_t live = -1;
  std::string reused, busy;
  if (!test::running_under_wine()) {
    char sleep[] = "sleep", seconds[] = "60";
    char* argv[] = {sleep, seconds, nullptr};
    ASSERT_EQ(posix_spawnp(&live, "sleep", nullptr, nullptr, argv, environ), 0);
    reused = "b.IP.~ipconv-" + std::to_string(live) + "-3";
    busy = "c.IP.~ipconv-" + std::to_string(live) + "-4";
    fs::last_write_time(tmp.write("d/" + reused, "part"), now - std::chrono::hours(1));
    fs::last_write_time(tmp.write("d/" + busy, "part"), now + std::chrono::hours(1));
    kept.insert(busy);
  }
  const auto r = run({"d"});
  if (live > 0) {
    kill(live, SIGKILL);
    waitpid(live, nullptr, 0);
  }
  EXPECT_EQ(r.status, 0) << r.err;
  const fs::path base = fs::canonical(tmp.path());
  EXPECT_NE(r.err.find("\nRemoved leftover temporary file " +
                       test::shown_path(base / "d/a.IP.~ipconv-999999999-1") + "\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("\nPassed over leftover temporary file " +
                       test::shown_path(base / "d/.~ipconv-999999999-2") + "\n"),
            std::string::npos)
      << r.err;
  if (live > 0) {
    EXPECT_NE(r.err.find("\nRemoved leftover temporary file " + (base / "d" / reused).string() + "\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("\nPassed over temporary file " + (base / "d" / busy).string() +
                         ": another ipconv may be writing it\n"),
              std::string::npos)
        << r.err;
  }
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(tmp.path() / "d"))
    left.insert(entry.path().filename().string());
  EXPECT_EQ(left, kept);
}

// Starts the program with its standard output into a pipe that nobody reads
// yet: once the pipe is full, the run holds in the middle of a file, its
// output not yet in place. Returns the pid; `out` is the pipe's read end.
pid_t start_held(const std::vector<std::string>& args, const fs::path& cwd, int& out) {
  std::vector<std::string> words;
  if (const char* runner = std::getenv("IPCONV_RUNNER"); runner && *runner) {
    std::istringstream split(runner);
    for (std::string w; split >> w;) words.push_back(w);
  }
  words.push_back(test::program_under_test());
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  int fds[2];
  if (pipe(fds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  out = fds[0];
  return pid;
}

TEST_F(ConvertE2E, TwoRunsTogetherConvertOnlyInputs) {
  // .log and .txt names sort after their temporaries (A.IP.~ before A.LOG);
  // the long directory name fills the first run's pipe after a few files.
  const std::string dir = "t/" + std::string(150, 'd');
  std::set<std::string> inputs;
  for (int i = 0; i < 400; ++i) {
    const std::string name = "f" + std::to_string(i) + (i % 2 ? ".log" : ".txt");
    tmp.write(dir + "/" + name, std::to_string(i) + "\n");
    inputs.insert(name);
  }
  // The first run holds on its full pipe in the middle of a file while the
  // second run lists the directory and meets its temporary file.
  int held_out = -1;
  const pid_t held = start_held({"t", "-S"}, tmp.path(), held_out);
  ASSERT_GT(held, 0);
  pollfd full{held_out, POLLIN, 0};
  ASSERT_EQ(poll(&full, 1, 30000), 1);
  if (!test::running_under_wine()) {
    // Blocked in its write: the only wait of a run over small files.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      std::ifstream stat("/proc/" + std::to_string(held) + "/stat");
      std::string text((std::istreambuf_iterator<char>(stat)), {});
      const size_t paren = text.rfind(')');
      if (paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] == 'S') break;
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::yield();
    }
  }
  const auto second = run({"t"});
  std::string drained;
  char buffer[65536];
  for (ssize_t n; (n = read(held_out, buffer, sizeof buffer)) > 0;) drained.append(buffer, n);
  close(held_out);
  int wstatus = 0;
  waitpid(held, &wstatus, 0);
  EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
  EXPECT_EQ(second.status, 0) << second.err;

  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(tmp.path() / dir)) {
    const std::string name = entry.path().filename().string();
    left.insert(name);
    if (name.ends_with(".IP")) {
      const std::string number = name.substr(1, name.size() - 4);
      char hex[9];
      std::snprintf(hex, sizeof hex, "%08X", std::stoi(number));
      EXPECT_EQ(read_file(entry.path()),
                test::program_text(number + "|Hex|" + hex + "|IP-decimal|0.0." +
                                   std::to_string(std::stoi(number) >> 8) + "." +
                                   std::to_string(std::stoi(number) & 255) + "\n"))
          << name;
    }
  }
  std::set<std::string> wanted = inputs;
  for (const auto& name : inputs) wanted.insert(name.substr(0, name.find('.')) + ".IP");
  EXPECT_EQ(left, wanted);
}

TEST_F(ConvertE2E, DirectoriesThatCannotBeSearchedAreNamedAndTheRestConverted) {
  if (test::running_under_wine()) GTEST_SKIP() << "Wine runs the program as root here: no permission refuses it";
  tmp.write("d/a.txt", "1\n");
  tmp.write("d/sub/s.txt", "2\n");
  tmp.write("d/deny/x.txt", "3\n");
  tmp.write("d/listonly/y.txt", "4\n");
  tmp.write("locked/z.txt", "5\n");
  using fs::perms;
  for (const char* writable : {"d", "d/sub"}) fs::permissions(tmp.path() / writable, perms::all);
  for (const char* closed : {"d/deny", "locked"}) fs::permissions(tmp.path() / closed, perms::none);
  fs::permissions(tmp.path() / "d/listonly", perms::owner_read | perms::group_read | perms::others_read);
  test::RunOptions options;
  options.run_as_nobody = true;
  const auto r = run({"locked", "d"}, options);
  for (const char* dir : {"d/deny", "d/listonly", "locked"})
    fs::permissions(tmp.path() / dir, perms::owner_all);
  EXPECT_EQ(r.status, 2) << r.err;
  const fs::path base = fs::canonical(tmp.path());
  for (const char* dir : {"d/deny", "d/listonly", "locked"}) {
    const std::string note = "\nCan't search directory " + (base / dir).string() + ": Permission denied\n";
    const size_t at = r.err.find(note);
    EXPECT_NE(at, std::string::npos) << dir << "\n" << r.err;
    EXPECT_EQ(r.err.find(note, at + 1), std::string::npos) << "named twice: " << dir;
  }
  EXPECT_TRUE(fs::exists(tmp.path() / "d/a.IP"));
  EXPECT_TRUE(fs::exists(tmp.path() / "d/sub/s.IP"));
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
      "\xFF\xFE" + test::utf16_bytes("3139666412,a\r\n16909060\n", false),
      "\xFE\xFF" + test::utf16_bytes("1\n2", true) + "Z",
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
  tmp.write("d/le.csv", std::string("\xFF\xFE\0\0" "1\0\0\0\n\0\0\0", 12));
  tmp.write("d/be.csv", std::string("\0\0\xFE\xFF\0\0\0" "1\0\0\0\n", 12));
  const auto r = run({"d"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(read_file(tmp.path() / "d/mark.IP"),
            test::program_text("\xEF\xBB\xBF" "16909060,x|Hex|01020304|IP-decimal|1.2.3.4\n"));
  const fs::path base = fs::canonical(tmp.path());
  for (const char* name : {"d/le.csv", "d/be.csv"}) {
    const std::string shown = test::shown_path(base / name);
    EXPECT_NE(r.err.find("\nSkipped " + shown + ": UTF-32 text is not read\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find(shown), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(tmp.path() / "d/le.IP"));
  EXPECT_FALSE(fs::exists(tmp.path() / "d/be.IP"));

  const auto piped = run_filter({"-"}, std::string("\xFF\xFE\0\0" "1\0\0\0", 8));
  EXPECT_EQ(piped.status, 2);
  EXPECT_EQ(piped.out, "");
  EXPECT_EQ(piped.err, "\nSkipped standard input: UTF-32 text is not read\n");
}

// Every line of the output, decoded, is the 8-bit conversion of the line.
TEST_F(ConvertE2E, Utf16TextIsConvertedInItsOwnEncoding) {
  // As Windows PowerShell 5 writes it (Out-File, or >): little-endian, a
  // byte-order mark, CR LF.
  const std::string text = "3139666412,gw1.example.net\r\n16909060,b\r\n\r\n";
  tmp.write("d/shell.csv", "\xFF\xFE" + test::utf16_bytes(text, false));
  tmp.write("d/shell_8bit.csv", text);
  // An odd last byte is copied after the last line.
  tmp.write("d/odd.csv", "\xFE\xFF" + test::utf16_bytes("-1,x\n42", true) + "Z");
  tmp.write("d/odd_8bit.csv", "-1,x\n42");
  const auto r = run({"d"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(tmp.path() / "d/shell.IP"),
            "\xFF\xFE" + test::utf16_bytes(read_file(tmp.path() / "d/shell_8bit.IP"), false));
  EXPECT_EQ(read_file(tmp.path() / "d/odd.IP"),
            "\xFE\xFF" + test::utf16_bytes(read_file(tmp.path() / "d/odd_8bit.IP"), true) + "Z");
}

// One tree converted by a single thread and by four: every byte the user
// sees and every output the same. Under Wine the files only POSIX can make
// (links, a file or directory closed to the user) are left out.
TEST_F(ConvertE2E, FourThreadsGiveTheBytesOfOne) {
  const bool posix = !test::running_under_wine();
  const fs::path t = tmp.path() / "t";
  const auto make_tree = [&] {
    fs::remove_all(t);
    fs::remove(tmp.path() / "out.txt");
    fs::remove(tmp.path() / "acct.txt");
    for (int d = 0; d < 4; ++d)
      for (int f = 0; f < 15; ++f)
        tmp.write("t/d" + std::to_string(d) + "/sub/f" + std::to_string(f) + ".csv",
                  std::to_string(d * 1000 + f) + ",x\n");
    std::string big;
    for (int n = 0; n < 60000; ++n) big += std::to_string(3139666412u - n) + ",big\n";
    tmp.write("t/big.csv", big);  // several output blocks
    tmp.write("t/log.csv", "1\n");
    tmp.write("t/log.txt", "2\n");  // writes log.IP too: the later wins, with a note
    tmp.write("t/skip.tmp", "3\n");  // excluded
    tmp.write("t/seen.IP", "old\n");  // its own output
    tmp.write("t/kept.csv", "4\n");
    tmp.write("t/kept.IP", "protected\n");
    fs::permissions(t / "kept.IP", fs::perms(0444));  // read-only
    tmp.write("t/wide.csv", "\xFF\xFE" + test::utf16_bytes("3139666412,w\r\n-1\r\n", false));
    tmp.write("t/w32.csv", std::string("\xFF\xFE\0\0" "1\0\0\0", 8));  // not read
    if (posix) {
      fs::create_symlink(t / "missing", t / "gone.csv");  // cannot be opened
      fs::create_symlink("log.IP", t / "via.csv");  // reads what log.txt wrote
      tmp.write("t/locked.csv", "5\n");
      fs::permissions(t / "locked.csv", fs::perms::none);  // cannot be read
      fs::create_directories(t / "closed");
      fs::permissions(t / "closed", fs::perms::none);  // cannot be searched
      // As the user nobody, where the tests run as root.
      fs::permissions(tmp.path(), fs::perms::all);
      for (const auto& entry : fs::recursive_directory_iterator(t))
        if (entry.is_directory() && entry.path().filename() != "closed")
          fs::permissions(entry.path(), fs::perms::all);
      fs::permissions(t, fs::perms::all);
    }
  };
  struct Seen {
    int status;
    std::string out, err, output_file, record;
    std::map<std::string, std::string> files;
  };
  const auto without_times = [](const std::string& text) {
    std::istringstream lines(text);
    std::string kept;
    for (std::string line; std::getline(lines, line);)
      if (line.find("Started ") == std::string::npos) kept += line + "\n";
    return kept;
  };
  const auto convert = [&](const char* threads) {
    make_tree();
    test::RunOptions options;
    options.env = {{"IPCONV_JOBS", threads}};  // the command lines of both runs the same
    options.run_as_nobody = posix;
    const auto r = run({"t", "-x", "*.tmp", "-o", "out.txt", "-1", "acct.txt", "-v"}, options);
    Seen seen{r.status, r.out, r.err, read_file(tmp.path() / "out.txt"),
              without_times(read_file(tmp.path() / "acct.txt")), {}};
    seen.output_file = without_times(seen.output_file);
    for (const auto& entry : fs::recursive_directory_iterator(t))
      if (entry.is_regular_file())
        seen.files[fs::relative(entry.path(), t).string()] = read_file(entry.path());
    return seen;
  };
  const Seen one = convert("1");
  const Seen four = convert("4");
  if (posix) fs::permissions(t / "closed", fs::perms::all);

  // The single thread's run holds what the tree was made for.
  EXPECT_EQ(one.status, 3) << one.err;
  EXPECT_NE(one.err.find("replaces the one written from"), std::string::npos) << one.err;
  EXPECT_NE(one.err.find("seen.IP: it is its own output file"), std::string::npos) << one.err;
  EXPECT_NE(one.err.find("kept.IP: read-only"), std::string::npos) << one.err;
  EXPECT_NE(one.err.find("w32.csv: UTF-32 text is not read"), std::string::npos) << one.err;
  if (posix) {
    EXPECT_NE(one.err.find("Can't open input file"), std::string::npos) << one.err;
    EXPECT_NE(one.err.find("Can't search directory"), std::string::npos) << one.err;
    EXPECT_EQ(one.files.at("via.IP"),
              "2|Hex|00000002|IP-decimal|0.0.0.2|Hex|00000002|IP-decimal|0.0.0.2\n");
  }
  EXPECT_EQ(one.files.count("skip.IP"), 0u);
  const std::string& big = one.files.at("big.IP");
  EXPECT_EQ(std::count(big.begin(), big.end(), '\n'), 60000);

  EXPECT_EQ(four.status, one.status);
  EXPECT_EQ(four.out, one.out);
  EXPECT_EQ(four.err, one.err);
  EXPECT_EQ(four.output_file, one.output_file);
  EXPECT_EQ(four.record, one.record);
  EXPECT_EQ(four.files, one.files);
}

}  // namespace
