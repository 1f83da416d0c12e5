// The built program under hostile conditions: outputs that cannot be
// written, inputs that vanish or cannot be read, special files, link loops
// and deep trees, binary input, odd names, and settings sources full of
// junk or far beyond their limits. Each run is bounded in time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using test::read_file;

namespace {

std::string converted(const std::string& line, const std::string& suffix) {
  return line + "|Hex|" + suffix + test::program_text("\n");
}
const std::string kZero = "00000000|IP-decimal|0.0.0.0";

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Temporary files the program writes beside an output before putting it in
// place; none may be left behind.
std::vector<std::string> leftovers(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.find('~') != std::string::npos) names.push_back(name);
  }
  return names;
}

// The faults below meet a single thread and several threads alike.
const char* const kThreads[] = {"--JOBS=1", "--JOBS=4"};

std::string repeated(const std::string& part, size_t times) {
  std::string out;
  out.reserve(part.size() * times);
  for (size_t i = 0; i < times; ++i) out += part;
  return out;
}

class HardeningE2E : public testing::Test {
 protected:
  test::RunResult run(const std::vector<std::string>& args, test::RunOptions options = {}) {
    options.cwd = tmp.path();
    options.unset_env = {"ACCT", "SILENT", "RESET"};
    if (options.timeout_seconds == 60) options.timeout_seconds = 20;
    // Wine's start alone can take seconds on a loaded machine: a hang there
    // is still caught, only later.
    if (test::running_under_wine()) options.timeout_seconds = std::max(options.timeout_seconds, 60);
    return test::run_program(args, options);
  }

  std::string base() const { return fs::canonical(tmp.path()).string(); }

  test::TempDir tmp;
};

// ---- Outputs that cannot be written completely ---------------------------

TEST_F(HardeningE2E, FileSizeLimitKeepsTheEarlierOutputAndGivesStatus3) {
  if (test::running_under_wine()) GTEST_SKIP() << "a POSIX file-size limit";
  // Whether or not the caller ignores SIGXFSZ, the limit is a write error.
  for (const char* threads : kThreads)
  for (const bool signal_default : {false, true}) {
    SCOPED_TRACE(signal_default ? "SIGXFSZ at its default" : "SIGXFSZ ignored");
    SCOPED_TRACE(threads);
    fs::remove_all(tmp.path() / "d");
    tmp.write("d/a.txt", repeated("1\n", 20000));  // about 700 KB of output
    tmp.write("d/a.IP", "earlier\n");
    tmp.write("d/b.txt", "2\n");
    test::RunOptions options;
    options.file_size_limit_bytes = 64 * 1024;
    options.file_size_signal_default = signal_default;
    const auto r = run({"d/*.txt", threads}, options);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("Error writing output file " + base() + "/d/a.IP"), std::string::npos)
        << r.err;
    EXPECT_EQ(read_file(tmp.path() / "d/a.IP"), "earlier\n");
    // The run goes on with the next file.
    EXPECT_EQ(read_file(tmp.path() / "d/b.IP"), converted("2", "00000002|IP-decimal|0.0.0.2"));
    EXPECT_EQ(leftovers(tmp.path() / "d"), std::vector<std::string>{});
  }
}

TEST_F(HardeningE2E, ReplacedOutputKeepsItsPermissions) {
  if (test::running_under_wine()) GTEST_SKIP() << "Wine shows POSIX modes only as the read-only attribute";
  for (const fs::perms mode : {fs::perms(0600), fs::perms(0640)}) {
    tmp.write("d/a.txt", "1\n");
    tmp.write("d/a.IP", "earlier\n");
    fs::permissions(tmp.path() / "d/a.IP", mode);
    const auto r = run({"d/a.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(tmp.path() / "d/a.IP"), converted("1", "00000001|IP-decimal|0.0.0.1"));
    EXPECT_EQ(fs::status(tmp.path() / "d/a.IP").permissions(), mode);
  }
}

TEST_F(HardeningE2E, ReadOnlyOutputIsLeftAsItWasWithStatus3) {
  for (const char* threads : kThreads) {
  SCOPED_TRACE(threads);
  fs::remove_all(tmp.path() / "d");
  tmp.write("d/a.txt", "1\n");
  tmp.write("d/a.IP", "protected\n");
  fs::permissions(tmp.path() / "d/a.IP", fs::perms(0444));
  tmp.write("d/b.txt", "2\n");
  const auto r = run({"d/*.txt", threads});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("\nCan't create output file " + test::shown_path(tmp.path() / "d/a.IP") +
                       ": read-only\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(read_file(tmp.path() / "d/a.IP"), "protected\n");
  EXPECT_EQ(fs::status(tmp.path() / "d/a.IP").permissions(), fs::perms(0444));
  EXPECT_EQ(read_file(tmp.path() / "d/b.IP"), converted("2", "00000002|IP-decimal|0.0.0.2"));
  EXPECT_EQ(leftovers(tmp.path() / "d"), std::vector<std::string>{});
  fs::permissions(tmp.path() / "d/a.IP", fs::perms(0644));
  }
}

// A small file system of its own, mounted for the test; skipped where the
// test may not mount one.
class SmallFileSystem {
 public:
  SmallFileSystem(const fs::path& dir, const std::string& size) : dir_(dir) {
    fs::create_directories(dir);
    const std::string command =
        "mount -t tmpfs -o size=" + size + " ipconv-test '" + dir.string() + "' 2>/dev/null";
    mounted_ = std::system(command.c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) std::system(("umount '" + dir_.string() + "' 2>/dev/null || umount -l '" +
                               dir_.string() + "'").c_str());
  }
  bool mounted() const { return mounted_; }

 private:
  fs::path dir_;
  bool mounted_ = false;
};

TEST_F(HardeningE2E, FullFileSystemKeepsTheEarlierOutputAndGivesStatus3) {
  if (test::running_under_wine()) GTEST_SKIP() << "a POSIX file system";
  for (const char* threads : kThreads) {
    SCOPED_TRACE(threads);
    SmallFileSystem small(tmp.path() / "small", "256k");
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    tmp.write("small/a.txt", repeated("1\n", 50000));  // 100 KB in, about 1.7 MB out
    tmp.write("small/a.IP", "earlier\n");
    tmp.write("small/b.txt", "2\n");
    const auto r = run({"small/*.txt", threads});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("Error writing output file " + base() + "/small/a.IP"), std::string::npos)
        << r.err;
    EXPECT_EQ(read_file(tmp.path() / "small/a.IP"), "earlier\n");
    // The space of the failed output is given back, so the next file fits
    // once it is its turn alone. Converted beside it, b.IP may meet the
    // full file system too: then it is absent, and said to be.
    const std::string b = converted("2", "00000002|IP-decimal|0.0.0.2");
    if (threads == std::string("--JOBS=1") || fs::exists(tmp.path() / "small/b.IP")) {
      EXPECT_EQ(read_file(tmp.path() / "small/b.IP"), b);
    } else {
      EXPECT_NE(r.err.find("Error writing output file " + base() + "/small/b.IP"),
                std::string::npos) << r.err;
    }
    EXPECT_EQ(leftovers(tmp.path() / "small"), std::vector<std::string>{});
  }
}

TEST_F(HardeningE2E, AccountingOrOutputFileOnAFullFileSystemGivesStatus3) {
  SmallFileSystem small(tmp.path() / "small", "64k");
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  std::ofstream(tmp.path() / "small/fill") << repeated("x", 1024 * 1024);  // fills it up
  tmp.write("d/a.txt", "2\n");
  const struct {
    const char* letter;
    const char* name;
    const char* message;
  } cases[] = {{"-1", "acct.txt", "\nError writing accounting file "},
               {"-o", "out.txt", "\nError writing output file "}};
  for (const auto& c : cases) {
    const auto r = run({"d", "-v", c.letter, "small/" + std::string(c.name), "-.ini"});
    EXPECT_EQ(r.status, 3) << c.letter << r.err;
    const std::string shown = test::shown_path(fs::path(base()) / "small" / c.name);
    EXPECT_NE(r.err.find(c.message + shown + ": "), std::string::npos) << r.err;
    // The conversion itself is not harmed.
    EXPECT_EQ(read_file(tmp.path() / "d/a.IP"), converted("2", "00000002|IP-decimal|0.0.0.2"));
  }
}

TEST_F(HardeningE2E, StandardOutputThatCannotBeWrittenGivesStatus3) {
  tmp.write("d/a.txt", "2\n");
  test::RunOptions options;
  options.stdout_file = "/dev/full";
  const auto r = run({"d"}, options);
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("\nError writing standard output: "), std::string::npos) << r.err;
  EXPECT_EQ(read_file(tmp.path() / "d/a.IP"), converted("2", "00000002|IP-decimal|0.0.0.2"));
}

TEST_F(HardeningE2E, MemoryThatCannotBeHadEndsWithStatus6) {
  if (test::running_under_wine()) GTEST_SKIP() << "a POSIX memory limit";
  tmp.write("d/a.txt", "3139666412\n");
  // One file a run: a.IP of the run before is removed first.
  const auto run_within = [this](long kib, const std::vector<std::string>& args) {
    fs::remove(tmp.path() / "d/a.IP");
    test::RunOptions options;
    options.memory_limit_kib = kib;
    return run(args, options);
  };
  // The least address space the run completes in, found to 64 KiB; below
  // it the program may fail to load (status 127) or to get its memory,
  // but is never ended by a signal.
  long enough = 64 * 1024;
  if (run_within(enough, {"d", "-.ini"}).status != 0)
    GTEST_SKIP() << "does not run in 64 MiB (sanitizers?)";
  long too_little = 1024;
  while (enough - too_little > 64) {
    const long middle = (enough + too_little) / 2;
    const auto r = run_within(middle, {"d", "-.ini"});
    ASSERT_NE(r.status, -1) << "ended by a signal within " << middle << " KiB: " << r.err;
    (r.status == 0 ? enough : too_little) = middle;
  }
  // Just below it the conversion's blocks cannot be had: start-up has
  // passed, so the failure is the general one.
  const auto r = run_within(enough - 256, {"d", "-.ini"});
  EXPECT_EQ(r.status, 6) << r.err;
  EXPECT_NE(r.err.find("\nInsufficient memory\n"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(tmp.path() / "d/a.IP"));

  // Several files on four threads, each of which needs a stack and blocks
  // of its own: whatever memory there is, the run ends with its status,
  // each output complete or absent, never by a signal.
  for (int i = 0; i < 12; ++i) tmp.write("d/m" + std::to_string(i) + ".txt", repeated("7\n", 20000));
  const std::string out = converted("7", "00000007|IP-decimal|0.0.0.7");
  for (long kib = enough; kib < enough + 48 * 1024; kib += 2048) {
    SCOPED_TRACE(kib);
    const auto many = run_within(kib, {"d", "-.ini", "--JOBS=4"});
    ASSERT_NE(many.status, -1) << many.err;
    EXPECT_TRUE(many.status == 0 || many.status == 6) << many.status << many.err;
    for (int i = 0; i < 12; ++i) {
      const fs::path ip = tmp.path() / "d" / ("m" + std::to_string(i) + ".IP");
      if (fs::exists(ip)) {
        EXPECT_EQ(fs::file_size(ip), 20000 * out.size()) << ip;
      }
      fs::remove(ip);
    }
    EXPECT_EQ(leftovers(tmp.path() / "d"), std::vector<std::string>{});
  }
}

// ---- Inputs that vanish or cannot be read --------------------------------

TEST_F(HardeningE2E, InputsChangedBetweenTheWalkAndTheirConversion) {
  if (test::running_under_wine()) GTEST_SKIP() << "POSIX special files";
  const fs::path d = tmp.path() / "d";
  for (const char* threads : kThreads) {
    SCOPED_TRACE(threads);
    fs::remove_all(d);
    // The reports of the files listed first fill the one page of pipe the
    // run is held on; the files listed last are changed meanwhile, after
    // the walk has listed them and before their turn.
    for (int i = 100; i < 300; ++i) tmp.write("d/a" + std::to_string(i) + ".txt", "1\n");
    for (const char* name : {"b.txt", "c.txt", "d.txt", "e.txt"})
      tmp.write(std::string("d/") + name, "7\n");
    test::RunOptions options;
    options.cwd = tmp.path();
    options.unset_env = {"ACCT", "SILENT", "RESET"};
    options.timeout_seconds = 20;
    test::HeldRun held({"d/*.txt", threads}, options);
    ASSERT_TRUE(held.wait_until_held());
    std::error_code ec;
    fs::remove(d / "b.txt", ec);                         // gone
    fs::remove(d / "c.txt", ec);
    test::make_fifo(d / "c.txt");                        // a FIFO nobody writes to
    fs::remove(d / "d.txt", ec);
    fs::create_directory(d / "d.txt", ec);               // a directory
    fs::remove(d / "e.txt", ec);
    fs::create_symlink(d / "missing", d / "e.txt", ec);  // a dangling link
    const auto r = held.finish();

    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(read_file(d / "a299.IP"), converted("1", "00000001|IP-decimal|0.0.0.1"));
    for (const char* name : {"b.IP", "c.IP", "d.IP", "e.IP"}) EXPECT_FALSE(fs::exists(d / name)) << name;
    EXPECT_NE(r.err.find("\nSkipped " + base() + "/d/c.txt: not a regular file\n"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(base() + "/d/d.txt"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(base() + "/d/e.txt"), std::string::npos) << r.err;
    EXPECT_EQ(leftovers(d), std::vector<std::string>{});
  }
}

TEST_F(HardeningE2E, InputThatFailsWhileReadIsReportedAndLeavesNoOutput) {
  if (test::running_under_wine()) GTEST_SKIP() << "POSIX special files";
  // The program's own memory file opens, but reading its first page fails.
  for (const char* threads : kThreads) {
    SCOPED_TRACE(threads);
    fs::remove_all(tmp.path() / "d");
    fs::create_directory(tmp.path() / "d");
    fs::create_symlink("/proc/self/mem", tmp.path() / "d/mem.txt");
    tmp.write("d/mem.IP", "earlier\n");
    tmp.write("d/ok.txt", "1\n");
    const auto r = run({"d/*.txt", threads});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(base() + "/d/mem.txt"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(tmp.path() / "d/mem.IP"), "earlier\n");
    EXPECT_EQ(read_file(tmp.path() / "d/ok.IP"), converted("1", "00000001|IP-decimal|0.0.0.1"));
    EXPECT_EQ(leftovers(tmp.path() / "d"), std::vector<std::string>{});
  }
}

TEST_F(HardeningE2E, FifoSocketAndDanglingLinkInAWalkedDirectoryDoNotHang) {
  if (test::running_under_wine()) GTEST_SKIP() << "POSIX special files";
  tmp.write("d/a.txt", "1\n");
  tmp.write("d/z.txt", "2\n");
  ASSERT_TRUE(test::make_fifo(tmp.path() / "d/fifo.txt"));
  ASSERT_TRUE(test::make_socket_file(tmp.path() / "d/sock.txt"));
  fs::create_symlink(tmp.path() / "d/gone", tmp.path() / "d/link.txt");
  test::RunOptions options;
  options.timeout_seconds = 10;
  for (const char* threads : kThreads) {
    SCOPED_TRACE(threads);
    const auto r = run({"d", threads}, options);
    ASSERT_NE(r.status, -1) << r.err;
    // The dangling link is a file that cannot be opened; the others are not
    // files to the walk at all.
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("link.txt"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(tmp.path() / "d/a.IP"), converted("1", "00000001|IP-decimal|0.0.0.1"));
    for (const char* name : {"fifo.IP", "sock.IP", "link.IP"})
      EXPECT_FALSE(fs::exists(tmp.path() / "d" / name)) << name;
    EXPECT_EQ(r.out.find("fifo"), std::string::npos);
    EXPECT_EQ(r.out.find("sock"), std::string::npos);
  }

  // Named on the command line, each is said to be what it is.
  for (const char* named : {"d/fifo.txt", "d/sock.txt"}) {
    const auto n = run({named, "-r"}, options);
    EXPECT_EQ(n.status, 2) << named << n.err;
    EXPECT_NE(n.err.find("\nSkipped " + std::string(named) + ": not a regular file\n"),
              std::string::npos)
        << n.err;
    EXPECT_EQ(n.err.find("No such file"), std::string::npos) << n.err;
  }
}

TEST_F(HardeningE2E, LinksMetInTheTreeAreNotWalkedThroughNamedOnesAre) {
  if (test::running_under_wine())
    GTEST_SKIP() << "POSIX links; Wine 8 shows them as plain directories and cannot make a junction";
  tmp.write("top.csv", "1\n");
  tmp.write("other/o.csv", "2\n");
  tmp.write("real/in.csv", "3\n");
  fs::create_directory_symlink("..", tmp.path() / "real/up");
  fs::create_directory_symlink(tmp.path() / "other", tmp.path() / "real/away");
  fs::create_symlink("../other/o.csv", tmp.path() / "real/file.csv");
  auto r = run({"real"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(tmp.path() / "real/in.IP"));
  // A file reached through a link is converted, its output beside the link.
  EXPECT_EQ(read_file(tmp.path() / "real/file.IP"), converted("2", "00000002|IP-decimal|0.0.0.2"));
  EXPECT_FALSE(fs::exists(tmp.path() / "top.IP"));
  EXPECT_FALSE(fs::exists(tmp.path() / "other/o.IP"));
  EXPECT_EQ(count(r.out, "Input file"), 2u) << r.out;

  // Named as a file argument, with -p or in the INI file, a link is followed.
  const struct {
    std::vector<std::string> args;
    const char* ini;
  } named[] = {{{"real/away"}, ""}, {{"-p", "real/away"}, ""}, {{"-v"}, "PATH=real/away\n"}};
  for (const auto& n : named) {
    fs::remove(tmp.path() / "other/o.IP");
    fs::remove(tmp.path() / "ipconv.ini");
    if (*n.ini != '\0') tmp.write("ipconv.ini", n.ini);
    r = run(n.args);
    EXPECT_EQ(r.status, 0) << n.args.back() << r.err;
    EXPECT_NE(r.out.find("Input file  " + base() + "/real/away/o.csv\n"), std::string::npos)
        << n.args.back() << r.out;
    EXPECT_EQ(read_file(tmp.path() / "other/o.IP"), converted("2", "00000002|IP-decimal|0.0.0.2"));
  }
}

TEST_F(HardeningE2E, DirectoryLinkLoopsEnd) {
  if (test::running_under_wine()) GTEST_SKIP() << "POSIX links";
  tmp.write("d/a.txt", "1\n");
  tmp.write("d/sub/b.txt", "2\n");
  fs::create_directory_symlink("..", tmp.path() / "d/sub/up");
  fs::create_directory_symlink(".", tmp.path() / "d/self");
  fs::create_directory_symlink(tmp.path() / "d", tmp.path() / "d/sub/root");
  test::RunOptions options;
  options.timeout_seconds = 10;
  const auto r = run({"d/*.txt"}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  // Each file once, by the path the walk first came to it.
  EXPECT_EQ(count(r.out, "Input file"), 2u) << r.out;
  EXPECT_NE(r.out.find("Input file  " + base() + "/d/sub/b.txt\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Input file  " + base() + "/d/a.txt\n"), std::string::npos) << r.out;
}

TEST_F(HardeningE2E, TreeDeeperThanThePathLimitIsReportedAndTheRestConverted) {
  if (test::running_under_wine()) GTEST_SKIP() << "the POSIX path limit";
  // Twenty levels of 250-character names: about 5,000 bytes, more than a
  // path may have here. Made level by level from inside.
  const std::string level(250, 'd');
  {
    test::ScopedCwd cwd(tmp.path());
    for (int i = 0; i < 20; ++i) {
      fs::create_directory(level);
      fs::current_path(level);
      std::ofstream(std::string("f.txt")) << i << "\n";
    }
  }
  struct Removal {  // remove_all works with full paths, which are too long here
    fs::path top;
    ~Removal() { std::system(("rm -rf '" + top.string() + "'").c_str()); }
  } removal{tmp.path() / level};

  test::RunOptions options;
  options.timeout_seconds = 10;
  const auto r = run({"."}, options);
  ASSERT_NE(r.status, -1) << r.err;
  // The levels within the limit are converted.
  const size_t reachable = count(r.out, "Input file");
  EXPECT_GE(reachable, 10u);
  EXPECT_LT(reachable, 20u);
  EXPECT_NE(r.err.find("too long"), std::string::npos) << "nothing says that levels were left out";
}

// ---- Binary input --------------------------------------------------------

TEST_F(HardeningE2E, NulBytesHighBytesAndCarriageReturnsAreCopiedByteForByte) {
  tmp.write("d/nul.txt", std::string("12\0 34\n\0\n5\0", 11));
  std::string high;
  for (int b = 0x80; b <= 0xFF; ++b) high.push_back(static_cast<char>(b));
  tmp.write("d/high.txt", "7" + high + "\n" + high);
  tmp.write("d/cr.txt", std::string(40000, '\r'));
  tmp.write("d/crlf.txt", "\r\r\n\r\n1\r");
  const auto r = run({"d"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(tmp.path() / "d/nul.IP"),
            converted(std::string("12\0 34", 6), "0000000C|IP-decimal|0.0.0.12") +
                converted(std::string(1, '\0'), kZero) +
                converted(std::string("5\0", 2), "00000005|IP-decimal|0.0.0.5"));
  EXPECT_EQ(read_file(tmp.path() / "d/high.IP"),
            converted("7" + high, "00000007|IP-decimal|0.0.0.7") + converted(high, kZero));
  // A lone CR is line text: 40,000 of them are one line, cut into pieces.
  EXPECT_EQ(read_file(tmp.path() / "d/cr.IP"),
            converted(std::string(32767, '\r'), kZero) + converted(std::string(7233, '\r'), kZero));
  EXPECT_EQ(read_file(tmp.path() / "d/crlf.IP"),
            converted("\r", kZero) + converted("", kZero) + converted("1\r", "00000001|IP-decimal|0.0.0.1"));
}

TEST_F(HardeningE2E, HundredMebibyteLineWithoutLineEndKeepsMemoryFlat) {
  if (test::running_under_wine()) GTEST_SKIP() << "the memory of Wine, not of the program";
  tmp.write("d/small.txt", "1\n");
  const fs::path line = tmp.path() / "d/line.txt";
  const uintmax_t size = 100u << 20;
  { std::ofstream(line, std::ios::binary); }
  fs::resize_file(line, size);  // NUL bytes, stored as a hole
  const auto small = run({"d/small.txt"});
  ASSERT_EQ(small.status, 0) << small.err;
  const auto r = run({"d/line.txt"});
  ASSERT_EQ(r.status, 0) << r.err;

  const size_t pieces = (size + 32766) / 32767;
  const std::string suffix = "|Hex|" + kZero + "\n";
  const fs::path out = tmp.path() / "d/line.IP";
  EXPECT_EQ(fs::file_size(out), size + pieces * suffix.size());
  std::ifstream in(out, std::ios::binary);
  const size_t last = size - (pieces - 1) * 32767;
  std::string tail(last + suffix.size(), 'x');
  in.seekg(-static_cast<std::streamoff>(tail.size()), std::ios::end);
  in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
  EXPECT_EQ(tail, std::string(last, '\0') + suffix);

  // Memory does not grow with the line: the same peak as for one short
  // line, and under 16 MiB where the program itself is small (a sanitizer
  // build starts above that).
  RecordProperty("peak_rss_kib_100mib_line", static_cast<int>(r.peak_rss_kib));
  EXPECT_LT(r.peak_rss_kib, small.peak_rss_kib + 8 * 1024);
  if (small.peak_rss_kib < 8 * 1024) {
    EXPECT_LT(r.peak_rss_kib, 16 * 1024);
  }
  fs::remove(out);
}

TEST_F(HardeningE2E, DirectoryOfManyEntriesIsWalkedInFewBytesPerEntry) {
  if (test::running_under_wine()) GTEST_SKIP() << "the memory of Wine, not of the program";
  tmp.write("small/keep.txt", "1\n");
  const auto small = run({"small/*.*", "-x", "F*"});
  ASSERT_EQ(small.status, 0) << small.err;
  // A sanitizer build starts above this and its allocator holds on to what
  // is freed: its peak says nothing of the program's.
  if (small.peak_rss_kib >= 8 * 1024) GTEST_SKIP() << "a sanitizer build";
  // Empty files, all listed and passed over by the exclusion but the last.
  constexpr int kEntries = 200000;
  const fs::path dir = tmp.path() / "d";
  fs::create_directory(dir);
  char name[16];
  for (int i = 0; i < kEntries; ++i) {
    std::snprintf(name, sizeof name, "f%07d.txt", i);
    std::ofstream(dir / name, std::ios::binary);
  }
  tmp.write("d/keep.txt", "1\n");
  const auto r = run({"d/*.*", "-x", "F*"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir / "keep.IP"), converted("1", "00000001|IP-decimal|0.0.0.1"));
  EXPECT_FALSE(fs::exists(dir / "f0000000.IP"));

  // The names are held while the directory is walked, and little beside
  // them: under 100 bytes an entry (each name here is 24 bytes of UTF-16).
  RecordProperty("peak_rss_kib_200000_entries", static_cast<int>(r.peak_rss_kib));
  EXPECT_LT((r.peak_rss_kib - small.peak_rss_kib) * 1024, 100L * kEntries);
}

// ---- Names ---------------------------------------------------------------

TEST_F(HardeningE2E, OddNamesGetTheirOwnOutputNames) {
  if (test::running_under_wine()) GTEST_SKIP() << "names Windows does not allow";
  const std::vector<std::pair<std::string, std::string>> names = {
      {"caf\xe9\xff.txt", "caf\xe9\xff.IP"},  // not UTF-8
      {"two\nlines.txt", "two\nlines.IP"},
      {"-v.txt", "-v.IP"},
      {"--APP.csv", "--APP.IP"},
      {"-", "-.IP"},
      {"a*b?[1].txt", "a*b?[1].IP"},
      {"spaces and 'quotes'.log", "spaces and 'quotes'.IP"},
      {"trail.", "trail.IP"},  // a trailing dot or blank: no Windows name
      {"notes ", "notes .IP"},
  };
  for (const auto& [name, output] : names) tmp.write("d/" + name, "5\n");
  const auto r = run({"d"});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const auto& [name, output] : names) {
    EXPECT_EQ(read_file(tmp.path() / "d" / output), converted("5", "00000005|IP-decimal|0.0.0.5"))
        << output;
    EXPECT_NE(r.out.find("Input file  " + base() + "/d/" + name + "\n"), std::string::npos) << name;
  }
  // Named, such a file is found as it is.
  const auto named = run({"d/trail."});
  EXPECT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(named.out, "\nInput file  " + base() + "/d/trail.\nOutput file " + base() + "/d/trail.IP\n");
}

TEST_F(HardeningE2E, LongestNamesAreConvertedWhereTheOutputNameFits) {
  if (test::running_under_wine()) GTEST_SKIP() << "POSIX name limits";
  const std::string longest(251, 'n');          // 255 bytes with ".txt"
  const std::string bare(252, 'b');             // 255 bytes with ".IP"
  tmp.write("d/" + longest + ".txt", "1\n");
  tmp.write("d/" + bare, "2\n");
  const auto r = run({"d"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(tmp.path() / "d" / (longest + ".IP")), converted("1", "00000001|IP-decimal|0.0.0.1"));
  EXPECT_EQ(read_file(tmp.path() / "d" / (bare + ".IP")), converted("2", "00000002|IP-decimal|0.0.0.2"));
}

TEST_F(HardeningE2E, OutputNameTooLongForTheFileSystemIsReported) {
  if (test::running_under_wine()) GTEST_SKIP() << "POSIX name limits";
  const std::string bare(255, 'b');  // its .IP name would be 258 bytes
  for (const char* threads : kThreads) {
    SCOPED_TRACE(threads);
    fs::remove_all(tmp.path() / "d");
    tmp.write("d/" + bare, "2\n");
    tmp.write("d/ok.txt", "1\n");
    const auto r = run({"d", threads});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find(bare + ".IP"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(tmp.path() / "d/ok.IP"));
    EXPECT_EQ(leftovers(tmp.path() / "d"), std::vector<std::string>{});
  }
}

// ---- Settings sources with hostile content --------------------------------

TEST_F(HardeningE2E, IniFileOfBinaryJunkDoesNotStopTheRun) {
  std::mt19937 random(20261208);
  std::string junk;
  for (int i = 0; i < 64 * 1024; ++i) junk.push_back(static_cast<char>(random() & 0xFF));
  tmp.write("ipconv.ini", junk);
  tmp.write("d/a.txt", "16909060\n");
  const auto r = run({"d/a.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(tmp.path() / "d/a.IP"), converted("16909060", "01020304|IP-decimal|1.2.3.4"));
}

TEST_F(HardeningE2E, IniListsBeyondTheirRoomAreCut) {
  std::string ini = "PATH=d\nEXC=F3.TXT\n";
  for (int i = 0; i < 200; ++i) {
    ini += "FILE=f" + std::to_string(i) + ".txt\n";
    ini += "EXC=NOPE" + std::to_string(i) + "\n";
    ini += "PATH=p" + std::to_string(i) + "\n";
  }
  ini += "COMMENT=" + std::string(2000, 'c') + "\n";
  tmp.write("ipconv.ini", ini);
  for (const char* name : {"f1.txt", "f3.txt", "f78.txt", "f79.txt", "f150.txt", "other.csv"})
    tmp.write(std::string("d/") + name, "1\n");
  const auto r = run({"d"});
  EXPECT_EQ(r.status, 0) << r.err;
  // The first 79 patterns are kept: f0 to f78.
  EXPECT_TRUE(fs::exists(tmp.path() / "d/f1.IP"));
  EXPECT_TRUE(fs::exists(tmp.path() / "d/f78.IP"));
  EXPECT_FALSE(fs::exists(tmp.path() / "d/f79.IP"));
  EXPECT_FALSE(fs::exists(tmp.path() / "d/f150.IP"));
  EXPECT_FALSE(fs::exists(tmp.path() / "d/other.IP"));
  EXPECT_FALSE(fs::exists(tmp.path() / "d/f3.IP"));  // excluded
}

TEST_F(HardeningE2E, IniLineOfOneMebibyteIsReadInPieces) {
  // Every 259-character piece of the line holds RECURSE with OFF after its
  // first '=', so the pieces switch recursion off.
  tmp.write("ipconv.ini", repeated("RECURSE=OFF ", (1 << 20) / 12) + "\n");
  tmp.write("d/a.txt", "1\n");
  tmp.write("d/sub/b.txt", "2\n");
  test::RunOptions options;
  options.timeout_seconds = 10;
  const auto r = run({"d"}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(tmp.path() / "d/a.IP"));
  EXPECT_FALSE(fs::exists(tmp.path() / "d/sub/b.IP"));
}

TEST_F(HardeningE2E, TenThousandArgumentsAreAllRead) {
  if (test::running_under_wine()) GTEST_SKIP() << "a Windows command line holds at most 32,767 characters";
  tmp.write("d/a.txt", "1\n");
  tmp.write("d/sub/b.txt", "2\n");
  // 9,999 toggles of recursion leave it off.
  std::vector<std::string> args = {"d"};
  args.insert(args.end(), 9999, "-r");
  auto r = run(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(tmp.path() / "d/a.IP"));
  EXPECT_FALSE(fs::exists(tmp.path() / "d/sub/b.IP"));

  // 10,000 file arguments: the lists take what fits. The names that were
  // taken and do not exist are named, hence status 2.
  fs::remove(tmp.path() / "d/a.IP");
  args = {"d/a.txt"};
  for (int i = 1; i < 10000; ++i) args.push_back("d/n" + std::to_string(i) + ".txt");
  r = run(args);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("\nNo such file: d/n1.txt\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(tmp.path() / "d/a.IP"));
}

TEST_F(HardeningE2E, ThousandExcludePatternsAreCutAndStayFast) {
  const std::string long_name(200, 'a');
  for (const std::string& name : {long_name + ".txt", std::string("skip.tmp"), std::string("late.txt"),
                                 std::string("keep.txt")})
    tmp.write("d/" + name, "1\n");
  std::vector<std::string> args = {"d", "-x"};
  for (int i = 0; i < 1000; ++i) {
    if (i == 0)
      args.push_back("*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*B");  // almost matches the long name
    else if (i == 50)
      args.push_back("*.tmp");
    else if (i == 500)
      args.push_back("late.txt");  // beyond the 78 kept
    else
      args.push_back("nope" + std::to_string(i));
  }
  test::RunOptions options;
  options.timeout_seconds = 10;
  const auto r = run(args, options);
  ASSERT_NE(r.status, -1) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE((r.out + r.err).find("\nYou have too many -eXclude file types.\nMax exclude types is 80\n"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(tmp.path() / "d" / (long_name + ".IP")));
  EXPECT_FALSE(fs::exists(tmp.path() / "d/skip.IP"));
  EXPECT_TRUE(fs::exists(tmp.path() / "d/late.IP"));
  EXPECT_TRUE(fs::exists(tmp.path() / "d/keep.IP"));
}

TEST_F(HardeningE2E, HundredMebibyteAccountingFileIsCutAtItsNul) {
  const std::string half = repeated("an earlier run of the tool family\n", (50u << 20) / 34);
  {
    std::ofstream out(tmp.path() / "acct.txt", std::ios::binary);
    out << half << '\0' << half;
  }
  tmp.write("d/a.txt", "1\n");
  test::RunOptions options;
  options.timeout_seconds = 10;
  const auto r = run({"d", "-1", "acct.txt"}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(tmp.path() / "d/a.IP"));
  const std::string acct = read_file(tmp.path() / "acct.txt");
  ASSERT_GT(acct.size(), half.size());
  EXPECT_EQ(acct.compare(0, half.size(), half), 0);
  EXPECT_EQ(acct.find('\0'), std::string::npos);
  const std::string separator = test::program_text("\n" + std::string(40, '*') + "\n");
  EXPECT_EQ(acct.compare(half.size(), separator.size(), separator), 0);
  EXPECT_LT(acct.size(), half.size() + 64 * 1024);
}

}  // namespace
